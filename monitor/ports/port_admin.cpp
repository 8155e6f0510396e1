// The MONITOR2 entries of port administration (AddPortEx, DeletePort, SetPortTimeOuts) and
// the adding of a port by name that AddPortEx and Xcv "AddPort" share.

#include "ports/port_admin.h"
#include "common/last_error.h"
#include "devicedb/device_database.h"
#include "ports/enum_ports.h"
#include "ports/port_record.h"
#include "ports/spooler_ports.h"

#include <cwchar>

const wchar_t* const QUILL_PORTS_SECTION = L"QuillPorts";

constexpr DWORD ADD_PORT_LEVEL_ANY = 0xFFFFFFFF;

namespace {

// Thin wrappers, so that each call goes through the import table when it is made (a host
// that rebinds the library's imports after loading it reaches these calls too).
BOOL WINAPI CallWriteProfileString(LPCWSTR section, LPCWSTR key, LPCWSTR value) {
    return WriteProfileStringW(section, key, value);
}
HMODULE WINAPI CallLoadLibrary(LPCSTR name) {
    return LoadLibraryA(name);
}
FARPROC WINAPI CallGetProcAddress(HMODULE module, LPCSTR name) {
    return GetProcAddress(module, name);
}
BOOL WINAPI CallSetDefaultCommConfig(LPCWSTR device, LPCOMMCONFIG config, DWORD size) {
    return SetDefaultCommConfigW(device, config, size);
}
BOOL WINAPI CallGetDefaultCommConfig(LPCWSTR device, LPCOMMCONFIG config, LPDWORD size) {
    return GetDefaultCommConfigW(device, config, size);
}

} // namespace

PortAdminCalls g_portAdminCalls = {
    CallWriteProfileString,   CallLoadLibrary,          CallGetProcAddress,
    CallSetDefaultCommConfig, CallGetDefaultCommConfig,
};

namespace {} // namespace

DWORD AddPortByName(MonitorHandle* monitor, LPWSTR serverName, const wchar_t* portName,
                    AddPortCaller caller) {
    const bool xcv = caller == AddPortCaller::XcvAddPort;
    const DWORD nameInUse = xcv ? ERROR_ALREADY_EXISTS : ERROR_INVALID_PARAMETER;
    DWORD error = 0;
    BOOL exists = PortExistsInSpooler(xcv ? nullptr : serverName, portName, &error);
    if (error != 0) {
        return error;
    }
    if (exists) {
        SetLastError(nameInUse);
        return nameInUse;
    }
    PortRecord* record = nullptr;
    {
        MonitorLockGuard lock;
        // The spooler was asked without the lock; a port of that name added meanwhile
        // counts as existing too.
        if (PortNameTaken(monitor, portName)) {
            SetLastError(nameInUse);
            return nameInUse;
        }
        record = CreatePortRecord(monitor, portName);
        if (record == nullptr) {
            return LastErrorOr(ERROR_NOT_ENOUGH_MEMORY);
        }
        // Channel numbers stay 0 until OpenPort rebuilds the port from its device record.
        // A name that is a Bluetooth address gives the port that address, so that it stays
        // while the device database lists its printer; AddPortEx takes no other name.
        if (!ParsePortAddress(portName, record->connection.deviceAddress) && !xcv) {
            DeletePortRecord(monitor, record);
            return ERROR_INVALID_NAME;
        }
        if (!xcv) {
            DWORD timeoutMs = 0;
            ReadRetryTimeout(monitor, &timeoutMs);
            record->connection.retryTimeoutMs = timeoutMs;
        }
    }
    if (!g_portAdminCalls.writeProfileString(QUILL_PORTS_SECTION, portName, L"")) {
        DWORD writeError = LastErrorOr(ERROR_WRITE_FAULT);
        MonitorLockGuard lock;
        // Only the record made above; it may already have left the list.
        DeletePortRecord(monitor, record);
        return writeError;
    }
    return ERROR_SUCCESS;
}

BOOL WINAPI AddPortEx(HANDLE hMonitor, LPWSTR pName, DWORD Level, LPBYTE lpBuffer,
                      LPWSTR /*lpMonitorName*/) {
    MonitorHandle* monitor = MonitorFromHandle(hMonitor);
    if (monitor == nullptr) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    if (Level != 1 && Level != ADD_PORT_LEVEL_ANY) {
        SetLastError(ERROR_INVALID_LEVEL);
        return FALSE;
    }
    const wchar_t* portName =
        lpBuffer != nullptr ? reinterpret_cast<PORT_INFO_1W*>(lpBuffer)->pName : nullptr;
    if (portName == nullptr) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    DWORD error = AddPortByName(monitor, pName, portName, AddPortCaller::AddPortEx);
    if (error != ERROR_SUCCESS) {
        SetLastError(error);
        return FALSE;
    }
    return TRUE;
}

BOOL WINAPI DeletePort(HANDLE hMonitor, LPWSTR /*pName*/, HWND /*hWnd*/, LPWSTR pPortName) {
    MonitorHandle* monitor = MonitorFromHandle(hMonitor);
    if (monitor == nullptr) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    DeviceDatabase database;
    MonitorLockGuard lock;
    PortRecord* record = FindPortRecord(monitor->ports, pPortName);
    if (record == nullptr) {
        SetLastError(ERROR_FILE_NOT_FOUND);
        return FALSE;
    }
    // FALSE with 2 when the database has no record of the address, else with the reason.
    return database.DeleteRecord(record->connection.deviceAddress);
}

BOOL WINAPI SetPortTimeOuts(HANDLE hPort, LPCOMMTIMEOUTS lpCTO, DWORD /*reserved*/) {
    PortRecord* record = PinPort(hPort);
    if (record == nullptr) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    MonitorHandle* monitor = record->monitor;
    UnpinPort(record);
    if (lpCTO == nullptr) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    // Stored as given; every reader takes the number as seconds.
    wchar_t text[20] = {};
    swprintf(text, 20, L"%lu", static_cast<unsigned long>(lpCTO->WriteTotalTimeoutConstant));
    DWORD size = static_cast<DWORD>((wcslen(text) + 1) * sizeof(wchar_t));
    LONG status = StoreRetryTimeoutText(monitor, text, size);
    if (status != ERROR_SUCCESS) {
        SetLastError(static_cast<DWORD>(status));
        return FALSE;
    }
    return TRUE;
}
