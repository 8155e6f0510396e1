#include "port_ui_text.h"

#include "ports/hex_digit.h"
#include "ports/retry_timeout_range.h"

namespace quilldlg {

namespace {

bool IsSpace(wchar_t c) {
    return c == L' ' || c == L'\t';
}

wchar_t UpperAscii(wchar_t c) {
    return (c >= L'a' && c <= L'z') ? static_cast<wchar_t>(c - L'a' + L'A') : c;
}

} // namespace

bool ParseRetryTimeoutSeconds(const wchar_t* text, uint32_t* seconds) {
    if (text == nullptr) {
        return false;
    }
    while (IsSpace(*text)) {
        ++text;
    }
    uint64_t value = 0;
    size_t digits = 0;
    for (; *text >= L'0' && *text <= L'9'; ++text, ++digits) {
        // Stays far below 2^64: once past the maximum the text is refused anyway.
        if (value <= RETRY_TIMEOUT_MAX_SECONDS) {
            value = value * 10 + static_cast<uint64_t>(*text - L'0');
        }
    }
    while (IsSpace(*text)) {
        ++text;
    }
    if (digits == 0 || *text != L'\0' || value < RETRY_TIMEOUT_MIN_SECONDS ||
        value > RETRY_TIMEOUT_MAX_SECONDS) {
        return false;
    }
    *seconds = static_cast<uint32_t>(value);
    return true;
}

bool ParseAddressPortName(const wchar_t* name, uint8_t address[6]) {
    if (name == nullptr) {
        return false;
    }
    uint8_t bytes[6];
    const wchar_t* p = name;
    for (int i = 0; i < 6; ++i) {
        int high = HexDigitValue(p[0]);
        int low = high < 0 ? -1 : HexDigitValue(p[1]);
        if (low < 0) {
            return false;
        }
        bytes[i] = static_cast<uint8_t>(high * 16 + low);
        p += 2;
        if (i < 5) {
            if (*p != L':') {
                return false;
            }
            ++p;
        }
    }
    if (*p == L'.') {
        ++p;
        size_t digits = 0;
        for (; *p >= L'0' && *p <= L'9' && digits <= 3; ++p) {
            ++digits;
        }
        if (digits == 0 || digits > 3) {
            return false;
        }
    }
    if (*p != L'\0') {
        return false;
    }
    for (int i = 0; i < 6; ++i) {
        address[i] = bytes[i];
    }
    return true;
}

void FormatAddress(const uint8_t address[6], wchar_t text[ADDRESS_TEXT_SIZE]) {
    static const wchar_t hex[] = L"0123456789abcdef";
    wchar_t* out = text;
    for (int i = 0; i < 6; ++i) {
        *out++ = hex[address[i] >> 4];
        *out++ = hex[address[i] & 0x0F];
        *out++ = i < 5 ? L':' : L'\0';
    }
}

bool NamesThisComputer(const wchar_t* server, const wchar_t* computerName) {
    if (server == nullptr || server[0] == L'\0') {
        return true;
    }
    if (computerName == nullptr) {
        return false;
    }
    if (server[0] == L'\\' && server[1] == L'\\') {
        server += 2;
    }
    for (; *server != L'\0' && *computerName != L'\0'; ++server, ++computerName) {
        if (UpperAscii(*server) != UpperAscii(*computerName)) {
            return false;
        }
    }
    return *server == L'\0' && *computerName == L'\0';
}

size_t BoundedLength(const wchar_t* text, size_t limit) {
    size_t length = 0;
    while (length <= limit && text[length] != L'\0') {
        ++length;
    }
    return length;
}

} // namespace quilldlg
