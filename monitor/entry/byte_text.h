#pragma once
// Byte-for-byte conversions between 8-bit text and UTF-16, as the C runtime's "%S"
// conversion does them in its default locale: each byte becomes the character of the same
// value (0 to 255) and back. Plain functions over buffers; no system calls.

#include <cstddef>

// Widens the 8-bit text into buffer (capacity characters, terminator included). Returns
// false, leaving an empty string in the buffer, when the text and its terminator do not
// fit; nothing is ever written beyond capacity characters.
bool WidenBytes(const char* text, wchar_t* buffer, size_t capacity);

// Measures the UTF-16 text for byte-wise narrowing: the characters before the first NUL,
// at most maxCharacters of them. Returns false when one of them is 256 or above, because
// such a character has no byte of the same value.
bool MeasureNarrowable(const wchar_t* text, size_t maxCharacters, size_t* length);

// Narrows length characters (each below 256) into out and terminates it: out must hold
// length + 1 bytes.
void NarrowBytes(const wchar_t* text, size_t length, char* out);
