#pragma once
// The configuration-and-data channel (Xcv) in one place: opening and closing it, its
// command table, and one handler per command, named after the command.

#include "common/monitor_handle.h"

struct XcvHandle;

// MONITOR2 operations.
BOOL WINAPI XcvOpenPort(HANDLE hMonitor, LPCWSTR pszObject, ACCESS_MASK GrantedAccess,
                        PHANDLE phXcv);
DWORD WINAPI XcvDataPort(HANDLE hXcv, LPCWSTR pszDataName, PBYTE pInputData, DWORD cbInputData,
                         PBYTE pOutputData, DWORD cbOutputData, PDWORD pcbOutputNeeded);
BOOL WINAPI XcvClosePort(HANDLE hXcv);

// One command of the Xcv channel: (input, input size, output, output size, out: bytes
// needed, handle) -> Win32 error code.
typedef DWORD (*XcvCommandHandler)(const BYTE* input, DWORD inputSize, BYTE* output,
                                   DWORD outputSize, DWORD* needed, XcvHandle* handle);
struct XcvCommand {
    const wchar_t* name;
    XcvCommandHandler handler;
};
// Ended by a row whose name is null.
extern const XcvCommand XcvCommandTable[];

constexpr DWORD MONITOR_UI_BYTES = 26; // "QUILLDLG.dll" and its terminator
constexpr DWORD COMMCONFIG_BYTES = 52;
