// Parsing of HCRPDB.txt records over plain buffers.

#include "devicedb/device_record.h"

#include <cstring>

long ParseHex(const char* text) {
    size_t length = strlen(text);
    unsigned long value = 0;
    unsigned long weight = 1;
    for (size_t i = length; i > 0; --i) {
        char c = text[i - 1];
        unsigned long digit;
        if (c >= '0' && c <= '9') {
            digit = static_cast<unsigned long>(c - '0');
        } else if (c >= 'a' && c <= 'f') {
            digit = static_cast<unsigned long>(c - 'a' + 10);
        } else if (c >= 'A' && c <= 'F') {
            digit = static_cast<unsigned long>(c - 'A' + 10);
        } else {
            return -1;
        }
        // Unsigned arithmetic: a long text wraps instead of overflowing; fields are at
        // most four digits.
        value += digit * weight;
        weight *= 16;
    }
    return static_cast<long>(value);
}

namespace {

long ParseField(const uint8_t* field, size_t length) {
    char copy[5] = {};
    memcpy(copy, field, length);
    return ParseHex(copy);
}

} // namespace

uint8_t ParseHexByte(const uint8_t* field) {
    return static_cast<uint8_t>(ParseField(field, 2) & 0xFF);
}

uint16_t ParseHexWord(const uint8_t* field) {
    return static_cast<uint16_t>(ParseField(field, 4) & 0xFFFF);
}

void ParseDeviceAddress(const uint8_t* record, uint8_t address[6]) {
    for (size_t i = 0; i < 6; ++i) {
        address[i] = ParseHexByte(record + DEVICE_ADDRESS_OFFSET + 2 * i);
    }
}

void ParseDeviceRecord(const uint8_t* record, DeviceRecord* out) {
    ParseDeviceAddress(record, out->address);
    memcpy(out->name, record + DEVICE_NAME_OFFSET, DEVICE_NAME_LENGTH);
    out->controlPsm = ParseHexWord(record + DEVICE_CONTROL_PSM_OFFSET);
    out->dataPsm = ParseHexWord(record + DEVICE_DATA_PSM_OFFSET);
    out->thirdValue = ParseHexWord(record + DEVICE_THIRD_VALUE_OFFSET);
}

void TrimDeviceName(char name[DEVICE_NAME_LENGTH]) {
    // A NUL inside the field ends the text there: the spaces before it are trailing too.
    size_t end = DEVICE_NAME_LENGTH - 1;
    for (size_t i = 1; i < DEVICE_NAME_LENGTH - 1; ++i) {
        if (name[i] == '\0') {
            end = i;
            break;
        }
    }
    size_t last = 0;
    for (size_t i = end - 1; i >= 1; --i) {
        if (name[i] != ' ') {
            last = i;
            break;
        }
    }
    name[last + 1] = '\0';
}

void ClearRecordTail(uint8_t* record, size_t length) {
    // The name field is padded as the writer pads it; the address and number fields are
    // empty text, which parses as 0.
    for (size_t i = length; i < DEVICE_RECORD_LENGTH; ++i) {
        bool inName = i >= DEVICE_NAME_OFFSET && i < DEVICE_NAME_OFFSET + DEVICE_NAME_LENGTH;
        record[i] = inName ? ' ' : 0;
    }
}
