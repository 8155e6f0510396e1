#include "admin_arguments.h"

#include <cstdio>

namespace prnlink {

namespace {

int HexValue(char c) {
    if (c >= '0' && c <= '9') {
        return c - '0';
    }
    if (c >= 'a' && c <= 'f') {
        return c - 'a' + 10;
    }
    if (c >= 'A' && c <= 'F') {
        return c - 'A' + 10;
    }
    return -1;
}

// The text as it was typed, quoted, for a message; control characters shown as '?'.
std::string Quoted(const std::string& text) {
    std::string shown = "\"";
    for (char c : text) {
        shown += static_cast<unsigned char>(c) < 0x20 ? '?' : c;
    }
    return shown + "\"";
}

} // namespace

std::string ParseAddressArgument(const std::string& text, uint8_t address[6]) {
    const std::string bad = "ADDRESS " + Quoted(text) +
                            " is not a Bluetooth device address: write it as in port names "
                            "(00:1b:dc:0f:10:01) or as 12 hexadecimal digits (001bdc0f1001)";
    std::string digits;
    if (text.size() == 17) {
        for (size_t i = 0; i < text.size(); ++i) {
            if (i % 3 == 2) {
                if (text[i] != ':') {
                    return bad;
                }
            } else {
                digits += text[i];
            }
        }
    } else if (text.size() == 12) {
        digits = text;
    } else {
        return bad;
    }
    uint8_t parsed[6];
    bool zero = true;
    for (size_t i = 0; i < 6; ++i) {
        int high = HexValue(digits[2 * i]);
        int low = HexValue(digits[2 * i + 1]);
        if (high < 0 || low < 0) {
            return bad;
        }
        parsed[i] = static_cast<uint8_t>(high * 16 + low);
        zero = zero && parsed[i] == 0;
    }
    if (zero) {
        return "ADDRESS 00:00:00:00:00:00 is not a device's address (the device database "
               "reads it for an empty slot)";
    }
    for (size_t i = 0; i < 6; ++i) {
        address[i] = parsed[i];
    }
    return std::string();
}

std::string FormatAddress(const uint8_t address[6]) {
    char text[24];
    std::snprintf(text, sizeof(text), "%02x:%02x:%02x:%02x:%02x:%02x", address[0], address[1],
                  address[2], address[3], address[4], address[5]);
    return text;
}

std::string ParsePsmArgument(const std::string& option, const std::string& text, uint16_t* psm) {
    const std::string bad =
        option + " " + Quoted(text) +
        " is not an HCRP channel's PSM: a number from 0x0001 to 0xFEFF, odd, with the "
        "lowest bit of its upper byte clear (e.g. 0x1001 or 4097)";
    unsigned long value = 0;
    bool hex = text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X');
    size_t first = hex ? 2 : 0;
    if (text.size() <= first || text.size() - first > (hex ? 4u : 5u)) {
        return bad;
    }
    for (size_t i = first; i < text.size(); ++i) {
        int digit =
            hex ? HexValue(text[i]) : (text[i] >= '0' && text[i] <= '9' ? text[i] - '0' : -1);
        if (digit < 0) {
            return bad;
        }
        value = value * (hex ? 16 : 10) + static_cast<unsigned long>(digit);
    }
    if (value == 0 || value > 0xFEFF || (value & 1) == 0 || (value & 0x100) != 0) {
        return bad;
    }
    *psm = static_cast<uint16_t>(value);
    return std::string();
}

std::string FormatPsm(uint16_t psm) {
    char text[8];
    std::snprintf(text, sizeof(text), "0x%04X", psm);
    return text;
}

std::string CheckPrinterNameArgument(const std::string& name) {
    const std::string what = "NAME " + Quoted(name) + " ";
    if (name.empty()) {
        return "NAME is empty: a printer needs a name of 1 to 247 bytes";
    }
    if (name.size() > 247) {
        return "NAME is " + std::to_string(name.size()) +
               " bytes long: a printer's name has at most 247 bytes";
    }
    for (char c : name) {
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) {
            return what + "holds a control character: only printable characters are allowed";
        }
        if (c == ',') {
            return what + "holds a comma: a printer's port list is comma-separated, so names "
                          "may not contain one";
        }
    }
    if (name.back() == ' ') {
        return what + "ends in a space: the record's padding would swallow it";
    }
    return std::string();
}

std::string CheckMonitorNameArgument(const std::string& name) {
    if (name.empty() || name.size() > 64) {
        return "--name " + Quoted(name) + ": a monitor name has 1 to 64 characters";
    }
    for (char c : name) {
        if (static_cast<unsigned char>(c) < 0x20 || c == '\\' || c == ',') {
            return "--name " + Quoted(name) +
                   ": a monitor name is printable text without backslashes or commas";
        }
    }
    return std::string();
}

std::string ParseIntervalArgument(const std::string& text, uint32_t* milliseconds) {
    const std::string bad = "--interval " + Quoted(text) +
                            " is not a number of seconds from 0.1 to 3600 (e.g. 1 or 0.5)";
    size_t point = text.find('.');
    std::string whole = text.substr(0, point);
    std::string fraction = point == std::string::npos ? std::string() : text.substr(point + 1);
    if (whole.empty() && fraction.empty()) {
        return bad;
    }
    if (whole.size() > 4 || fraction.size() > 3 ||
        (point != std::string::npos && fraction.empty())) {
        return bad;
    }
    uint32_t value = 0;
    for (char c : whole) {
        if (c < '0' || c > '9') {
            return bad;
        }
        value = value * 10 + static_cast<uint32_t>(c - '0');
    }
    value *= 1000;
    uint32_t scale = 100;
    for (char c : fraction) {
        if (c < '0' || c > '9') {
            return bad;
        }
        value += static_cast<uint32_t>(c - '0') * scale;
        scale /= 10;
    }
    if (value < 100 || value > 3600000) {
        return bad;
    }
    *milliseconds = value;
    return std::string();
}

} // namespace prnlink
