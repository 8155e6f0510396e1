#pragma once
// Port records and Xcv handles and their lists in the MonitorHandle. Apart from PinPort and
// UnpinPort, none of these functions takes MonitorLock: callers hold it around each lookup,
// creation or removal.

#include <windows.h>
#include <winspool.h>
#include <cstdint>

#include "common/memory.h"
#include "common/monitor_handle.h"
#include "hcrp/hcrp_connection.h"

constexpr uint32_t PORT_RECORD_SIGNATURE = 0x5450; // "PT"
constexpr uint32_t XCV_HANDLE_SIGNATURE = 0x5843;  // "CX"
constexpr uint32_t PORT_DOC_STARTED = 0x8;
constexpr size_t MAX_PORT_NAME_LENGTH = 247;

// Room for the printer name given to StartDocPort, terminator included. Large enough for
// every name the spooler accepts; a longer name is not kept at all (job/port_status.h).
constexpr size_t SAVED_PRINTER_NAME_LENGTH = 260;

// The printer status a port posts to the spooler (job/port_status.cpp). Each port has its
// own, so that a port's line status is posted under its own port name and a recovery of one
// port's printer handle tears down only that port's job.
struct PortStatusReport {
    PORT_INFO_3W portInfo;        // what SetPortW is given
    PRINTER_INFO_2W* printerInfo; // level-2 record of the printer being printed to, or null
    wchar_t savedPrinterName[SAVED_PRINTER_NAME_LENGTH];
    uint8_t printerHandleError; // ERROR_INVALID_HANDLE once a re-open of the printer began
};

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
    // Calls of the spooler or a device-ID query in progress on the record (PinPort), which
    // keep it from being freed as an open handle does. Changed with MonitorLock held.
    LONG callCount;
    // Job state (flags, printerName, printer, jobId) and this are used by the port's job
    // operations only, with connection.exchangeLock held.
    PortStatusReport status;
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

// "%02x:%02x:%02x:%02x:%02x:%02x.%d": 6 or 7 conversions give TRUE and the six bytes.
BOOL ParsePortAddress(const wchar_t* name, uint8_t out[6]);

PortRecord* CreatePortRecord(MonitorHandle* monitor, const wchar_t* name);
// The same, appended after `last`, the list's last record (null for an empty list): a caller
// that adds many records keeps the last one instead of walking the list for each.
PortRecord* CreatePortRecordAfter(MonitorHandle* monitor, PortRecord* last, const wchar_t* name);
PortRecord* FindPortRecord(PortRecord* first, const wchar_t* name);
// Whether a listed port has this name in any letter case: a new port may not take it.
bool PortNameTaken(MonitorHandle* monitor, const wchar_t* name);
// Take a record off the port list (by name: the first in any letter case). A record that
// nothing holds is freed, unless `closing` is given and its channels are open: closing them
// calls into the Bluetooth library, which MonitorLock is never held across, so such a
// record goes on *closing instead, for FreeClosingPorts once the caller released the lock.
BOOL DeletePortRecord(MonitorHandle* monitor, PortRecord* record, PortRecord** closing = nullptr);
BOOL DeletePortRecordByName(MonitorHandle* monitor, const wchar_t* name,
                            PortRecord** closing = nullptr);
// Frees the records DeletePortRecord put on a closing list, closing their channels.
// Called without MonitorLock.
void FreeClosingPorts(PortRecord* closing);

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
// At Shutdown: waits for every device-ID worker still running, then frees every record of
// both lists, and every Xcv handle the spooler left open.
void FreeAllPortRecords(MonitorHandle* monitor);
void FreeAllXcvHandles(MonitorHandle* monitor);

// The record behind a port handle, if the handle is a record on the port list or the
// retired list of a monitor not yet shut down (a handle that was never one, or whose record
// was freed, is refused without being read), pinned so that it is not freed until UnpinPort.
// Null when it is not. Both take MonitorLock; neither waits for anything else.
PortRecord* PinPort(HANDLE handle);
void UnpinPort(PortRecord* record);

// Enumeration entries (port_info.cpp).
DWORD GetPortInfoSize(PortRecord* record, DWORD level);
LPBYTE PackPortInfo(PortRecord* record, DWORD level, LPBYTE entry, LPBYTE end);
LPBYTE PackStrings(const wchar_t* const* strings, LPBYTE entry, const DWORD* offsets, LPBYTE end);
