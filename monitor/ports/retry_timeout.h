#pragma once
// The retry time-out setting, in one place: its registry value, its default, its reading and
// its writing.

#include "common/monitor_handle.h"

// The registry value, under the monitor's registry root, holding the retry time-out in
// seconds as REG_SZ text, and its default.
extern const wchar_t RETRY_TIMEOUT_VALUE_NAME[];
constexpr long DEFAULT_RETRY_TIMEOUT_SECONDS = 45;

// Reads "TransmissionRetryTimeout" (seconds) through the MONITORREG functions, writing the
// default 45 when it cannot be read; *timeoutMs = seconds * 1000. Always TRUE.
BOOL ReadRetryTimeout(MonitorHandle* monitor, DWORD* timeoutMs);

// Stores text (UTF-16, size in bytes with its terminator) as "TransmissionRetryTimeout",
// REG_SZ, through the MONITORREG functions. Returns the registry status.
LONG StoreRetryTimeoutText(MonitorHandle* monitor, const wchar_t* text, DWORD size);
