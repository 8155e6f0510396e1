#pragma once
// The five spooler-client calls that the job path makes, routed through one table so that
// the spooler's side can be observed. The defaults call the winspool imports at the moment
// of the call (never a cached address): a host process may patch this library's import
// table for these functions, for instance where the platform has no SetPortW.
//
// Test programs link the monitor's code directly and put their own functions in
// g_spoolerClient; the shipped library offers no way to change it.

#include <windows.h>
#include <winspool.h>

struct SpoolerClient {
    BOOL(WINAPI* openPrinter)(LPWSTR name, LPHANDLE printer, LPPRINTER_DEFAULTSW defaults);
    BOOL(WINAPI* getPrinter)
    (HANDLE printer, DWORD level, LPBYTE buffer, DWORD size, LPDWORD needed);
    BOOL(WINAPI* setPort)(LPWSTR server, LPWSTR portName, DWORD level, LPBYTE portInfo);
    BOOL(WINAPI* setJob)(HANDLE printer, DWORD jobId, DWORD level, LPBYTE job, DWORD command);
    BOOL(WINAPI* closePrinter)(HANDLE printer);
};

extern SpoolerClient g_spoolerClient;
// The table as the library starts with it (the winspool calls).
extern const SpoolerClient kWinspoolClient;
