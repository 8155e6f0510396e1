#pragma once
// The printer's IEEE 1284 device ID, served from a per-port cache that a worker thread fills.

#include <ctime>
#include <cstdint>

#include "common/monitor_handle.h" // the SDK declarations come first

struct PortRecord;

// The parallel-port control code for the IEEE 1284 device ID (CTL_CODE of
// FILE_DEVICE_PARALLEL_PORT, function 3, METHOD_BUFFERED, FILE_ANY_ACCESS), the one request
// GetPrinterDataFromPort answers. Spelled here once; the SDK keeps it in a driver header.
constexpr DWORD IOCTL_PAR_QUERY_DEVICE_ID = 0x16000C;
constexpr uint32_t DEVICE_ID_INITIAL_SIZE = 263;
constexpr double DEVICE_ID_LIFETIME_SECONDS = 10.0;

// The clock that dates the cache: the C library's time. A test program that links the
// monitor's code may point it at a clock of its own to decide when a cache is stale; the
// shipped library always uses time.
extern time_t (*g_deviceIdClock)(time_t*);

// MONITOR2 operation: IOCTL_PAR_QUERY_DEVICE_ID answered from the cache.
BOOL WINAPI GetPrinterDataFromPort(HANDLE hPort, DWORD ControlID, LPWSTR pValueName,
                                   LPWSTR lpInBuffer, DWORD cbInBuffer, LPWSTR lpOutBuffer,
                                   DWORD cbOutBuffer, LPDWORD lpcbReturned);

// Fetches the device ID over the port's channel pair into the cache. Thread procedure of the
// worker, also run on the caller's thread for a refresh while the channels are open.
DWORD WINAPI DeviceIdWorker(LPVOID parameter);
