#pragma once
// The printer's IEEE 1284 device ID, served from a per-port cache that a worker thread fills.

#include <windows.h>
#include <ctime>
#include <cstdint>

struct PortRecord;

constexpr DWORD IOCTL_QUERY_DEVICE_ID = 0x16000C; // IOCTL_PAR_QUERY_DEVICE_ID
constexpr uint32_t DEVICE_ID_INITIAL_SIZE = 263;
constexpr double DEVICE_ID_LIFETIME_SECONDS = 10.0;

// The clock that dates the cache: the C library's time. A test program that links the
// monitor's code may point it at a clock of its own to decide when a cache is stale; the
// shipped library always uses time.
extern time_t (*g_deviceIdClock)(time_t*);

// Fetches the device ID over the port's channel pair into the cache. Thread procedure of the
// worker, also run on the caller's thread for a refresh while the channels are open.
DWORD WINAPI DeviceIdWorker(LPVOID parameter);
