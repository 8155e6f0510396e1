#pragma once
// A MONITORREG table over the 8-bit registry functions, installed into the MONITORINIT on
// every system but Windows 2000 and always by the legacy entry.
//
// Every operation returns the status of its 8-bit registry call unchanged, with these
// statuses of its own for what the 8-bit call never sees:
//   ERROR_INVALID_PARAMETER       a pointer the operation needs is null
//   ERROR_NO_UNICODE_TRANSLATION  a name or REG_SZ text has a character the 8-bit view
//                                 cannot hold (it is refused, never cut short or replaced,
//                                 so that no other key or value is hit)
//   ERROR_NOT_ENOUGH_MEMORY       no work buffer
//   ERROR_MORE_DATA               REG_SZ text that does not fit the caller's buffer once
//                                 widened; the caller's count is left as it was
// Data counts (*pcbData) are in bytes; name counts (*pcchName, *pcbValue) are in
// characters, terminator included, 0 when the widened name does not fit.

#include "entry/monitor.h"

// A fresh zero-filled table from the global heap, never freed; null when memory is short.
MONITORREG* CreateRegistryShim();

// Widens length bytes of ANSI (CP_ACP) text and a terminator into out (capacity
// characters). Returns the characters written, terminator included; 0, with nothing
// written, when they do not fit.
DWORD WidenAnsiText(const char* text, size_t length, wchar_t* out, DWORD capacity);

// The ten operations (hSpooler is ignored).
LONG WINAPI ShimCreateKey(HANDLE hcKey, LPCWSTR pszSubKey, DWORD dwOptions, REGSAM samDesired,
                          PSECURITY_ATTRIBUTES pSecurityAttributes, PHANDLE phckResult,
                          PDWORD pdwDisposition, HANDLE hSpooler);
LONG WINAPI ShimOpenKey(HANDLE hcKey, LPCWSTR pszSubKey, REGSAM samDesired, PHANDLE phkResult,
                        HANDLE hSpooler);
LONG WINAPI ShimCloseKey(HANDLE hcKey, HANDLE hSpooler);
LONG WINAPI ShimDeleteKey(HANDLE hcKey, LPCWSTR pszSubKey, HANDLE hSpooler);
LONG WINAPI ShimEnumKey(HANDLE hcKey, DWORD dwIndex, LPWSTR pszName, PDWORD pcchName,
                        PFILETIME pftLastWriteTime, HANDLE hSpooler);
LONG WINAPI ShimQueryInfoKey(HANDLE hcKey, PDWORD pcSubKeys, PDWORD pcbKey, PDWORD pcValues,
                             PDWORD pcbValue, PDWORD pcbData, PDWORD pcbSecurityDescriptor,
                             PFILETIME pftLastWriteTime, HANDLE hSpooler);
LONG WINAPI ShimSetValue(HANDLE hcKey, LPCWSTR pszValue, DWORD dwType, const BYTE* pData,
                         DWORD cbData, HANDLE hSpooler);
LONG WINAPI ShimDeleteValue(HANDLE hcKey, LPCWSTR pszValue, HANDLE hSpooler);
LONG WINAPI ShimEnumValue(HANDLE hcKey, DWORD dwIndex, LPWSTR pszValue, PDWORD pcbValue,
                          PDWORD pType, PBYTE pData, PDWORD pcbData, HANDLE hSpooler);
LONG WINAPI ShimQueryValue(HANDLE hcKey, LPCWSTR pszValue, PDWORD pType, PBYTE pData,
                           PDWORD pcbData, HANDLE hSpooler);
