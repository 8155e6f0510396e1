#pragma once
// Pieces of the print job path shared with the device-ID query.

#include <windows.h>

struct PortRecord;

// The port record behind a spooler port handle, or null for a handle that is not one.
PortRecord* PortFromHandle(HANDLE hPort);

// Tears down whatever job the port runs (ReadPort's recovery after the printer handle had to
// be replaced): channels, port status, printer, name, stack binding, flags. FALSE with
// ERROR_INVALID_HANDLE when the port is null or no channel is open.
BOOL ResetPortJob(PortRecord* record);

// Releases the Bluetooth stack unless a port still has a channel open: the binding is
// process-wide, and unloading the library under another port's open channels would pull
// it away from a job in progress. Called with MonitorLock held.
void ReleaseStackIfIdle(PortRecord* record);

// Makes sure both channels are open, closing half a pair first. Called with MonitorLock held.
bool EnsureConnected(PortRecord* record);

// Closes the port's printer handle if it holds one and forgets it.
void ClosePortPrinter(PortRecord* record);
