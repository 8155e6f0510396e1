#pragma once
// Port records and Xcv handles, their lists in the MonitorHandle, and the small memory and
// string utilities that the port code shares. None of these functions takes MonitorLock:
// callers hold it around each lookup, creation or removal.

#include <windows.h>
#include <cstdint>

#include "entry/monitor.h"
#include "hcrp/hcrp_connection.h"

constexpr uint32_t PORT_RECORD_SIGNATURE = 0x5450; // "PT"
constexpr uint32_t XCV_HANDLE_SIGNATURE = 0x5843;  // "CX"
constexpr uint32_t PORT_DOC_STARTED = 0x8;
constexpr size_t MAX_PORT_NAME_LENGTH = 247;

struct PortRecord {
    uint32_t signature;
    uint32_t size;
    PortRecord* next;
    wchar_t* name; // points at the name characters stored at the end of this record
    HcrpConnection connection;
    uint32_t flags;
    wchar_t* printerName;
    uint32_t deviceIdSize;
    char* deviceId;
    int32_t deviceIdTime;
    HANDLE deviceIdThread;
    HANDLE printer;
    uint32_t jobId;
    MonitorHandle* monitor;
    // Lifetime: handles the spooler holds from OpenPort and has not yet given back with
    // ClosePort, and whether the record has left the port list for monitor->retiredPorts.
    volatile LONG openCount;
    uint32_t retired;
    wchar_t nameCharacters[1];
};

struct XcvHandle {
    uint32_t signature;
    uint32_t size;
    XcvHandle* next;
    wchar_t* objectName;
    uint32_t grantedAccess;
    MonitorHandle* monitor;
    wchar_t nameCharacters[1];
};

// Global fixed memory, zero-filled; freed with GlobalFree. Null on failure (error set).
void* AllocZeroedMemory(size_t bytes);
wchar_t* DuplicateWideString(const wchar_t* text);
// Widens 8-bit text byte by byte, each byte sign-extended (0xE9 becomes 0xFFE9): existing
// port names depend on it. Returns the number of characters; *out null on failure.
size_t WidenString(const char* text, wchar_t** out);

// "%02x:%02x:%02x:%02x:%02x:%02x.%d": 6 or 7 conversions give TRUE and the six bytes.
BOOL ParsePortAddress(const wchar_t* name, uint8_t out[6]);

PortRecord* CreatePortRecord(MonitorHandle* monitor, const wchar_t* name);
PortRecord* FindPortRecord(PortRecord* first, const wchar_t* name);
BOOL DeletePortRecord(MonitorHandle* monitor, PortRecord* record);
BOOL DeletePortRecordByName(MonitorHandle* monitor, const wchar_t* name);

XcvHandle* CreateXcvHandle(MonitorHandle* monitor, const wchar_t* objectName, uint32_t access);
BOOL DeleteXcvHandle(XcvHandle* handle);

// Lifetime of records that may outlive their place in the port list.
// OpenPort hands a record out: count the spooler's hold on it.
void AcquirePortHandle(PortRecord* record);
// ClosePort gives it back: a retired record no longer held is freed.
void ReleasePortHandle(PortRecord* record);
// Frees the retired records that nothing holds any more (no open handle, no running
// device-ID worker). Called with MonitorLock held.
void ReclaimRetiredPorts(MonitorHandle* monitor);
// Releases everything a record owns and the record itself.
void FreePortRecord(PortRecord* record);

// Enumeration entries (port_info.cpp).
DWORD GetPortInfoSize(PortRecord* record, DWORD level);
LPBYTE PackPortInfo(PortRecord* record, DWORD level, LPBYTE entry, LPBYTE end);
LPBYTE PackStrings(const wchar_t* const* strings, LPBYTE entry, const DWORD* offsets, LPBYTE end);
