#pragma once
// Wording of the port status that the monitor posts to the spooler (SetPortW, level 3), as
// the spooler's user interface would show it, and of the byte counts and rates printed by
// the host. Pure text handling, no system calls.

#include <cstdint>
#include <string>

namespace prnlink {

// dwStatus and pszStatus of a PORT_INFO_3. A status text wins over the code; code 0 with no
// text is the cleared status: "ready". Unknown codes read "port status N".
std::string DescribePortStatus(uint32_t status, const wchar_t* text);

// 0 to 1023 bytes as "512 B", then "12.5 KB", "3.20 MB" (binary multiples).
std::string FormatBytes(uint64_t bytes);

// One line of the print progress: a bar, the share done, bytes, rate and the time spent
// waiting for credit. width is the number of cells of the bar.
std::string FormatProgress(uint64_t sent, uint64_t total, double elapsedSeconds, double waitSeconds,
                           int width);

} // namespace prnlink
