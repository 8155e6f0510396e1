#pragma once
// The spooler's side of PRNLINK.DLL, for a process that is not the spooler: loads the
// library, initialises it with a MONITORINIT of this process's own, and answers the
// spooler client calls that the monitor makes (OpenPrinterW, GetPrinterW, SetPortW,
// SetJobW, ClosePrinter, and the spooler's port list) by binding the library's imports of
// them to the implementations here. The library itself is used unchanged.

#include "entry/monitor.h"

#include <cstdint>
#include <functional>
#include <string>

namespace prnlink {

// One port status posted by the monitor with SetPortW (level 3).
struct PortStatusPost {
    std::wstring portName;
    uint32_t status = 0;
    std::wstring text; // empty when the post carried no text
    uint32_t severity = 0;
};

struct SpoolerHostEvents {
    std::function<void(const PortStatusPost&)> portStatus;
    std::function<void(uint32_t jobId, uint32_t command)> jobCommand;
};

// The registry key (under HKEY_LOCAL_MACHINE) that the host gives the monitor as its root.
extern const wchar_t* const kMonitorRegistryPath;

// Called once the library is loaded and its spooler calls are bound, before it is
// initialised: the caller may bind more of the library's imports, and may change the
// registry functions that the library is about to be given (in place).
using BeforeInitialize = std::function<void(HMODULE library, MONITORREG* registry)>;

// Loads the library at dllPath and initialises it. False with a message on failure.
bool LoadMonitor(const std::wstring& dllPath, std::string* error,
                 const BeforeInitialize& beforeInitialize = nullptr);
// Shutdown through the table (once: a later call does nothing), leaving the library loaded.
void ShutdownMonitor();
// ShutdownMonitor, then unloads the library and closes the registry root.
void UnloadMonitor();

const Monitor2Table* Monitor();
HANDLE MonitorHandleValue();

// The calls that could not be bound (the library does not import them): for --trace.
std::string UnboundImports();

// The port that the printer opened by the monitor prints to: GetPrinterW reports it as
// pPortName, and the monitor posts its status under that name.
void SetPrinterPort(const std::wstring& port);
void SetSpoolerHostEvents(const SpoolerHostEvents& events);
// The last status posted, if any (returns false when none was posted).
bool LastPortStatus(PortStatusPost* post);
void ForgetPortStatus();
// Printer handles that the monitor opened and has not closed.
int OpenPrinterCount();

// Time spent inside the Bluetooth library's send operation (the transfer over the link),
// and the bytes handed to it, since the process started. Zero when the library was never
// reached through the bound lookup.
double LinkSendSeconds();
uint64_t LinkSendBytes();
bool LinkSendObserved();

} // namespace prnlink
