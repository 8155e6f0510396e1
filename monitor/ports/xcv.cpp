// The Xcv channel: XcvOpenPort, XcvDataPort, XcvClosePort, the command table and one handler
// per command. A command's input comes from any caller of XcvDataW: every read of it is
// bounded by the input size, and a name or text is what the input holds up to its
// terminator or its end, whichever comes first.

#include "ports/xcv.h"
#include "common/last_error.h"
#include "common/memory.h"
#include "ports/port_admin.h"
#include "ports/spooler_ports.h"
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

// A terminated copy of the name or text at the start of the input, bounded by the input
// size, in a work buffer of its own. No input (null, or not one whole character) gives no
// text and ERROR_INVALID_PARAMETER.
class InputText {
  public:
    InputText(const BYTE* input, DWORD size) {
        if (input == nullptr || size < sizeof(wchar_t)) {
            return;
        }
        const size_t length = BoundedTextLength(input, size);
        if (!text_.Allocate((length + 1) * sizeof(wchar_t))) {
            error_ = LastErrorOr(ERROR_NOT_ENOUGH_MEMORY);
            return;
        }
        CopyBoundedText(input, length, text_.as<wchar_t>());
        error_ = ERROR_SUCCESS;
    }
    const wchar_t* get() const { return text_.as<wchar_t>(); }
    // ERROR_SUCCESS when there is a text.
    DWORD error() const { return error_; }

  private:
    WorkMemory text_;
    DWORD error_ = ERROR_INVALID_PARAMETER;
};

DWORD XcvMonitorUi(const BYTE*, DWORD, BYTE* output, DWORD outputSize, DWORD* needed, XcvHandle*) {
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
DWORD XcvConfigurePortCommandOk(const BYTE* input, DWORD inputSize, BYTE*, DWORD, DWORD*,
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

DWORD XcvAddPort(const BYTE* input, DWORD inputSize, BYTE*, DWORD, DWORD*, XcvHandle* handle) {
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
    return AddPortByName(handle->monitor, nullptr, name, AddPortCaller::XcvAddPort);
}

DWORD XcvDeletePort(const BYTE* input, DWORD inputSize, BYTE*, DWORD, DWORD*, XcvHandle* handle) {
    if (!HasAdminRight(handle)) {
        return ERROR_ACCESS_DENIED;
    }
    InputText givenName(input, inputSize);
    const wchar_t* name = givenName.get();
    if (name == nullptr) {
        return givenName.error();
    }
    {
        MonitorLockGuard lock;
        if (!PortNameTaken(handle->monitor, name)) {
            // A port added by name that enumeration has since dropped (it has no device
            // record) is no longer in the list, but its profile entry is still there: it goes
            // too, or every such port would leave one behind for good.
            g_portAdminCalls.writeProfileString(QUILL_PORTS_SECTION, name, nullptr);
            return ERROR_FILE_NOT_FOUND;
        }
    }
    // What can fail goes first, each failure reported with the port still listed: the
    // profile entry (which the monitor never reads), then the printer's device record (none
    // for a port added by name), and only then the port itself.
    if (!g_portAdminCalls.writeProfileString(QUILL_PORTS_SECTION, name, nullptr)) {
        return LastErrorOr(ERROR_WRITE_FAULT);
    }
    if (!DeletePort(handle->monitor, nullptr, nullptr, const_cast<wchar_t*>(name)) &&
        GetLastError() != ERROR_FILE_NOT_FOUND) {
        return LastErrorOr(ERROR_NOT_ENOUGH_MEMORY);
    }
    PortRecord* closing = nullptr;
    bool removed = false;
    {
        MonitorLockGuard lock;
        removed = DeletePortRecordByName(handle->monitor, name, &closing) != FALSE;
    }
    FreeClosingPorts(closing); // a connected port's channels close outside the lock
    return removed ? ERROR_SUCCESS : ERROR_FILE_NOT_FOUND;
}

DWORD XcvPortExists(const BYTE* input, DWORD inputSize, BYTE* output, DWORD outputSize,
                    DWORD* needed, XcvHandle*) {
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

DWORD XcvPortIsValid(const BYTE* input, DWORD inputSize, BYTE*, DWORD, DWORD*, XcvHandle* handle) {
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
    // The look-up stores the PSMs it finds (0 and 0 when none) straight into the port's
    // record, as OpenPort's does: a question that also refreshes the port's channels.
    int result = database.FindRecord(record->connection.deviceAddress, deviceName,
                                     &record->connection.controlPsm, &record->connection.dataPsm,
                                     &thirdValue);
    if (result == DEVICE_RECORD_FOUND) {
        return ERROR_SUCCESS;
    }
    if (result == DEVICE_RECORD_NOT_FOUND) {
        return ERROR_FILE_NOT_FOUND;
    }
    return LastErrorOr(ERROR_OPEN_FAILED);
}

DWORD XcvGetTransmissionRetryTimeout(const BYTE*, DWORD, BYTE* output, DWORD outputSize,
                                     DWORD* needed, XcvHandle* handle) {
    *needed = RETRY_TIMEOUT_BYTES;
    if (outputSize < RETRY_TIMEOUT_BYTES) {
        return ERROR_INSUFFICIENT_BUFFER;
    }
    DWORD timeoutMs = 0;
    ReadRetryTimeout(handle->monitor, &timeoutMs);
    memcpy(output, &timeoutMs, sizeof(timeoutMs));
    return ERROR_SUCCESS;
}

DWORD XcvSetDefaultCommConfig(const BYTE* input, DWORD inputSize, BYTE*, DWORD, DWORD*,
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
            return LastErrorOr(ERROR_NOT_ENOUGH_MEMORY);
        }
        copy[length - 1] = L'\0';
        device = copy;
    }
    DWORD result = ERROR_SUCCESS;
    if (device[0] == L'\0') {
        result = ERROR_INVALID_PARAMETER; // no device to configure
    } else if (!g_portAdminCalls.setDefaultCommConfig(
                   device, reinterpret_cast<LPCOMMCONFIG>(const_cast<BYTE*>(input)), configSize)) {
        result = LastErrorOr(ERROR_INVALID_PARAMETER);
    }
    if (copy != nullptr) {
        GlobalFree(copy);
    }
    return result;
}

DWORD XcvGetDefaultCommConfig(const BYTE* input, DWORD inputSize, BYTE* output, DWORD outputSize,
                              DWORD* needed, XcvHandle*) {
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
        return LastErrorOr(ERROR_INVALID_PARAMETER);
    }
    return ERROR_SUCCESS;
}

} // namespace

