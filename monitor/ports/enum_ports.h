#pragma once
// Port enumeration and opening, and the retry time-out setting.

#include "common/monitor_handle.h"

// MONITOR2 operations.
BOOL WINAPI EnumPorts(HANDLE hMonitor, LPWSTR pName, DWORD Level, LPBYTE pPorts, DWORD cbBuf,
                      LPDWORD pcbNeeded, LPDWORD pcReturned);
BOOL WINAPI OpenPort(HANDLE hMonitor, LPWSTR pName, PHANDLE pHandle);

// The registry value, under the monitor's registry root, holding the retry time-out in
// seconds as REG_SZ text, and its default.
extern const wchar_t RETRY_TIMEOUT_VALUE_NAME[];
constexpr long DEFAULT_RETRY_TIMEOUT_SECONDS = 45;

// Reads "TransmissionRetryTimeout" (seconds) through the MONITORREG functions, writing the
// default 45 when it cannot be read; *timeoutMs = seconds * 1000. Always TRUE.
BOOL ReadRetryTimeout(MonitorHandle* monitor, DWORD* timeoutMs);
