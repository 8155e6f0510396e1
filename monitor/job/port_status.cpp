// UpdatePortStatus: line status from the printer, port status to the spooler, printer
// record kept for the rest of the document, and recovery of a printer handle that the
// spooler no longer accepts.

#include "job/port_status.h"
#include "common/last_error.h"

#include <cwchar>
#include <cstring>

#include "job/spooler_client.h"
#include "job/status_map.h"
#include "ports/port_record.h"

namespace {

wchar_t kNotPoweredOn[] = L"Not Powered On";

// Re-opens the printer by the saved name after the spooler refused the port's handle.
// FALSE when the printer cannot be had.
BOOL ReopenPrinter(PortRecord* record) {
    PortStatusReport& report = record->status;
    // The old handle is no longer valid: it is dropped, not closed.
    record->printer = nullptr;
    wchar_t* copy = DuplicateWideString(report.savedPrinterName);
    if (record->printerName != nullptr) {
        GlobalFree(record->printerName);
    }
    record->printerName = copy;
    report.printerHandleError = ERROR_INVALID_HANDLE;
    if (copy == nullptr) {
        return FALSE;
    }
    // An empty name would open the print server instead of a printer.
    if (copy[0] == L'\0' || !g_spoolerClient.openPrinter(copy, &record->printer, nullptr)) {
        record->printer = nullptr;
        report.printerInfo = nullptr;
        report.printerHandleError = 0;
        return FALSE;
    }
    return TRUE;
}

BOOL FetchPrinterInfo(PortRecord* record) {
    PortStatusReport& report = record->status;
    DWORD needed = 0;
    if (g_spoolerClient.getPrinter(record->printer, 2, nullptr, 0, &needed)) {
        return FALSE;
    }
    DWORD error = GetLastError();
    if (error == ERROR_INVALID_HANDLE) {
        if (!ReopenPrinter(record)) {
            return FALSE;
        }
        needed = 0;
        if (g_spoolerClient.getPrinter(record->printer, 2, nullptr, 0, &needed)) {
            return FALSE;
        }
        error = GetLastError();
    }
    if (error != ERROR_INSUFFICIENT_BUFFER || needed < sizeof(PRINTER_INFO_2W)) {
        return FALSE;
    }
    auto* info = static_cast<PRINTER_INFO_2W*>(AllocZeroedMemory(needed));
    if (info == nullptr) {
        return FALSE;
    }
    if (!g_spoolerClient.getPrinter(record->printer, 2, reinterpret_cast<LPBYTE>(info), needed,
                                    &needed)) {
        GlobalFree(info);
        return FALSE;
    }
    report.printerInfo = info;
    return TRUE;
}

void PostPortStatus(PortStatusReport& report) {
    g_spoolerClient.setPort(nullptr, report.printerInfo->pPortName, 3,
                            reinterpret_cast<LPBYTE>(&report.portInfo));
    // The text is ours only for the length of the call.
    report.portInfo.pszStatus = nullptr;
}

} // namespace

BOOL UpdatePortStatus(PortRecord* record) {
    if (record == nullptr) {
        return FALSE;
    }
    PortStatusReport& report = record->status;
    if (report.printerInfo == nullptr && !FetchPrinterInfo(record)) {
        // Why, but not a size query's 122.
        const DWORD error = LastErrorOr(ERROR_OPEN_FAILED);
        SetLastError(error == ERROR_INSUFFICIENT_BUFFER ? ERROR_OPEN_FAILED : error);
        return FALSE;
    }
    // With the control channel closed no answer can come: fail now rather than after the
    // whole response time-out.
    if (!(record->connection.channelFlags & CONTROL_OPEN)) {
        SetLastError(ERROR_OPEN_FAILED);
        return FALSE;
    }
    uint8_t status = 0;
    SetLastError(ERROR_SUCCESS); // not an earlier call's error for an exchange that set none
    if (!record->connection.GetLPTStatus(&status)) {
        SetLastError(LastErrorOr(ERROR_TIMEOUT));
        return FALSE;
    }
    LineStatusMapping mapping = MapLineStatus(status);
    report.portInfo.dwStatus = mapping.portStatus;
    report.portInfo.pszStatus =
        mapping.text == PortStatusText::NotPoweredOn ? kNotPoweredOn : nullptr;
    report.portInfo.dwSeverity = mapping.severity;
    if (mapping.setsPrinterStatus) {
        report.printerInfo->Status = mapping.printerStatus;
    }
    PostPortStatus(report);
    if (!mapping.ready) {
        // The printer answered: it is not ready, and nothing failed.
        SetLastError(ERROR_SUCCESS);
        return FALSE;
    }
    return TRUE;
}

void ClearPortStatus(PortRecord* record) {
    PortStatusReport& report = record->status;
    if (report.printerInfo == nullptr) {
        return;
    }
    report.portInfo.dwStatus = 0;
    report.portInfo.pszStatus = nullptr;
    report.portInfo.dwSeverity = 0;
    PostPortStatus(report);
    GlobalFree(report.printerInfo);
    report.printerInfo = nullptr;
}

void SavePrinterName(PortRecord* record, const wchar_t* name) {
    wchar_t* saved = record->status.savedPrinterName;
    size_t length = name == nullptr ? SAVED_PRINTER_NAME_LENGTH : wcslen(name);
    if (length >= SAVED_PRINTER_NAME_LENGTH) {
        saved[0] = L'\0';
        return;
    }
    memcpy(saved, name, sizeof(wchar_t) * (length + 1));
}
