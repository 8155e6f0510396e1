#pragma once
// The entries of the legacy MONITOR table that take 8-bit strings: each widens its strings
// and forwards, through the MONITOR2 table, to the operation behind the matching slot, with
// the process-wide monitor handle where the operation takes one.
//
// Strings are widened byte for byte into fixed buffers (250 characters with the terminator
// for names and printer names, 262 for AddPort and DeletePort). A string that does not fit
// is refused with ERROR_INVALID_NAME rather than cut short, so that a truncated name can
// never select a different port. A null string stays null.

#include "entry/monitor.h"

constexpr size_t LEGACY_NAME_CHARACTERS = 250;
constexpr size_t LEGACY_PORT_NAME_CHARACTERS = 262;

BOOL WINAPI LegacyEnumPorts(LPSTR pName, DWORD Level, LPBYTE pPorts, DWORD cbBuf, LPDWORD pcbNeeded,
                            LPDWORD pcReturned);
BOOL WINAPI LegacyOpenPort(LPSTR pName, PHANDLE pHandle);
BOOL WINAPI LegacyStartDocPort(HANDLE hPort, LPSTR pPrinterName, DWORD JobId, DWORD Level,
                               LPBYTE pDocInfo);
BOOL WINAPI LegacyAddPort(LPSTR pName, HWND hWnd, LPSTR pMonitorName);
BOOL WINAPI LegacyConfigurePort(LPSTR pName, HWND hWnd, LPSTR pPortName);
BOOL WINAPI LegacyDeletePort(LPSTR pName, HWND hWnd, LPSTR pPortName);
BOOL WINAPI LegacyGetPrinterDataFromPort(HANDLE hPort, DWORD ControlID, LPSTR pValueName,
                                         LPSTR lpInBuffer, DWORD cbInBuffer, LPSTR lpOutBuffer,
                                         DWORD cbOutBuffer, LPDWORD lpcbReturned);
// The refusal behind the legacy AddPort: ports are not added through the spooler. Shows
// the message and returns FALSE with the thread's error code as it was.
BOOL AddPortRefusal(HANDLE hMonitor, const wchar_t* name, HWND hWnd, const wchar_t* monitorName);

// The user-interface call the adapters make, replaceable by tests.
struct LegacyAdapterCalls {
    int(WINAPI* messageBoxA)(HWND owner, LPCSTR text, LPCSTR caption, UINT type);
};
extern LegacyAdapterCalls g_legacyAdapterCalls;

extern const char ADD_PORT_REFUSAL_CAPTION[];
extern const char ADD_PORT_REFUSAL_TEXT[];
