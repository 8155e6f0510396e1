#pragma once
// The parts of the spooler host (spooler_host.h), one file each: the registry functions of
// its MONITORINIT, the spooler client calls the library's imports are bound to (with the
// printers they open), and the run-time look-ups it answers (the spooler's port list, the
// timed send of the Bluetooth library).

#include "spooler_host.h"

#include <winspool.h>

namespace prnlink {

// Function addresses change type through an untyped pointer: the types are the library's.
template <typename To, typename From> To FunctionCast(From function) {
    return reinterpret_cast<To>(reinterpret_cast<void*>(function));
}

// host_registry.cpp: a MONITORREG over the registry functions, as the spooler's would be.
MONITORREG HostRegistryFunctions();

// host_printers.cpp: the spooler client calls.
BOOL WINAPI HostOpenPrinterW(LPWSTR name, LPHANDLE printer, LPPRINTER_DEFAULTSW defaults);
BOOL WINAPI HostGetPrinterW(HANDLE handle, DWORD level, LPBYTE buffer, DWORD size, LPDWORD needed);
BOOL WINAPI HostSetPortW(LPWSTR server, LPWSTR portName, DWORD level, LPBYTE portInfo);
BOOL WINAPI HostSetJobW(HANDLE handle, DWORD jobId, DWORD level, LPBYTE job, DWORD command);
BOOL WINAPI HostClosePrinter(HANDLE handle);

// host_lookups.cpp: GetProcAddress as the library sees it, over the system's (given).
void SetRealGetProcAddress(FARPROC(WINAPI* real)(HMODULE, LPCSTR));
FARPROC WINAPI HostGetProcAddress(HMODULE module, LPCSTR name);

} // namespace prnlink
