#pragma once
// What the print spooler knows about monitors, ports and printers, asked through winspool
// (in Wine, its localspl in this process): for install, uninstall and doctor.

#include <windows.h>

#include <string>
#include <vector>

namespace prnlink {

struct RegisteredMonitor {
    std::wstring name;
    std::wstring dllName;
};

struct PrinterOnPort {
    std::wstring printer;
    std::wstring port;
};

// EnumMonitorsW, level 2; false with the error code.
bool RegisteredMonitors(std::vector<RegisteredMonitor>* monitors, DWORD* error);
// The entry named name (letter case ignored), or null.
const RegisteredMonitor* FindMonitor(const std::vector<RegisteredMonitor>& monitors,
                                     const std::wstring& name);
// EnumPortsW, level 1: every port of every monitor; false with the error code.
bool SpoolerPortNames(std::vector<std::wstring>* names, DWORD* error);
// Whether the file is a library that exports InitializePrintMonitor2 (loaded without running
// its code).
bool IsPortMonitorLibrary(const std::wstring& path);
// The printers whose port list holds a port of the monitor library at path (its ports as
// its own EnumPorts lists them); false with the error code.
bool PrintersOnMonitorPorts(const std::wstring& libraryPath, std::vector<PrinterOnPort>* users,
                            DWORD* error);

} // namespace prnlink