const XcvCommand XcvCommandTable[] = {
    {L"MonitorUI", XcvMonitorUi},
    {L"ConfigurePortCommandOK", XcvConfigurePortCommandOk},
    {L"AddPort", XcvAddPort},
    {L"DeletePort", XcvDeletePort},
    {L"PortExists", XcvPortExists},
    {L"PortIsValid", XcvPortIsValid},
    {L"GetTransmissionRetryTimeout", XcvGetTransmissionRetryTimeout},
    {L"SetDefaultCommConfig", XcvSetDefaultCommConfig},
    {L"GetDefaultCommConfig", XcvGetDefaultCommConfig},
    {nullptr, nullptr},
};

static_assert(sizeof(COMMCONFIG) == COMMCONFIG_BYTES, "COMMCONFIG is 52 bytes");

BOOL WINAPI XcvOpenPort(HANDLE hMonitor, LPCWSTR pszObject, ACCESS_MASK GrantedAccess,
                        PHANDLE phXcv) {
    MonitorHandle* monitor = MonitorFromHandle(hMonitor);
    if (monitor == nullptr) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    if (phXcv == nullptr) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    XcvHandle* handle = nullptr;
    {
        MonitorLockGuard lock;
        // A null object name (the spooler opening the monitor itself) is kept as "".
        handle = CreateXcvHandle(monitor, pszObject, GrantedAccess);
    }
    *phXcv = handle;
    return handle != nullptr;
}

DWORD WINAPI XcvDataPort(HANDLE hXcv, LPCWSTR pszDataName, PBYTE pInputData, DWORD cbInputData,
                         PBYTE pOutputData, DWORD cbOutputData, PDWORD pcbOutputNeeded) {
    auto* handle = static_cast<XcvHandle*>(hXcv);
    if (handle == nullptr || handle->signature != XCV_HANDLE_SIGNATURE ||
        handle->monitor == nullptr) {
        return ERROR_INVALID_HANDLE;
    }
    if (pszDataName == nullptr || pcbOutputNeeded == nullptr ||
        (pOutputData == nullptr && cbOutputData != 0)) {
        return ERROR_INVALID_PARAMETER;
    }
    for (const XcvCommand* command = XcvCommandTable; command->name != nullptr; ++command) {
        if (wcscmp(command->name, pszDataName) == 0) {
            return command->handler(pInputData, cbInputData, pOutputData, cbOutputData,
                                    pcbOutputNeeded, handle);
        }
    }
    return ERROR_INVALID_PARAMETER;
}

BOOL WINAPI XcvClosePort(HANDLE hXcv) {
    auto* handle = static_cast<XcvHandle*>(hXcv);
    if (handle != nullptr && handle->signature == XCV_HANDLE_SIGNATURE) {
        MonitorLockGuard lock;
        DeleteXcvHandle(handle);
    }
    return TRUE;
}
