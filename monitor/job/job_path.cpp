// StartDocPort, WritePort, ReadPort, EndDocPort, ClosePort and ResetPortJob: one print job
// carried through a port over its HCRP channel pair.
//
// Each operation holds its port's exchange lock for its whole run, across the waits for the
// printer, and never MonitorLock: a printer that grants no credit or does not answer holds up
// only the calls on its own port. The job state of a port (flags, printer, names, status
// record) is used only here and by the port's device-ID query, under that same lock.

#include "job/job_path.h"

#include "common/monitor_handle.h"
#include "hcrp/stack_binding.h"
#include "job/port_status.h"
#include "job/spooler_client.h"
#include "ports/port_record.h"

namespace {

void ReleasePrinterName(PortRecord* record) {
    if (record->printerName != nullptr) {
        GlobalFree(record->printerName);
        record->printerName = nullptr;
    }
}

bool PrinterReady(const PortRecord* record) {
    const PRINTER_INFO_2W* info = record->status.printerInfo;
    return info != nullptr && info->Status == 0;
}

BOOL StartDocFailure(PortRecord* record, DWORD error) {
    ReleasePrinterName(record);
    SetLastError(error);
    return FALSE;
}

} // namespace

PortCall::PortCall(HANDLE hPort) : record_(PinPort(hPort)) {}

PortCall::~PortCall() {
    UnpinPort(record_);
}

bool EnsureConnected(PortRecord* record) {
    HcrpConnection& connection = record->connection;
    if (connection.IsConnected()) {
        return true;
    }
    // Half a pair (the printer closed one channel) would make Connect answer at once without
    // acting, and no write could ever go out: close what is left and connect afresh.
    if (connection.channelFlags != 0) {
        connection.Disconnect();
    }
    return connection.Connect() != 0;
}

void ClosePortPrinter(PortRecord* record) {
    if (record->printer != nullptr) {
        g_spoolerClient.closePrinter(record->printer);
        // A closed handle's value may be handed out again for another printer: forget it.
        // The spooler refuses a null handle as it refuses a closed one (ERROR_INVALID_HANDLE),
        // which is what brings a later status query to re-open the printer.
        record->printer = nullptr;
    }
}

bool BindStack() {
    DWORD error = GetLastError();
    if (g_stackBinding.LoadQORLIB()) {
        return true;
    }
    SetLastError(error);
    return false;
}

void ReleaseStackIfIdle() {
    g_stackBinding.UnloadIfUnused();
}

BOOL WINAPI StartDocPort(HANDLE hPort, LPWSTR pPrinterName, DWORD JobId, DWORD, LPBYTE) {
    PortCall call(hPort);
    PortRecord* record = call.record();
    if (record == nullptr) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    ExchangeLock exchange(record->connection);
    if (record->flags & PORT_DOC_STARTED) {
        return TRUE;
    }
    if (!BindStack()) {
        ReleasePrinterName(record);
        SetLastError(ERROR_OPEN_FAILED);
        return FALSE;
    }
    if (pPrinterName == nullptr) {
        return StartDocFailure(record, ERROR_INVALID_PARAMETER);
    }
    // A handle still held from a start that failed at the status check is closed here,
    // not dropped.
    ClosePortPrinter(record);
    wchar_t* copy = DuplicateWideString(pPrinterName);
    ReleasePrinterName(record);
    record->printerName = copy;
    SavePrinterName(record, pPrinterName);
    if (copy == nullptr) {
        return StartDocFailure(record, ERROR_NOT_ENOUGH_MEMORY);
    }
    if (!g_spoolerClient.openPrinter(record->printerName, &record->printer, nullptr)) {
        record->printer = nullptr;
        return StartDocFailure(record, ERROR_OPEN_FAILED);
    }
    record->jobId = JobId;
    if (record->connection.IsConnected()) {
        // Channels left open without a document: refuse, and give the printer back.
        ClosePortPrinter(record);
        return StartDocFailure(record, ERROR_OPEN_FAILED);
    }
    if (!EnsureConnected(record)) {
        ClosePortPrinter(record);
        return StartDocFailure(record, ERROR_OPEN_FAILED);
    }
    if (!UpdatePortStatus(record)) {
        // 0 for a printer that is not ready; why, when its status could not be had.
        return StartDocFailure(record, GetLastError());
    }
    record->flags |= PORT_DOC_STARTED;
    return TRUE;
}

