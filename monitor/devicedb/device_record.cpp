// Parsing and writing of HCRPDB.txt records over plain buffers.

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
    memcpy(out->name, record + DEVICE_NAME_OFFSET, DEVICE_NAME_FIELD_SIZE);
    out->controlPsm = ParseHexWord(record + DEVICE_CONTROL_PSM_OFFSET);
    out->dataPsm = ParseHexWord(record + DEVICE_DATA_PSM_OFFSET);
    out->thirdValue = ParseHexWord(record + DEVICE_THIRD_VALUE_OFFSET);
}

void TrimDeviceName(char name[DEVICE_NAME_FIELD_SIZE]) {
    // A NUL inside the field ends the text there: the spaces before it are trailing too.
    size_t end = DEVICE_NAME_FIELD_SIZE - 1;
    for (size_t i = 1; i < DEVICE_NAME_FIELD_SIZE - 1; ++i) {
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
    for (size_t i = length; i < DEVICE_RECORD_SIZE; ++i) {
        bool inName = i >= DEVICE_NAME_OFFSET && i < DEVICE_NAME_OFFSET + DEVICE_NAME_FIELD_SIZE;
        record[i] = inName ? ' ' : 0;
    }
}

namespace {

const char kUpperDigits[] = "0123456789ABCDEF";

void FormatHexWord(uint16_t value, uint8_t* field) {
    for (int digit = 0; digit < 4; ++digit) {
        field[digit] = static_cast<uint8_t>(kUpperDigits[(value >> (12 - 4 * digit)) & 15]);
    }
}

bool IsHexDigit(uint8_t c) {
    return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
}

bool AllHex(const uint8_t* field, size_t length) {
    for (size_t i = 0; i < length; ++i) {
        if (!IsHexDigit(field[i])) {
            return false;
        }
    }
    return true;
}

} // namespace

void FormatDeviceRecord(const DeviceRecord& in, uint8_t record[DEVICE_RECORD_SIZE]) {
    for (size_t i = 0; i < 6; ++i) {
        record[DEVICE_ADDRESS_OFFSET + 2 * i] =
            static_cast<uint8_t>(kUpperDigits[in.address[i] >> 4]);
        record[DEVICE_ADDRESS_OFFSET + 2 * i + 1] =
            static_cast<uint8_t>(kUpperDigits[in.address[i] & 15]);
    }
    size_t nameLength = 0;
    while (nameLength < DEVICE_NAME_FIELD_SIZE && in.name[nameLength] != '\0') {
        ++nameLength;
    }
    memcpy(record + DEVICE_NAME_OFFSET, in.name, nameLength);
    memset(record + DEVICE_NAME_OFFSET + nameLength, ' ', DEVICE_NAME_FIELD_SIZE - nameLength);
    FormatHexWord(in.controlPsm, record + DEVICE_CONTROL_PSM_OFFSET);
    FormatHexWord(in.dataPsm, record + DEVICE_DATA_PSM_OFFSET);
    FormatHexWord(in.thirdValue, record + DEVICE_THIRD_VALUE_OFFSET);
    record[DEVICE_RECORD_SIZE - 2] = '\r';
    record[DEVICE_RECORD_SIZE - 1] = '\n';
}

DeviceRecordProblem CheckDeviceRecord(const uint8_t* record, size_t length) {
    if (length < DEVICE_RECORD_SIZE) {
        return DEVICE_RECORD_SHORT;
    }
    if (!AllHex(record + DEVICE_ADDRESS_OFFSET, 12)) {
        return DEVICE_RECORD_BAD_ADDRESS;
    }
    bool named = false;
    for (size_t i = 0; i < DEVICE_NAME_FIELD_SIZE && !named; ++i) {
        uint8_t c = record[DEVICE_NAME_OFFSET + i];
        named = c != ' ' && c != '\0';
    }
    if (!named) {
        return DEVICE_RECORD_NO_NAME;
    }
    if (!AllHex(record + DEVICE_CONTROL_PSM_OFFSET, 4)) {
        return DEVICE_RECORD_BAD_CONTROL_PSM;
    }
    if (!AllHex(record + DEVICE_DATA_PSM_OFFSET, 4)) {
        return DEVICE_RECORD_BAD_DATA_PSM;
    }
    if (!AllHex(record + DEVICE_THIRD_VALUE_OFFSET, 4)) {
        return DEVICE_RECORD_BAD_THIRD_VALUE;
    }
    return DEVICE_RECORD_WELL_FORMED;
}

const char* DescribeDeviceRecordProblem(DeviceRecordProblem problem) {
    switch (problem) {
    case DEVICE_RECORD_WELL_FORMED:
        return "well-formed";
    case DEVICE_RECORD_SHORT:
        return "shorter than 274 bytes";
    case DEVICE_RECORD_BAD_ADDRESS:
        return "the address is not 12 hexadecimal digits";
    case DEVICE_RECORD_NO_NAME:
        return "the name is empty";
    case DEVICE_RECORD_BAD_CONTROL_PSM:
        return "the control PSM is not 4 hexadecimal digits";
    case DEVICE_RECORD_BAD_DATA_PSM:
        return "the data PSM is not 4 hexadecimal digits";
    case DEVICE_RECORD_BAD_THIRD_VALUE:
        return "the third value is not 4 hexadecimal digits";
    }
    return "unknown problem";
}
