#pragma once
// The entries of the legacy MONITOR table that take 8-bit strings: each widens its strings
// and forwards to the MONITOR2 operation with the process-wide monitor handle.

#include "entry/monitor.h"

BOOL WINAPI LegacyEnumPorts(LPSTR pName, DWORD Level, LPBYTE pPorts, DWORD cbBuf,
                            LPDWORD pcbNeeded, LPDWORD pcReturned);
BOOL WINAPI LegacyOpenPort(LPSTR pName, PHANDLE pHandle);
BOOL WINAPI LegacyStartDocPort(HANDLE hPort, LPSTR pPrinterName, DWORD JobId, DWORD Level,
                               LPBYTE pDocInfo);
BOOL WINAPI LegacyAddPort(LPSTR pName, HWND hWnd, LPSTR pMonitorName);
BOOL WINAPI LegacyConfigurePort(LPSTR pName, HWND hWnd, LPSTR pPortName);
BOOL WINAPI LegacyDeletePort(LPSTR pName, HWND hWnd, LPSTR pPortName);
BOOL WINAPI LegacyGetPrinterDataFromPort(HANDLE hPort, DWORD ControlID, LPSTR pValueName,
                                         LPSTR lpInBuffer, DWORD cbInBuffer, LPSTR lpOutBuffer,
                                         DWORD cbOutBuffer, LPDWORD lpcbReturned);
// The refusal behind the legacy AddPort: ports are not added through the spooler.
BOOL AddPortRefusal(HANDLE hMonitor, const wchar_t* name, HWND hWnd, const wchar_t* monitorName);
