#pragma once
// The printer status posted to the spooler: one process-wide record, read and written only
// with MonitorLock held.

#include <windows.h>
#include <winspool.h>
#include <cstdint>

struct PortRecord;

// Room for the printer name given to StartDocPort, terminator included. Large enough for
// every name the spooler accepts; a longer name is not kept at all (see SavePrinterName).
constexpr size_t SAVED_PRINTER_NAME_LENGTH = 260;

struct PortStatusReport {
    PORT_INFO_3W portInfo;        // what SetPortW is given
    PRINTER_INFO_2W* printerInfo; // level-2 record of the printer being printed to, or null
    wchar_t savedPrinterName[SAVED_PRINTER_NAME_LENGTH];
    uint8_t printerHandleError; // ERROR_INVALID_HANDLE once a re-open of the printer began
};

extern PortStatusReport g_portStatusReport;

// Asks the printer for its line status, posts it to the spooler and updates printerInfo.
// TRUE only when the printer reports exactly 0x18. May replace the port's printer handle
// and name (re-open by savedPrinterName) and set printerHandleError.
BOOL UpdatePortStatus(PortRecord* record);

// Clears the spooler's port status (status 0, no text, severity 0) under the port name of
// printerInfo and releases printerInfo. Nothing happens while printerInfo is null.
void ClearPortStatus();

// Keeps the printer name for a later re-open. A name that does not fit with its terminator
// is not kept (the saved name is left empty): re-opening by a cut name could reach another
// printer whose name begins the same way.
void SavePrinterName(const wchar_t* name);
