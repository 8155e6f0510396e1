// The commands of the Xcv channel. Their input comes from any caller of XcvDataW: every
// read of it is bounded by the input size, and a name or text is what the input holds up
// to its terminator or its end, whichever comes first.

#include "ports/port_admin.h"
#include "devicedb/device_database.h"
#include "ports/enum_ports.h"
#include "ports/port_record.h"
#include "ports/xcv_input.h"

#include <cstddef>
#include <cstring>
#include <cwchar>

namespace {

constexpr DWORD RETRY_TIMEOUT_BYTES = 4;
constexpr DWORD PORT_EXISTS_BYTES = 4;
constexpr size_t COMMCONFIG_PROVIDER_SUBTYPE_OFFSET = offsetof(COMMCONFIG, dwProviderSubType);

bool HasAdminRight(const XcvHandle* handle) {
    return (handle->grantedAccess & SERVER_ACCESS_ADMINISTER) != 0;
}

// The thread's error after a failed system call; never 0 for a failure.
DWORD FailureCode(DWORD fallback) {
    DWORD code = GetLastError();
    return code != 0 ? code : fallback;
}

// A terminated copy of the name or text at the start of the input, bounded by the input
// size. No input (null, or not one whole character) gives no text and
// ERROR_INVALID_PARAMETER.
class InputText {
  public:
    InputText(const BYTE* input, DWORD size) {
        if (input == nullptr || size < sizeof(wchar_t)) {
            return;
        }
        const size_t length = BoundedTextLength(input, size);
        text_ = static_cast<wchar_t*>(AllocZeroedMemory((length + 1) * sizeof(wchar_t)));
        if (text_ == nullptr) {
            error_ = FailureCode(ERROR_NOT_ENOUGH_MEMORY);
            return;
        }
        CopyBoundedText(input, length, text_);
        error_ = ERROR_SUCCESS;
    }
    ~InputText() {
        if (text_ != nullptr) {
            GlobalFree(text_);
        }
    }
    InputText(const InputText&) = delete;
    InputText& operator=(const InputText&) = delete;
    const wchar_t* get() const { return text_; }
    // ERROR_SUCCESS when there is a text.
    DWORD error() const { return error_; }

