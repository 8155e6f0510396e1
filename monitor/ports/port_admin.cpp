// The MONITOR2 entries of port administration (AddPortEx, DeletePort, SetPortTimeOuts) and
// the Xcv channel (XcvOpenPort, XcvDataPort, XcvClosePort).

#include "ports/port_admin.h"
#include "devicedb/device_database.h"
#include "ports/enum_ports.h"
#include "ports/port_record.h"

#include <cwchar>

const wchar_t* const QUILL_PORTS_SECTION = L"QuillPorts";

constexpr DWORD ADD_PORT_LEVEL_ANY = 0xFFFFFFFF;

BOOL WINAPI AddPortEx(HANDLE hMonitor, LPWSTR pName, DWORD Level, LPBYTE lpBuffer,
                      LPWSTR /*lpMonitorName*/) {
    auto* monitor = static_cast<MonitorHandle*>(hMonitor);
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
    DWORD error = 0;
    BOOL exists = PortExistsInSpooler(pName, portName, &error);
    if (error != 0) {
        SetLastError(error);
        return FALSE;
    }
    if (exists) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    PortRecord* record = nullptr;
    {
        MonitorLockGuard lock;
        // The spooler was asked without the lock; a port of that name added meanwhile
        // counts as existing too.
        if (PortNameTaken(monitor, portName)) {
            SetLastError(ERROR_INVALID_PARAMETER);
            return FALSE;
        }
        record = CreatePortRecord(monitor, portName);
        if (record == nullptr) {
            return FALSE;
        }
        if (!ParsePortAddress(portName, record->connection.deviceAddress)) {
            DeletePortRecord(monitor, record);
            SetLastError(ERROR_INVALID_NAME);
            return FALSE;
        }
        record->connection.controlPsm = 0;
        record->connection.dataPsm = 0;
        DWORD timeoutMs = 0;
        ReadRetryTimeout(monitor, &timeoutMs);
        record->connection.retryTimeoutMs = timeoutMs;
    }
    if (!g_portAdminCalls.writeProfileString(QUILL_PORTS_SECTION, portName, L"")) {
        DWORD writeError = GetLastError();
        {
            MonitorLockGuard lock;
            // Only the record made above; it may already have left the list.
            DeletePortRecord(monitor, record);
        }
        SetLastError(writeError != 0 ? writeError : ERROR_WRITE_FAULT);
        return FALSE;
    }
    return TRUE;
}

BOOL WINAPI DeletePort(HANDLE hMonitor, LPWSTR /*pName*/, HWND /*hWnd*/, LPWSTR pPortName) {
    auto* monitor = static_cast<MonitorHandle*>(hMonitor);
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
    if (!database.DeleteRecord(record->connection.deviceAddress)) {
        SetLastError(ERROR_FILE_NOT_FOUND);
        return FALSE;
    }
    return TRUE;
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

BOOL WINAPI XcvOpenPort(HANDLE hMonitor, LPCWSTR pszObject, ACCESS_MASK GrantedAccess,
                        PHANDLE phXcv) {
    auto* monitor = static_cast<MonitorHandle*>(hMonitor);
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
    if (handle == nullptr || handle->monitor == nullptr) {
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
    if (handle != nullptr) {
        MonitorLockGuard lock;
        DeleteXcvHandle(handle);
    }
    return TRUE;
}
