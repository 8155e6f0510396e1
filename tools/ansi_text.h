#pragma once
// Conversions between the command line's 8-bit text (the ANSI code page) and the monitor's
// UTF-16 names.

#include <string>

namespace prnlink {

std::wstring Widen(const std::string& text);
std::string Narrow(const std::wstring& text);

} // namespace prnlink
