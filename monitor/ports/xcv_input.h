#pragma once
// Texts taken from Xcv input, which any caller of XcvDataW supplies: never read beyond the
// input size. Plain functions over buffers; no system calls.

#include <cstddef>
#include <cstdint>

// The UTF-16 characters of the text at the start of `input`: those before the first
// terminator at an even offset within `size` bytes, or all size / 2 characters when there
// is none (a last odd byte is not a character). 0 for a null input.
size_t BoundedTextLength(const uint8_t* input, size_t size);

// Copies `length` characters from `input` (which holds at least 2 * length bytes, at any
// alignment) into `out` and terminates it: `out` holds length + 1 characters.
void CopyBoundedText(const uint8_t* input, size_t length, wchar_t* out);
