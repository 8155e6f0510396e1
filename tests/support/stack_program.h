#pragma once
// The simulated stack process, Tarnwick.exe, beside the running program: started, or told
// something ("--stop"), by the programs that print to simulated printers.

#include <string>

namespace testsupport {

// Runs Tarnwick.exe with these arguments (" --stop", or "" to start it); with wait, waits
// up to 10 s for it to end. False when it cannot be started.
bool RunStackProgram(const std::wstring& arguments, bool wait);

} // namespace testsupport
