#pragma once
// The sizes of the spooler's tables as a spooler of this program's architecture counts them:
// a DWORD cbSize padded to a pointer's width, then one pointer per slot. 4-byte pointers on
// i686, 8-byte on x64.

#include <cstddef>

namespace testsupport {

// MONITOR2 up to SendRecvBidiDataFromPort: cbSize and nineteen slots (80 or 160 bytes).
constexpr size_t MONITOR2_FULL_BYTES = 20 * sizeof(void*);
// The same table as a Windows 2000 spooler knows it, ending after Shutdown (76 or 152).
constexpr size_t MONITOR2_WINDOWS_2000_BYTES = MONITOR2_FULL_BYTES - sizeof(void*);
// MONITORREG: cbSize and ten operations (44 or 88).
constexpr size_t MONITORREG_BYTES = 11 * sizeof(void*);

} // namespace testsupport
