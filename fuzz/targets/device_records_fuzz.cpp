// HCRPDB.txt contents: the input is the file, cut into 274-byte records as the database
// reads it; a short last record has its missing bytes cleared first, over a buffer that
// still holds the previous record.

#include <cstdlib>
#include <cstring>
#include <vector>

#include "check.h"
#include "devicedb/device_record.h"

namespace {

// What a field of hexadecimal text is worth: the characters before a NUL, each a digit,
// else all ones in the kept width (an oracle of its own, not the parser).
long Expected(const uint8_t* field, size_t length) {
    unsigned long value = 0;
    for (size_t i = 0; i < length && field[i] != 0; ++i) {
        const char c = static_cast<char>(field[i]);
        const char* digits = "0123456789abcdef";
        const char lower = (c >= 'A' && c <= 'F') ? static_cast<char>(c - 'A' + 'a') : c;
        const char* digit = lower != 0 ? strchr(digits, lower) : nullptr;
        if (digit == nullptr) {
            return -1;
        }
        value = value * 16 + static_cast<unsigned long>(digit - digits);
    }
    return static_cast<long>(value);
}

void CheckRecord(const uint8_t* record) {
    DeviceRecord parsed;
    memset(&parsed, 0xA5, sizeof(parsed));
    ParseDeviceRecord(record, &parsed);
    for (size_t i = 0; i < 6; ++i) {
        const long byte = Expected(record + DEVICE_ADDRESS_OFFSET + 2 * i, 2);
        FUZZ_CHECK(parsed.address[i] == static_cast<uint8_t>(byte < 0 ? 0xFF : byte));
    }
    const size_t offsets[3] = {DEVICE_CONTROL_PSM_OFFSET, DEVICE_DATA_PSM_OFFSET,
                               DEVICE_THIRD_VALUE_OFFSET};
    const uint16_t values[3] = {parsed.controlPsm, parsed.dataPsm, parsed.thirdValue};
    for (size_t i = 0; i < 3; ++i) {
        const long word = Expected(record + offsets[i], 4);
        FUZZ_CHECK(values[i] == static_cast<uint16_t>(word < 0 ? 0xFFFF : word));
    }
    FUZZ_CHECK(memcmp(parsed.name, record + DEVICE_NAME_OFFSET, DEVICE_NAME_FIELD_SIZE) == 0);
    // The trimmed name ends inside its field, keeps at most 247 bytes and no trailing space
    // beyond its first byte.
    TrimDeviceName(parsed.name);
    const void* end = memchr(parsed.name, 0, DEVICE_NAME_FIELD_SIZE);
    FUZZ_CHECK(end != nullptr);
    const size_t length = static_cast<size_t>(static_cast<const char*>(end) - parsed.name);
    FUZZ_CHECK(length <= DEVICE_NAME_FIELD_SIZE - 1);
    if (length > 1) {
        FUZZ_CHECK(parsed.name[length - 1] != ' ');
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    // One record buffer for the whole file, as the reader keeps it.
    std::vector<uint8_t> record(DEVICE_RECORD_SIZE, 0xEE);
    for (size_t offset = 0; offset < size; offset += DEVICE_RECORD_SIZE) {
        const size_t length =
            size - offset < DEVICE_RECORD_SIZE ? size - offset : DEVICE_RECORD_SIZE;
        memcpy(record.data(), data + offset, length);
        if (length < DEVICE_RECORD_SIZE) {
            ClearRecordTail(record.data(), length);
            for (size_t i = length; i < DEVICE_RECORD_SIZE; ++i) {
                const bool inName =
                    i >= DEVICE_NAME_OFFSET && i < DEVICE_NAME_OFFSET + DEVICE_NAME_FIELD_SIZE;
                FUZZ_CHECK(record[i] == (inName ? ' ' : 0));
            }
        }
        CheckRecord(record.data());
    }
    // ParseHex over the whole input as text: -1 or a value, and never a read past the NUL.
    // Only a text of at least as many digits as a long has can wrap into the sign bit: 8 in
    // a -m32 build, 16 in a -m64 one (long is 64-bit on Linux x86-64, 32-bit on Windows).
    std::vector<char> text(data, data + size);
    text.push_back('\0');
    const long value = ParseHex(text.data());
    FUZZ_CHECK(value >= -1 || strlen(text.data()) >= 2 * sizeof(long));
    return 0;
}
