#include "entry/reported_operations.h"

#include "entry/monitor.h"
#include "ports/port_record.h"

#include <cstdio>
#include <cwchar>

namespace {

// At most this many characters of a port name or command go into a line.
constexpr int NAME_CHARACTERS = 260;

bool IsAnswerNotFailure(DWORD error) {
    return error == ERROR_INSUFFICIENT_BUFFER || error == ERROR_IO_PENDING;
}

// The line itself; the thread's error is left as the operation set it.
void WriteLine(const char* operation, const char* what, const wchar_t* name, DWORD error) {
    char narrow[NAME_CHARACTERS * 2 + 1] = "";
    if (name != nullptr) {
        int length = static_cast<int>(wcsnlen(name, NAME_CHARACTERS));
        int written = WideCharToMultiByte(CP_ACP, 0, name, length, narrow, sizeof(narrow) - 1,
                                          nullptr, nullptr);
        narrow[written > 0 ? written : 0] = '\0';
    }
    char line[sizeof(narrow) + 128];
    if (what != nullptr) {
        snprintf(line, sizeof(line), "Prnlink: %s of %s \"%s\" failed with error %lu\n", operation,
                 what, narrow, static_cast<unsigned long>(error));
    } else {
        snprintf(line, sizeof(line), "Prnlink: %s failed with error %lu\n", operation,
                 static_cast<unsigned long>(error));
    }
    OutputDebugStringA(line);
    SetLastError(error);
}

// For an operation that took a port by name (or none, for a null name).
BOOL ReportByName(BOOL result, const char* operation, const wchar_t* portName) {
    if (!result) {
        DWORD error = GetLastError();
        if (!IsAnswerNotFailure(error)) {
            WriteLine(operation, portName != nullptr ? "port" : nullptr, portName, error);
        }
    }
    return result;
}

// For an operation on a port handle: the name is read only from a handle that is still a
// port record, and without holding the record past the line.
BOOL ReportByHandle(BOOL result, const char* operation, HANDLE hPort) {
    if (result) {
        return result;
    }
    DWORD error = GetLastError();
    if (IsAnswerNotFailure(error)) {
        return result;
    }
    wchar_t name[NAME_CHARACTERS + 1] = L"";
    PortRecord* record = PinPort(hPort);
    if (record != nullptr) {
        wcsncpy(name, record->name, NAME_CHARACTERS);
        UnpinPort(record);
        WriteLine(operation, "port", name, error);
    } else {
        WriteLine(operation, "port handle", L"(not a port)", error);
    }
    return result;
}

} // namespace

BOOL WINAPI ReportedEnumPorts(HANDLE hMonitor, LPWSTR pName, DWORD Level, LPBYTE pPorts,
                              DWORD cbBuf, LPDWORD pcbNeeded, LPDWORD pcReturned) {
    return ReportByName(EnumPorts(hMonitor, pName, Level, pPorts, cbBuf, pcbNeeded, pcReturned),
                        "EnumPorts", nullptr);
}

BOOL WINAPI ReportedOpenPort(HANDLE hMonitor, LPWSTR pName, PHANDLE pHandle) {
    return ReportByName(OpenPort(hMonitor, pName, pHandle), "OpenPort", pName);
}

BOOL WINAPI ReportedStartDocPort(HANDLE hPort, LPWSTR pPrinterName, DWORD JobId, DWORD Level,
                                 LPBYTE pDocInfo) {
    return ReportByHandle(StartDocPort(hPort, pPrinterName, JobId, Level, pDocInfo), "StartDocPort",
                          hPort);
}

BOOL WINAPI ReportedWritePort(HANDLE hPort, LPBYTE pBuffer, DWORD cbBuf, LPDWORD pcbWritten) {
    return ReportByHandle(WritePort(hPort, pBuffer, cbBuf, pcbWritten), "WritePort", hPort);
}

BOOL WINAPI ReportedReadPort(HANDLE hPort, LPBYTE pBuffer, DWORD cbBuffer, LPDWORD pcbRead) {
    return ReportByHandle(ReadPort(hPort, pBuffer, cbBuffer, pcbRead), "ReadPort", hPort);
}

BOOL WINAPI ReportedEndDocPort(HANDLE hPort) {
    return ReportByHandle(EndDocPort(hPort), "EndDocPort", hPort);
}

BOOL WINAPI ReportedClosePort(HANDLE hPort) {
    // ClosePort answers TRUE for any handle; were it to fail, the port would still be there
    // to be named.
    return ReportByHandle(ClosePort(hPort), "ClosePort", hPort);
}

BOOL WINAPI ReportedAddPortEx(HANDLE hMonitor, LPWSTR pName, DWORD Level, LPBYTE lpBuffer,
                              LPWSTR lpMonitorName) {
    BOOL result = AddPortEx(hMonitor, pName, Level, lpBuffer, lpMonitorName);
    // The name is read only where the level says the buffer is a PORT_INFO_1.
    const bool portInfo = (Level == 1 || Level == 0xFFFFFFFF) && lpBuffer != nullptr;
    return ReportByName(result, "AddPortEx",
                        portInfo ? reinterpret_cast<PORT_INFO_1W*>(lpBuffer)->pName : nullptr);
}

BOOL WINAPI ReportedDeletePort(HANDLE hMonitor, LPWSTR pName, HWND hWnd, LPWSTR pPortName) {
    return ReportByName(DeletePort(hMonitor, pName, hWnd, pPortName), "DeletePort", pPortName);
}

BOOL WINAPI ReportedGetPrinterDataFromPort(HANDLE hPort, DWORD ControlID, LPWSTR pValueName,
                                           LPWSTR lpInBuffer, DWORD cbInBuffer, LPWSTR lpOutBuffer,
                                           DWORD cbOutBuffer, LPDWORD lpcbReturned) {
    return ReportByHandle(GetPrinterDataFromPort(hPort, ControlID, pValueName, lpInBuffer,
                                                 cbInBuffer, lpOutBuffer, cbOutBuffer,
                                                 lpcbReturned),
                          "GetPrinterDataFromPort", hPort);
}

BOOL WINAPI ReportedSetPortTimeOuts(HANDLE hPort, LPCOMMTIMEOUTS lpCTO, DWORD reserved) {
    return ReportByHandle(SetPortTimeOuts(hPort, lpCTO, reserved), "SetPortTimeOuts", hPort);
}

BOOL WINAPI ReportedXcvOpenPort(HANDLE hMonitor, LPCWSTR pszObject, ACCESS_MASK GrantedAccess,
                                PHANDLE phXcv) {
    BOOL result = XcvOpenPort(hMonitor, pszObject, GrantedAccess, phXcv);
    if (!result) {
        DWORD error = GetLastError();
        WriteLine("XcvOpenPort", "object", pszObject != nullptr ? pszObject : L"", error);
    }
    return result;
}

DWORD WINAPI ReportedXcvDataPort(HANDLE hXcv, LPCWSTR pszDataName, PBYTE pInputData,
                                 DWORD cbInputData, PBYTE pOutputData, DWORD cbOutputData,
                                 PDWORD pcbOutputNeeded) {
    const DWORD error = XcvDataPort(hXcv, pszDataName, pInputData, cbInputData, pOutputData,
                                    cbOutputData, pcbOutputNeeded);
    if (error != ERROR_SUCCESS && !IsAnswerNotFailure(error)) {
        // The thread's error is not the command's answer: it stays as the command left it.
        const DWORD threadError = GetLastError();
        WriteLine("XcvDataPort", "command", pszDataName != nullptr ? pszDataName : L"", error);
        SetLastError(threadError);
    }
    return error;
}
