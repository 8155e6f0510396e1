#pragma once
// Port enumeration and opening, and the naming of ports after their device records.

#include "common/monitor_handle.h"
#include "ports/retry_timeout.h"

// MONITOR2 operations.
BOOL WINAPI EnumPorts(HANDLE hMonitor, LPWSTR pName, DWORD Level, LPBYTE pPorts, DWORD cbBuf,
                      LPDWORD pcbNeeded, LPDWORD pcReturned);
BOOL WINAPI OpenPort(HANDLE hMonitor, LPWSTR pName, PHANDLE pHandle);

// The port name of a device record's name text: the text widened as WidenString does, with
// every comma replaced by a space (commas separate ports in the spooler's port lists).
// Enumeration and OpenPort's rebuild both name ports this way. *out is null when out of
// memory; returns the length in characters.
size_t MakePortName(const char* deviceName, wchar_t** out);