BOOL WINAPI WritePort(HANDLE hPort, LPBYTE pBuffer, DWORD cbBuf, LPDWORD pcbWritten) {
    DWORD ignored = 0;
    LPDWORD written = pcbWritten != nullptr ? pcbWritten : &ignored;
    *written = 0;
    PortCall call(hPort);
    PortRecord* record = call.record();
    if (record == nullptr) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    if (pBuffer == nullptr && cbBuf != 0) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    ExchangeLock exchange(record->connection);
    if (!BindStack()) {
        return FALSE;
    }
    if (!EnsureConnected(record)) {
        SetLastError(ERROR_OPEN_FAILED);
        return FALSE;
    }
    if (!PrinterReady(record)) {
        UpdatePortStatus(record);
        if (!PrinterReady(record)) {
            return FALSE;
        }
    }
    uint32_t sent = 0;
    BOOL result = record->connection.Write(pBuffer, cbBuf, &sent) ? TRUE : FALSE;
    *written = sent;
    if (result && sent == 0) {
        SetLastError(ERROR_TIMEOUT);
        UpdatePortStatus(record);
        // The status query may leave an error of its own; the caller is told of the time-out.
        SetLastError(ERROR_TIMEOUT);
        result = FALSE;
    }
    return result;
}

BOOL WINAPI ReadPort(HANDLE hPort, LPBYTE pBuffer, DWORD cbBuffer, LPDWORD pcbRead) {
    PortCall call(hPort);
    PortRecord* record = call.record();
    if (record == nullptr) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    if (pcbRead == nullptr || (pBuffer == nullptr && cbBuffer != 0)) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    ExchangeLock exchange(record->connection);
    if (!BindStack()) {
        return FALSE;
    }
    BOOL result = FALSE;
    if (!EnsureConnected(record)) {
        SetLastError(ERROR_OPEN_FAILED);
    } else if (UpdatePortStatus(record)) {
        uint32_t count = 0;
        result = record->connection.Read(pBuffer, cbBuffer, &count) ? TRUE : FALSE;
        *pcbRead = count;
    } else {
        *pcbRead = 0;
    }
    if (record->status.printerHandleError == ERROR_INVALID_HANDLE) {
        DWORD error = GetLastError();
        ResetPortJob(record);
        SetLastError(error);
    }
    return result;
}

BOOL WINAPI EndDocPort(HANDLE hPort) {
    PortCall call(hPort);
    PortRecord* record = call.record();
    if (record == nullptr) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    ExchangeLock exchange(record->connection);
    if (!(record->flags & PORT_DOC_STARTED)) {
        return TRUE;
    }
    if (record->connection.channelFlags == 0) {
        // The printer dropped the link: the job stays until a write or read reconnects.
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    record->connection.Disconnect();
    ClearPortStatus(record);
    g_spoolerClient.setJob(record->printer, record->jobId, 0, nullptr, JOB_CONTROL_SENT_TO_PRINTER);
    ClosePortPrinter(record);
    ReleasePrinterName(record);
    ReleaseStackIfIdle();
    record->flags &= ~PORT_DOC_STARTED;
    return TRUE;
}

BOOL WINAPI ClosePort(HANDLE hPort) {
    PortCall call(hPort);
    PortRecord* record = call.record();
    if (record == nullptr) {
        return TRUE;
    }
    {
        ExchangeLock exchange(record->connection);
        if (g_stackBinding.IsBound()) {
            record->connection.Disconnect();
        }
    }
    // The spooler's hold ends here; a record already off the port list is freed once the
    // last call on it ends.
    MonitorLockGuard lock;
    ReleasePortHandle(record);
    return TRUE;
}

BOOL ResetPortJob(PortRecord* record) {
    if (record == nullptr || record->connection.channelFlags == 0) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    record->connection.Disconnect();
    ClearPortStatus(record);
    ClosePortPrinter(record);
    ReleasePrinterName(record);
    ReleaseStackIfIdle();
    record->flags = 0;
    record->status.printerHandleError = 0;
    return TRUE;
}
