#pragma once
// Small helpers shared by the test programs.

#include <windows.h>
#include <string>

namespace testsupport {

// The test prefix's Windows directory, e.g. C:\windows.
std::wstring WindowsDirectory();

} // namespace testsupport
