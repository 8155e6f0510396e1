// The 16-bit wide-string functions of wide16.h. Built without -fshort-wchar: here wchar_t
// is the C library's 32-bit character, and UTF-16 text arrives as uint16_t.

#include <cstdarg>
#include <cstdint>
#include <cwchar>
#include <vector>

namespace {

// 32-bit characters in a vector of their own type: a std::vector<wchar_t> here would share
// its name, and so its code, with the 16-bit one of the code built with -fshort-wchar.
std::vector<uint32_t> Widen(const uint16_t* text) {
    std::vector<uint32_t> wide;
    for (; *text != 0; ++text) {
        wide.push_back(*text);
    }
    wide.push_back(0);
    return wide;
}

} // namespace

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

int Swscanf16(const void* text, const void* format, ...) {
    static_assert(sizeof(wchar_t) == sizeof(uint32_t), "the C library's wchar_t");
    std::vector<uint32_t> wideText = Widen(static_cast<const uint16_t*>(text));
    std::vector<uint32_t> wideFormat = Widen(static_cast<const uint16_t*>(format));
    va_list arguments;
    va_start(arguments, format);
    int converted = vswscanf(reinterpret_cast<const wchar_t*>(wideText.data()),
                             reinterpret_cast<const wchar_t*>(wideFormat.data()), arguments);
    va_end(arguments);
    return converted;
}
}
