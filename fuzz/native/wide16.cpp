// The 16-bit wide-string functions of wide16.h. Built without -fshort-wchar: here wchar_t
// is the C library's 32-bit character, and UTF-16 text arrives as uint16_t.

#include <cstddef>
#include <cstdint>

extern "C" {

size_t Wcslen16(const void* text) {
    const auto* characters = static_cast<const uint16_t*>(text);
    size_t length = 0;
    while (characters[length] != 0) {
        ++length;
    }
    return length;
}

int Wcscmp16(const void* left, const void* right) {
    const auto* a = static_cast<const uint16_t*>(left);
    const auto* b = static_cast<const uint16_t*>(right);
    while (*a != 0 && *a == *b) {
        ++a;
        ++b;
    }
    return *a < *b ? -1 : (*a > *b ? 1 : 0);
}

void* Wcscat16(void* target, const void* source) {
    auto* out = static_cast<uint16_t*>(target);
    const auto* in = static_cast<const uint16_t*>(source);
    out += Wcslen16(out);
    while ((*out++ = *in++) != 0) {
    }
    return target;
}
}