  private:
    wchar_t* text_ = nullptr;
    DWORD error_ = ERROR_INVALID_PARAMETER;
};

DWORD MonitorUi(const BYTE*, DWORD, BYTE* output, DWORD outputSize, DWORD* needed, XcvHandle*) {
    *needed = MONITOR_UI_BYTES;
    if (outputSize < MONITOR_UI_BYTES) {
        return ERROR_INSUFFICIENT_BUFFER;
    }
    static const wchar_t uiLibrary[] = L"QUILLDLG.dll";
    static_assert(sizeof(uiLibrary) == MONITOR_UI_BYTES, "12 characters and a terminator");
    memcpy(output, uiLibrary, sizeof(uiLibrary));
    return ERROR_SUCCESS;
}

// The port configuration dialog's OK: the new time-out text (seconds) becomes the setting.
DWORD ConfigurePortCommandOk(const BYTE* input, DWORD inputSize, BYTE*, DWORD, DWORD*,
                             XcvHandle* handle) {
    InputText givenText(input, inputSize);
    const wchar_t* text = givenText.get();
    if (text == nullptr) {
        return givenText.error();
    }
    // The text and its terminator only, whatever follows them in the input.
    DWORD size = static_cast<DWORD>((wcslen(text) + 1) * sizeof(wchar_t));
    return static_cast<DWORD>(StoreRetryTimeoutText(handle->monitor, text, size));
}

DWORD AddPort(const BYTE* input, DWORD inputSize, BYTE*, DWORD, DWORD*, XcvHandle* handle) {
    if (!HasAdminRight(handle)) {
        return ERROR_ACCESS_DENIED;
    }
    InputText givenName(input, inputSize);
    const wchar_t* name = givenName.get();
    if (name == nullptr) {
        return givenName.error();
    }
    if (name[0] == L'\0') {
        return ERROR_INVALID_PARAMETER;
    }
    DWORD error = 0;
    BOOL exists = PortExistsInSpooler(nullptr, name, &error);
    if (error != 0) {
        return error;
    }
    if (exists) {
        SetLastError(ERROR_ALREADY_EXISTS);
        return ERROR_ALREADY_EXISTS;
    }
    MonitorHandle* monitor = handle->monitor;
    PortRecord* record = nullptr;
    {
        MonitorLockGuard lock;
        if (PortNameTaken(monitor, name)) {
            SetLastError(ERROR_ALREADY_EXISTS);
            return ERROR_ALREADY_EXISTS;
        }
        // Zero channel numbers and a zero time-out until OpenPort rebuilds the port from
        // its device record. A name that is a Bluetooth address (as the port dialog sends)
        // gives the port that address, so that it stays while the device database lists
        // its printer; any other name keeps the zero address.
        record = CreatePortRecord(monitor, name);
        if (record == nullptr) {
            return FailureCode(ERROR_NOT_ENOUGH_MEMORY);
        }
        ParsePortAddress(name, record->connection.deviceAddress);
    }
    if (!g_portAdminCalls.writeProfileString(QUILL_PORTS_SECTION, name, L"")) {
        DWORD writeError = FailureCode(ERROR_WRITE_FAULT);
        MonitorLockGuard lock;
        DeletePortRecord(monitor, record);
        return writeError;
    }
    return ERROR_SUCCESS;
}

DWORD DeletePortCommand(const BYTE* input, DWORD inputSize, BYTE*, DWORD, DWORD*,
                        XcvHandle* handle) {
    if (!HasAdminRight(handle)) {
        return ERROR_ACCESS_DENIED;
    }
    InputText givenName(input, inputSize);
    const wchar_t* name = givenName.get();
    if (name == nullptr) {
        return givenName.error();
    }
    // Removes the printer's device record; its outcome does not decide this command's.
    DeletePort(handle->monitor, nullptr, nullptr, const_cast<wchar_t*>(name));
    PortRecord* closing = nullptr;
    bool removed = false;
    {
        MonitorLockGuard lock;
        removed = DeletePortRecordByName(handle->monitor, name, &closing) != FALSE;
        // A port added by name that enumeration has since dropped (it has no device record)
        // is no longer in the list, but its profile entry is still there: it goes too, or
        // every such port would leave one behind for good. The answer is still "not found".
        g_portAdminCalls.writeProfileString(QUILL_PORTS_SECTION, name, nullptr);
    }
    FreeClosingPorts(closing); // a connected port's channels close outside the lock
    return removed ? ERROR_SUCCESS : ERROR_FILE_NOT_FOUND;
}

DWORD PortExists(const BYTE* input, DWORD inputSize, BYTE* output, DWORD outputSize, DWORD* needed,
                 XcvHandle*) {
    *needed = PORT_EXISTS_BYTES;
    if (outputSize < PORT_EXISTS_BYTES) {
        return ERROR_INSUFFICIENT_BUFFER;
    }
    InputText givenName(input, inputSize);
    const wchar_t* name = givenName.get();
    if (name == nullptr) {
        return givenName.error();
    }
    DWORD error = 0;
    BOOL exists = PortExistsInSpooler(nullptr, name, &error);
    if (error == 0) {
        DWORD answer = exists ? 1 : 0;
        memcpy(output, &answer, sizeof(answer));
    }
    return error;
}

DWORD PortIsValid(const BYTE* input, DWORD inputSize, BYTE*, DWORD, DWORD*, XcvHandle* handle) {
    InputText givenName(input, inputSize);
    const wchar_t* name = givenName.get();
    if (name == nullptr) {
        return givenName.error();
    }
    DeviceDatabase database;
    MonitorLockGuard lock;
    PortRecord* record = FindPortRecord(handle->monitor->ports, name);
    if (record == nullptr) {
        return ERROR_FILE_NOT_FOUND;
    }
    char deviceName[DEVICE_NAME_FIELD_SIZE];
    uint16_t thirdValue = 0;
    SetLastError(ERROR_SUCCESS);
    int result = database.FindRecord(record->connection.deviceAddress, deviceName,
                                     &record->connection.controlPsm, &record->connection.dataPsm,
                                     &thirdValue);
    if (result == DEVICE_RECORD_FOUND) {
        return ERROR_SUCCESS;
    }
    if (result == DEVICE_RECORD_NOT_FOUND) {
        return ERROR_FILE_NOT_FOUND;
    }
    return FailureCode(ERROR_OPEN_FAILED);
}

DWORD GetTransmissionRetryTimeout(const BYTE*, DWORD, BYTE* output, DWORD outputSize, DWORD* needed,
                                  XcvHandle* handle) {
    *needed = RETRY_TIMEOUT_BYTES;
    if (outputSize < RETRY_TIMEOUT_BYTES) {
        return ERROR_INSUFFICIENT_BUFFER;
    }
    DWORD timeoutMs = 0;
    ReadRetryTimeout(handle->monitor, &timeoutMs);
    memcpy(output, &timeoutMs, sizeof(timeoutMs));
    return ERROR_SUCCESS;
}

DWORD SetDefaultCommConfigCommand(const BYTE* input, DWORD inputSize, BYTE*, DWORD, DWORD*,
                                  XcvHandle* handle) {
    if (!HasAdminRight(handle)) {
        return ERROR_ACCESS_DENIED;
    }
    uint32_t configSize = 0; // COMMCONFIG.dwSize
    if (!ReadCommConfigSize(input, inputSize, COMMCONFIG_BYTES, &configSize)) {
        return ERROR_INVALID_PARAMETER;
    }
    const wchar_t* objectName = handle->objectName;
    size_t length = wcslen(objectName);
    wchar_t* copy = nullptr;
    const wchar_t* device = objectName;
    if (length > 0 && objectName[length - 1] == L':') {
        copy = DuplicateWideString(objectName);
        if (copy == nullptr) {
            return FailureCode(ERROR_NOT_ENOUGH_MEMORY);
        }
        copy[length - 1] = L'\0';
        device = copy;
    }
    DWORD result = ERROR_SUCCESS;
    if (device[0] == L'\0') {
        result = ERROR_INVALID_PARAMETER; // no device to configure
    } else if (!g_portAdminCalls.setDefaultCommConfig(
                   device, reinterpret_cast<LPCOMMCONFIG>(const_cast<BYTE*>(input)), configSize)) {
        result = FailureCode(ERROR_INVALID_PARAMETER);
    }
    if (copy != nullptr) {
        GlobalFree(copy);
    }
    return result;
}

DWORD GetDefaultCommConfigCommand(const BYTE* input, DWORD inputSize, BYTE* output,
                                  DWORD outputSize, DWORD* needed, XcvHandle*) {
    if (outputSize < COMMCONFIG_BYTES) {
        return ERROR_INSUFFICIENT_BUFFER;
    }
    InputText givenDevice(input, inputSize);
    const wchar_t* device = givenDevice.get();
    if (device == nullptr) {
        return givenDevice.error();
    }
    DWORD subType = PST_RS232;
    memcpy(output + COMMCONFIG_PROVIDER_SUBTYPE_OFFSET, &subType, sizeof(subType));
    *needed = outputSize;
    if (!g_portAdminCalls.getDefaultCommConfig(device, reinterpret_cast<LPCOMMCONFIG>(output),
                                               needed)) {
        return FailureCode(ERROR_INVALID_PARAMETER);
    }
    return ERROR_SUCCESS;
}

} // namespace

const XcvCommand XcvCommandTable[] = {
    {L"MonitorUI", MonitorUi},
    {L"ConfigurePortCommandOK", ConfigurePortCommandOk},
    {L"AddPort", AddPort},
    {L"DeletePort", DeletePortCommand},
    {L"PortExists", PortExists},
    {L"PortIsValid", PortIsValid},
    {L"GetTransmissionRetryTimeout", GetTransmissionRetryTimeout},
    {L"SetDefaultCommConfig", SetDefaultCommConfigCommand},
    {L"GetDefaultCommConfig", GetDefaultCommConfigCommand},
    {nullptr, nullptr},
};

static_assert(sizeof(COMMCONFIG) == COMMCONFIG_BYTES, "COMMCONFIG is 52 bytes");
