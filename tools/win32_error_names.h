#pragma once
// Names of the Win32 error codes that a port monitor and its host come across.

#include <cstdint>
#include <string>

namespace prnlink {

// "ERROR_OPEN_FAILED" for 110; null for a code not in the table.
const char* Win32ErrorName(uint32_t code);
// "ERROR_OPEN_FAILED (110)"; "error 4711" for a code not in the table; "no error code (0)"
// for 0, which some monitor failures leave.
std::string DescribeWin32Error(uint32_t code);

} // namespace prnlink
