#include "ports/xcv_input.h"

#include <cstring>

static_assert(sizeof(wchar_t) == 2, "UTF-16 text: build with 16-bit wchar_t");

size_t BoundedTextLength(const uint8_t* input, size_t size) {
    if (input == nullptr) {
        return 0;
    }
    const size_t characters = size / sizeof(wchar_t);
    for (size_t i = 0; i < characters; ++i) {
        if (input[2 * i] == 0 && input[2 * i + 1] == 0) {
            return i;
        }
    }
    return characters;
}

void CopyBoundedText(const uint8_t* input, size_t length, wchar_t* out) {
    if (length > 0) {
        memcpy(out, input, length * sizeof(wchar_t));
    }
    out[length] = L'\0';
}

bool ReadCommConfigSize(const uint8_t* input, size_t size, size_t commConfigBytes,
                        uint32_t* configSize) {
    *configSize = 0;
    if (input == nullptr || size < commConfigBytes || size < sizeof(uint32_t)) {
        return false;
    }
    uint32_t given = 0;
    memcpy(&given, input, sizeof(given)); // little-endian, as the caller's COMMCONFIG
    if (given > size) {
        return false;
    }
    *configSize = given;
    return true;
}
