#pragma once
// Included first in every native translation unit (-include): with -fshort-wchar, text is
// UTF-16 as on Windows, but the C library's wide-string functions still take 32-bit
// characters. The few that the monitor's code calls are replaced by 16-bit versions
// (wide16.cpp), by name.

#include <cstddef>
#include <cwchar>

extern "C" {
size_t Wcslen16(const void* text);
int Wcscmp16(const void* left, const void* right);
void* Wcscat16(void* target, const void* source);
}

#define wcslen(text) Wcslen16(text)
#define wcscmp(left, right) Wcscmp16(left, right)
#define wcscat(target, source) static_cast<wchar_t*>(Wcscat16(target, source))
