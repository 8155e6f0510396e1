#include "ports/port_record.h"
#include "ports/hex_digit.h"

#include <cwchar>

namespace {

bool IsSpace(wchar_t c) {
    return c == L' ' || (c >= L'\t' && c <= L'\r');
}

} // namespace

// Six fields of one or two hexadecimal digits, each after optional white space, joined by
// colons; what follows them (".N", or anything) does not matter. Read by hand rather than
// with swscanf, whose run-time library version allocates and writes through the pointer
// it got when the allocation failed.
BOOL ParsePortAddress(const wchar_t* name, uint8_t out[6]) {
    if (name == nullptr) {
        return FALSE;
    }
    uint8_t bytes[6];
    const wchar_t* at = name;
    for (int field = 0; field < 6; ++field) {
        if (field > 0 && *at++ != L':') {
            return FALSE;
        }
        while (IsSpace(*at)) {
            ++at;
        }
        int value = HexDigitValue(*at);
        if (value < 0) {
            return FALSE;
        }
        ++at;
        const int second = HexDigitValue(*at);
        if (second >= 0) {
            value = value * 16 + second;
            ++at;
        }
        bytes[field] = static_cast<uint8_t>(value);
    }
    for (int i = 0; i < 6; ++i) {
        out[i] = bytes[i];
    }
    return TRUE;
}
