#pragma once
// Registers PRNLINK.DLL with the test prefix's own print spooler (Wine's localspl), as an
// administrator would, so that tests drive the monitor through winspool as a real client.

#include <windows.h>
#include <string>

namespace testsupport {

// The name under which tests register the monitor.
extern const wchar_t* const kMonitorName;

// Copies PRNLINK.DLL from the directory of the running test program into the Windows
// system directory of the prefix and registers it with
// AddMonitorW. Removes an earlier registration first. Returns false (with a message in
// *error) on failure.
bool RegisterMonitor(std::string* error);
// Removes the registration (DeleteMonitorW); ignores failures.
void UnregisterMonitor();
// The monitor's registry root: HKLM\System\CurrentControlSet\Control\Print\Monitors\<name>.
std::wstring MonitorRegistryPath();

} // namespace testsupport
