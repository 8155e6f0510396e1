#pragma once
// Port administration: AddPortEx, DeletePort, SetPortTimeOuts, the Xcv channel with its
// command table, the "QuillPorts" profile section, the writers of the retry time-out and
// the spooler's own port list.

#include "common/monitor_handle.h"
#include "ports/retry_timeout.h"

struct XcvHandle;

// MONITOR2 operations.
BOOL WINAPI AddPortEx(HANDLE hMonitor, LPWSTR pName, DWORD Level, LPBYTE lpBuffer,
                      LPWSTR lpMonitorName);
BOOL WINAPI DeletePort(HANDLE hMonitor, LPWSTR pName, HWND hWnd, LPWSTR pPortName);
BOOL WINAPI SetPortTimeOuts(HANDLE hPort, LPCOMMTIMEOUTS lpCTO, DWORD reserved);
BOOL WINAPI XcvOpenPort(HANDLE hMonitor, LPCWSTR pszObject, ACCESS_MASK GrantedAccess,
                        PHANDLE phXcv);
DWORD WINAPI XcvDataPort(HANDLE hXcv, LPCWSTR pszDataName, PBYTE pInputData, DWORD cbInputData,
                         PBYTE pOutputData, DWORD cbOutputData, PDWORD pcbOutputNeeded);
BOOL WINAPI XcvClosePort(HANDLE hXcv);

// The calls that port administration makes out of the monitor, in one place so that a
// test can see or refuse them. Every member defaults to the system's function.
struct PortAdminCalls {
    BOOL(WINAPI* writeProfileString)(LPCWSTR section, LPCWSTR key, LPCWSTR value);
    HMODULE(WINAPI* loadLibrary)(LPCSTR name);
    FARPROC(WINAPI* getProcAddress)(HMODULE module, LPCSTR name);
    BOOL(WINAPI* setDefaultCommConfig)(LPCWSTR device, LPCOMMCONFIG config, DWORD size);
    BOOL(WINAPI* getDefaultCommConfig)(LPCWSTR device, LPCOMMCONFIG config, LPDWORD size);
};
extern PortAdminCalls g_portAdminCalls;

typedef BOOL(WINAPI* EnumPortsWFunction)(LPWSTR, DWORD, LPBYTE, DWORD, LPDWORD, LPDWORD);

// "SPOOLSS.DLL" and its "EnumPortsW", looked up at first use and kept for the life of the
// process (never released).
struct SpoolerPortList {
    HMODULE module;
    EnumPortsWFunction enumPorts;
};
extern SpoolerPortList g_spoolerPortList;

// Asks the spooler whether a port of that name (any letter case) exists. TRUE unless the
// spooler says otherwise; *error is 0, or the error of loading the spooler library.
// The spooler enumerates every monitor's ports, this one's included: never call this with
// MonitorLock held.
BOOL PortExistsInSpooler(LPWSTR serverName, LPCWSTR portName, DWORD* error);

// The "QuillPorts" profile section: one entry per port added by name.
extern const wchar_t* const QUILL_PORTS_SECTION;
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
