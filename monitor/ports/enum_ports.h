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

// The port name of a device record's name text: the text widened as WidenString does, with
// every comma replaced by a space (commas separate ports in the spooler's port lists).
// Enumeration and OpenPort's rebuild both name ports this way. *out is null when out of
// memory; returns the length in characters.
size_t MakePortName(const char* deviceName, wchar_t** out);
