#include "entry/byte_text.h"

bool WidenBytes(const char* text, wchar_t* buffer, size_t capacity) {
    if (buffer == nullptr || capacity == 0) {
        return false;
    }
    for (size_t i = 0; i < capacity; ++i) {
        // Unsigned: the byte 0xE9 becomes the character 0x00E9.
        buffer[i] = static_cast<wchar_t>(static_cast<unsigned char>(text[i]));
        if (text[i] == '\0') {
            return true;
        }
    }
    buffer[0] = L'\0';
    return false;
}

bool MeasureNarrowable(const wchar_t* text, size_t maxCharacters, size_t* length) {
    size_t count = 0;
    while (count < maxCharacters && text[count] != L'\0') {
        if (static_cast<unsigned int>(text[count]) > 0xFF) {
            return false;
        }
        ++count;
    }
    *length = count;
    return true;
}

void NarrowBytes(const wchar_t* text, size_t length, char* out) {
    for (size_t i = 0; i < length; ++i) {
        out[i] = static_cast<char>(static_cast<unsigned char>(text[i]));
    }
    out[length] = '\0';
}
