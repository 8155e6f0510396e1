#include "win32_error_names.h"

namespace prnlink {

const char* Win32ErrorName(uint32_t code) {
    static const struct {
        uint32_t code;
        const char* name;
    } kNames[] = {
        {0, "ERROR_SUCCESS"},
        {1, "ERROR_INVALID_FUNCTION"},
        {2, "ERROR_FILE_NOT_FOUND"},
        {3, "ERROR_PATH_NOT_FOUND"},
        {4, "ERROR_TOO_MANY_OPEN_FILES"},
        {5, "ERROR_ACCESS_DENIED"},
        {6, "ERROR_INVALID_HANDLE"},
        {8, "ERROR_NOT_ENOUGH_MEMORY"},
        {13, "ERROR_INVALID_DATA"},
        {14, "ERROR_OUTOFMEMORY"},
        {21, "ERROR_NOT_READY"},
        {28, "ERROR_OUT_OF_PAPER"},
        {29, "ERROR_WRITE_FAULT"},
        {30, "ERROR_READ_FAULT"},
        {31, "ERROR_GEN_FAILURE"},
        {32, "ERROR_SHARING_VIOLATION"},
        {50, "ERROR_NOT_SUPPORTED"},
        {87, "ERROR_INVALID_PARAMETER"},
        {110, "ERROR_OPEN_FAILED"},
        {120, "ERROR_CALL_NOT_IMPLEMENTED"},
        {122, "ERROR_INSUFFICIENT_BUFFER"},
        {123, "ERROR_INVALID_NAME"},
        {124, "ERROR_INVALID_LEVEL"},
        {126, "ERROR_MOD_NOT_FOUND"},
        {127, "ERROR_PROC_NOT_FOUND"},
        {183, "ERROR_ALREADY_EXISTS"},
        {234, "ERROR_MORE_DATA"},
        {259, "ERROR_NO_MORE_ITEMS"},
        {995, "ERROR_OPERATION_ABORTED"},
        {997, "ERROR_IO_PENDING"},
        {1167, "ERROR_DEVICE_NOT_CONNECTED"},
        {1460, "ERROR_TIMEOUT"},
        {1796, "ERROR_UNKNOWN_PORT"},
        {1801, "ERROR_INVALID_PRINTER_NAME"},
    };
    for (const auto& entry : kNames) {
        if (entry.code == code) {
            return entry.name;
        }
    }
    return nullptr;
}

std::string DescribeWin32Error(uint32_t code) {
    if (code == 0) {
        return "no error code (0)";
    }
    const char* name = Win32ErrorName(code);
    if (name == nullptr) {
        return "error " + std::to_string(code);
    }
    return std::string(name) + " (" + std::to_string(code) + ")";
}

} // namespace prnlink
