#pragma once
// Memory and text helpers every subsystem uses. Records, names and caches are taken from the
// system's fixed global heap, zero-filled, and freed with GlobalFree.

#include <windows.h>
#include <cstddef>

// Global fixed memory, zero-filled; freed with GlobalFree. Null on failure (error set).
void* AllocZeroedMemory(size_t bytes);
wchar_t* DuplicateWideString(const wchar_t* text);
// Widens 8-bit text byte by byte, each byte sign-extended (0xE9 becomes 0xFFE9): existing
// port names depend on it. Returns the number of characters; *out null on failure.
size_t WidenString(const char* text, wchar_t** out);
