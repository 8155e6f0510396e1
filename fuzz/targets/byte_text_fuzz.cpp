// The widening and narrowing of 8-bit text. Input: byte 0 the widening capacity (0-255),
// byte 1 the narrowing limit, the rest the text (as bytes, and as UTF-16 pairs).

#include <cstdint>
#include <cstring>
#include <vector>

#include "check.h"
#include "entry/byte_text.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 2) {
        return 0;
    }
    const size_t capacity = data[0];
    const size_t limit = data[1];
    std::vector<char> text(data + 2, data + size);
    text.push_back('\0');
    const size_t textLength = strlen(text.data());

    // The buffer is exactly `capacity` characters: a widened string ends inside it.
    std::vector<wchar_t> exact(capacity);
    wchar_t* buffer = capacity != 0 ? exact.data() : nullptr;
    const bool widened = WidenBytes(text.data(), buffer, capacity);
    FUZZ_CHECK(widened == (capacity != 0 && textLength + 1 <= capacity));
    if (widened) {
        for (size_t i = 0; i < textLength; ++i) {
            FUZZ_CHECK(static_cast<unsigned>(buffer[i]) == static_cast<unsigned char>(text[i]));
        }
        FUZZ_CHECK(buffer[textLength] == L'\0');
    } else if (capacity != 0) {
        FUZZ_CHECK(buffer[0] == L'\0');
    }

    // The same bytes read as UTF-16, narrowed back where every character has a byte.
    std::vector<wchar_t> utf16((size - 2) / 2 + 1);
    memcpy(utf16.data(), data + 2, (size - 2) / 2 * 2);
    utf16.back() = L'\0';
    size_t length = 0xDEAD;
    if (MeasureNarrowable(utf16.data(), limit, &length)) {
        FUZZ_CHECK(length <= limit && length < utf16.size());
        std::vector<char> narrow(length + 1);
        NarrowBytes(utf16.data(), length, narrow.data());
        FUZZ_CHECK(narrow[length] == '\0');
        for (size_t i = 0; i < length; ++i) {
            FUZZ_CHECK(utf16[i] != L'\0' && static_cast<unsigned>(utf16[i]) <= 0xFF);
            FUZZ_CHECK(static_cast<unsigned char>(narrow[i]) == utf16[i]);
        }
        // And widened again, it is the text it came from.
        std::vector<wchar_t> back(length + 1);
        FUZZ_CHECK(WidenBytes(narrow.data(), back.data(), length + 1));
        FUZZ_CHECK(memcmp(back.data(), utf16.data(), length * sizeof(wchar_t)) == 0);
    } else {
        FUZZ_CHECK(length == 0xDEAD);
    }
    return 0;
}
