#pragma once
// What the prefix's spooler, win.ini and registry say about the registered monitor's
// ports and setting, read back as an administrator would.

#include <windows.h>

#include <string>
#include <vector>

namespace testsupport {

// EnumPortsW level 1: every monitor's port names.
std::vector<std::wstring> SpoolerPorts();
bool SpoolerHas(const std::wstring& name);
// Whether [QuillPorts] in win.ini has an entry of that name.
bool ProfileHas(const wchar_t* key);
// "TransmissionRetryTimeout" under the monitor's registry root; "<absent>" when missing.
std::wstring RegistryRetryText();
void DeleteRegistryRetryValue();
// Wine's spooler finds the monitor of a port (for DeletePortW, ConfigurePortW and
// ",XcvPort NAME") by the key ...\Monitors\<name>\Ports\<port>.
bool RegisterPortKey(const std::wstring& port);
// The registered monitor's Xcv channel (",XcvMonitor <name>"): without PRINTER_DEFAULTS when
// access is null, else asking for *access. Null when OpenPrinterW fails (its error set).
HANDLE OpenMonitorXcv(const ACCESS_MASK* access);

} // namespace testsupport
