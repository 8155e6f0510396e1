// Default spooler-client calls: thin wrappers, so that each call goes through the import
// table when it is made.

#include "job/spooler_client.h"

namespace {

BOOL WINAPI CallOpenPrinter(LPWSTR name, LPHANDLE printer, LPPRINTER_DEFAULTSW defaults) {
    return OpenPrinterW(name, printer, defaults);
}

BOOL WINAPI CallGetPrinter(HANDLE printer, DWORD level, LPBYTE buffer, DWORD size, LPDWORD needed) {
    return GetPrinterW(printer, level, buffer, size, needed);
}

BOOL WINAPI CallSetPort(LPWSTR server, LPWSTR portName, DWORD level, LPBYTE portInfo) {
    return SetPortW(server, portName, level, portInfo);
}

BOOL WINAPI CallSetJob(HANDLE printer, DWORD jobId, DWORD level, LPBYTE job, DWORD command) {
    return SetJobW(printer, jobId, level, job, command);
}

BOOL WINAPI CallClosePrinter(HANDLE printer) {
    return ClosePrinter(printer);
}

} // namespace

const SpoolerClient kWinspoolClient = {CallOpenPrinter, CallGetPrinter, CallSetPort, CallSetJob,
                                       CallClosePrinter};

SpoolerClient g_spoolerClient = kWinspoolClient;
