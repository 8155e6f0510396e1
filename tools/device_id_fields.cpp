#include "device_id_fields.h"

#include <cstdio>

namespace prnlink {

namespace {

bool IsSpace(char c) {
    return c == ' ' || c == '\t' || c == '\r' || c == '\n';
}

std::string Trim(const std::string& text) {
    size_t begin = 0;
    size_t end = text.size();
    while (begin < end && IsSpace(text[begin])) {
        ++begin;
    }
    while (end > begin && IsSpace(text[end - 1])) {
        --end;
    }
    return text.substr(begin, end - begin);
}

std::string Upper(const std::string& text) {
    std::string result = text;
    for (char& c : result) {
        if (c >= 'a' && c <= 'z') {
            c = static_cast<char>(c - 'a' + 'A');
        }
    }
    return result;
}

} // namespace

std::vector<DeviceIdField> ParseDeviceId(const char* text, size_t length) {
    std::vector<DeviceIdField> fields;
    if (text == nullptr) {
        return fields;
    }
    size_t end = 0;
    while (end < length && text[end] != '\0') {
        ++end;
    }
    size_t start = 0;
    while (start < end) {
        size_t stop = start;
        while (stop < end && text[stop] != ';') {
            ++stop;
        }
        std::string piece(text + start, stop - start);
        start = stop + 1;
        if (Trim(piece).empty()) {
            continue;
        }
        DeviceIdField field;
        size_t colon = piece.find(':');
        if (colon == std::string::npos) {
            field.value = Trim(piece);
        } else {
            field.key = Trim(piece.substr(0, colon));
            field.value = Trim(piece.substr(colon + 1));
        }
        fields.push_back(field);
    }
    return fields;
}

std::string DeviceIdKeyMeaning(const std::string& key) {
    static const struct {
        const char* key;
        const char* meaning;
    } kKeys[] = {
        {"MFG", "manufacturer"},
        {"MANUFACTURER", "manufacturer"},
        {"MDL", "model"},
        {"MODEL", "model"},
        {"CMD", "command set"},
        {"COMMAND SET", "command set"},
        {"CLS", "class"},
        {"CLASS", "class"},
        {"DES", "description"},
        {"DESCRIPTION", "description"},
        {"SN", "serial number"},
        {"SERN", "serial number"},
        {"SERIALNUMBER", "serial number"},
        {"CID", "compatible ID"},
        {"REV", "revision"},
    };
    std::string upper = Upper(key);
    for (const auto& entry : kKeys) {
        if (upper == entry.key) {
            return entry.meaning;
        }
    }
    return std::string();
}

std::string PrintableText(const std::string& text) {
    std::string result;
    for (unsigned char c : text) {
        if (c >= 0x20 && c < 0x7F && c != '\\') {
            result.push_back(static_cast<char>(c));
        } else if (c == '\\') {
            result += "\\\\";
        } else {
            char escaped[8];
            std::snprintf(escaped, sizeof(escaped), "\\x%02X", c);
            result += escaped;
        }
    }
    return result;
}

} // namespace prnlink
