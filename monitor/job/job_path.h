#pragma once
// Pieces of the print job path shared with the device-ID query.

#include "common/monitor_handle.h" // the SDK declarations come first

struct PortRecord;

// MONITOR2 operations.
BOOL WINAPI StartDocPort(HANDLE hPort, LPWSTR pPrinterName, DWORD JobId, DWORD Level,
                         LPBYTE pDocInfo);
BOOL WINAPI WritePort(HANDLE hPort, LPBYTE pBuffer, DWORD cbBuf, LPDWORD pcbWritten);
BOOL WINAPI ReadPort(HANDLE hPort, LPBYTE pBuffer, DWORD cbBuffer, LPDWORD pcbRead);
BOOL WINAPI EndDocPort(HANDLE hPort);
BOOL WINAPI ClosePort(HANDLE hPort);

// One call of the spooler (or of a device-ID query) on a port handle: the record behind the
// handle, pinned for the length of the call so that no removal frees it meanwhile. Null when
// the handle is no port record of this monitor (never one, or already freed).
class PortCall {
  public:
    explicit PortCall(HANDLE hPort);
    ~PortCall();
    PortCall(const PortCall&) = delete;
    PortCall& operator=(const PortCall&) = delete;
    PortRecord* record() const { return record_; }

  private:
    PortRecord* record_;
};

// Tears down whatever job the port runs (ReadPort's recovery after the printer handle had to
// be replaced): channels, port status, printer, name, stack binding, flags. FALSE with
// ERROR_INVALID_HANDLE when the port is null or no channel is open. Called with the port's
// exchange lock held.
BOOL ResetPortJob(PortRecord* record);

// The job layer's one way to the Bluetooth stack: BindStack before a job or a device-ID
// query (false when the stack cannot be bound; the caller's last error is left as it was,
// since the binding's own registry and process lookups leave codes that say nothing to the
// spooler), ReleaseStackIfIdle after one. The binding is process-wide: the library goes only
// when no connection holds it, since unloading it under another port's open channels would
// pull it away from a job in progress.
bool BindStack();
void ReleaseStackIfIdle();

// Makes sure both channels are open, closing half a pair first. Called with the port's
// exchange lock held.
bool EnsureConnected(PortRecord* record);

// Closes the port's printer handle if it holds one and forgets it.
void ClosePortPrinter(PortRecord* record);
