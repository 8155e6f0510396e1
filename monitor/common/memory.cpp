#include "common/memory.h"

#include <cstdint>
#include <cstring>
#include <cwchar>

void* AllocZeroedMemory(size_t bytes) {
    void* block = GlobalAlloc(GMEM_FIXED, bytes);
    if (block != nullptr) {
        memset(block, 0, bytes);
    }
    return block;
}

void* AllocWorkMemory(size_t bytes, bool zeroed) {
    void* block = HeapAlloc(GetProcessHeap(), 0, bytes > 0 ? bytes : 1);
    if (block == nullptr) {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return nullptr;
    }
    if (zeroed) {
        memset(block, 0, bytes > 0 ? bytes : 1);
    }
    return block;
}

void FreeWorkMemory(void* block) {
    if (block != nullptr) {
        HeapFree(GetProcessHeap(), 0, block);
    }
}

wchar_t* DuplicateWideString(const wchar_t* text) {
    if (text == nullptr) {
        return nullptr;
    }
    size_t length = wcslen(text);
    auto* copy = static_cast<wchar_t*>(AllocZeroedMemory(2 * (length + 1)));
    if (copy != nullptr) {
        memcpy(copy, text, 2 * (length + 1));
    }
    return copy;
}

size_t WidenString(const char* text, wchar_t** out) {
    if (out == nullptr) {
        return 0;
    }
    *out = nullptr;
    if (text == nullptr) {
        return 0;
    }
    size_t length = strlen(text);
    auto* wide = static_cast<wchar_t*>(AllocZeroedMemory(2 * length + 2));
    if (wide == nullptr) {
        return 0;
    }
    for (size_t i = 0; i < length; ++i) {
        // Signed byte, sign-extended: port names of installed printers were made this way.
        wide[i] = static_cast<wchar_t>(static_cast<int16_t>(static_cast<signed char>(text[i])));
    }
    *out = wide;
    return length;
}
