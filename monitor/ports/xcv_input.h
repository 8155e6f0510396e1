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

// The size a "SetDefaultCommConfig" input gives its COMMCONFIG (its dwSize, the first 4
// bytes): false unless the input holds a whole COMMCONFIG (commConfigBytes, 52) and the size
// it gives reaches no further than the input.
bool ReadCommConfigSize(const uint8_t* input, size_t size, size_t commConfigBytes,
                        uint32_t* configSize);
