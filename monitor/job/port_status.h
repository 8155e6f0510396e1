#pragma once
// The printer status a port posts to the spooler. Each port keeps its own PortStatusReport
// (PortRecord::status), used only by that port's job operations with its exchange lock held.

#include <windows.h>

struct PortRecord;

// Asks the printer for its line status, posts it to the spooler and updates the port's
// printerInfo. TRUE only when the printer reports exactly 0x18. FALSE with the thread's
// error 0 when the printer answered that it is not ready, and with a nonzero error when the
// status could not be had (the failed call's, else 110 without printer information or an
// open control channel, 1460 without an answer). May replace the port's printer handle and
// name (re-open by its savedPrinterName) and set its printerHandleError.
BOOL UpdatePortStatus(PortRecord* record);

// Clears the spooler's port status (status 0, no text, severity 0) under the port name of the
// port's printerInfo and releases printerInfo. Nothing happens while printerInfo is null.
void ClearPortStatus(PortRecord* record);

// Keeps the printer name for a later re-open. A name that does not fit with its terminator
// is not kept (the saved name is left empty): re-opening by a cut name could reach another
// printer whose name begins the same way.
void SavePrinterName(PortRecord* record, const wchar_t* name);
