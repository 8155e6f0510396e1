#pragma once
// Port enumeration and opening, and the retry time-out setting.

#include "entry/monitor.h"

// Reads "TransmissionRetryTimeout" (seconds) through the MONITORREG functions, writing the
// default 45 when it cannot be read; *timeoutMs = seconds * 1000. Always TRUE.
BOOL ReadRetryTimeout(MonitorHandle* monitor, DWORD* timeoutMs);
