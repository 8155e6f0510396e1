#pragma once
// The MONITOR2 operations as the spooler calls them: each one runs the operation and, when
// it fails, leaves one debug line naming the operation, the port and the error code, so that
// an administrator watching the debug output sees why a printer stopped. The lines that
// the operations write themselves stay as they are.
//
// Two answers are not failures and leave no line: ERROR_INSUFFICIENT_BUFFER, the answer to
// the spooler's size queries, and ERROR_IO_PENDING, the answer to a device-ID request still
// on its way.

#include "common/monitor_handle.h"

BOOL WINAPI ReportedEnumPorts(HANDLE hMonitor, LPWSTR pName, DWORD Level, LPBYTE pPorts,
                              DWORD cbBuf, LPDWORD pcbNeeded, LPDWORD pcReturned);
BOOL WINAPI ReportedOpenPort(HANDLE hMonitor, LPWSTR pName, PHANDLE pHandle);
BOOL WINAPI ReportedStartDocPort(HANDLE hPort, LPWSTR pPrinterName, DWORD JobId, DWORD Level,
                                 LPBYTE pDocInfo);
BOOL WINAPI ReportedWritePort(HANDLE hPort, LPBYTE pBuffer, DWORD cbBuf, LPDWORD pcbWritten);
BOOL WINAPI ReportedReadPort(HANDLE hPort, LPBYTE pBuffer, DWORD cbBuffer, LPDWORD pcbRead);
BOOL WINAPI ReportedEndDocPort(HANDLE hPort);
BOOL WINAPI ReportedClosePort(HANDLE hPort);
BOOL WINAPI ReportedAddPortEx(HANDLE hMonitor, LPWSTR pName, DWORD Level, LPBYTE lpBuffer,
                              LPWSTR lpMonitorName);
BOOL WINAPI ReportedDeletePort(HANDLE hMonitor, LPWSTR pName, HWND hWnd, LPWSTR pPortName);
BOOL WINAPI ReportedGetPrinterDataFromPort(HANDLE hPort, DWORD ControlID, LPWSTR pValueName,
                                           LPWSTR lpInBuffer, DWORD cbInBuffer, LPWSTR lpOutBuffer,
                                           DWORD cbOutBuffer, LPDWORD lpcbReturned);
BOOL WINAPI ReportedSetPortTimeOuts(HANDLE hPort, LPCOMMTIMEOUTS lpCTO, DWORD reserved);
BOOL WINAPI ReportedXcvOpenPort(HANDLE hMonitor, LPCWSTR pszObject, ACCESS_MASK GrantedAccess,
                                PHANDLE phXcv);
DWORD WINAPI ReportedXcvDataPort(HANDLE hXcv, LPCWSTR pszDataName, PBYTE pInputData,
                                 DWORD cbInputData, PBYTE pOutputData, DWORD cbOutputData,
                                 PDWORD pcbOutputNeeded);
