#pragma once
// The 274-byte record of HCRPDB.txt and its fields, parsed from a buffer and written into
// one. No system calls here: the file access is in device_database.cpp and
// device_database_edit.cpp.
//
//   offset   0, 12 bytes: device address, two hexadecimal characters per byte, byte 0 first
//   offset  12, 248 bytes: device name, 8-bit text padded with spaces
//   offset 260, 4 bytes: control PSM, hexadecimal, most significant digit first
//   offset 264, 4 bytes: data PSM
//   offset 268, 4 bytes: third value (returned, not used)
//   offset 272, 2 bytes: not interpreted

#include <cstddef>
#include <cstdint>

constexpr size_t DEVICE_RECORD_SIZE = 274;
constexpr size_t DEVICE_ADDRESS_OFFSET = 0;
constexpr size_t DEVICE_NAME_OFFSET = 12;
constexpr size_t DEVICE_NAME_FIELD_SIZE = 248;
constexpr size_t DEVICE_CONTROL_PSM_OFFSET = 260;
constexpr size_t DEVICE_DATA_PSM_OFFSET = 264;
constexpr size_t DEVICE_THIRD_VALUE_OFFSET = 268;

struct DeviceRecord {
    uint8_t address[6];
    char name[DEVICE_NAME_FIELD_SIZE]; // the raw field; TrimDeviceName makes it text
    uint16_t controlPsm;
    uint16_t dataPsm;
    uint16_t thirdValue;
};

// Hexadecimal text to a number: digits weighted 1, 16, 256, ... from the last character;
// 0-9, a-f, A-F only, anything else makes the result -1. Empty text gives 0. Stops at the
// NUL terminator.
long ParseHex(const char* text);

// One field of `length` characters (at most 4) parsed from a NUL-terminated copy, so that
// a NUL inside the field ends its text early. A bad field yields all ones in the kept
// width: 0xFF for an address byte, 0xFFFF for a 16-bit field.
uint8_t ParseHexByte(const uint8_t* field);
uint16_t ParseHexWord(const uint8_t* field);

// The six address bytes of a record, in the order of their pairs in the file.
void ParseDeviceAddress(const uint8_t* record, uint8_t address[6]);

// Every field of a record. `record` must hold DEVICE_RECORD_SIZE bytes.
void ParseDeviceRecord(const uint8_t* record, DeviceRecord* out);

// Cuts the trailing spaces of a 248-byte name field: looks from byte 246 (or from the byte
// before the first NUL among bytes 1 to 246) back to byte 1 for the last byte that is not a
// space and puts a NUL after it (after byte 0 when there is none). The result is
// NUL-terminated, keeps at most 247 bytes and never ends in a space after its first byte.
void TrimDeviceName(char name[DEVICE_NAME_FIELD_SIZE]);

// Makes the bytes beyond a short read of `length` bytes read as absent rather than as what
// the previous record left in the buffer: name bytes become padding spaces, address and
// number bytes NULs (empty text, parsed as 0).
void ClearRecordTail(uint8_t* record, size_t length);

// Writes a whole record as the service discovery program lays it out: the address as 12
// upper-case hexadecimal characters, byte 0 first; the name up to its first NUL (at most
// 248 bytes) padded with spaces; the three values as 4 upper-case hexadecimal characters
// each, most significant digit first; CR LF in the two bytes that are not interpreted.
// ParseDeviceRecord and TrimDeviceName read back what was written for every name of 1 to
// 247 bytes that does not end in a space.
void FormatDeviceRecord(const DeviceRecord& in, uint8_t record[DEVICE_RECORD_SIZE]);

// Problems that make a record malformed, in the order CheckDeviceRecord looks for them.
enum DeviceRecordProblem {
    DEVICE_RECORD_WELL_FORMED = 0,
    DEVICE_RECORD_SHORT,           // fewer than 274 bytes (the file's last record)
    DEVICE_RECORD_BAD_ADDRESS,     // the address is not 12 hexadecimal characters
    DEVICE_RECORD_NO_NAME,         // the name field holds only spaces and NULs
    DEVICE_RECORD_BAD_CONTROL_PSM, // the control PSM is not 4 hexadecimal characters
    DEVICE_RECORD_BAD_DATA_PSM,    // the data PSM is not 4 hexadecimal characters
    DEVICE_RECORD_BAD_THIRD_VALUE, // the third value is not 4 hexadecimal characters
};

// The first problem of a record of `length` bytes (the bytes the file gave for it), or
// DEVICE_RECORD_WELL_FORMED. The reading operations accept every record (a bad field reads
// as all ones); this says which records a person should look at.
DeviceRecordProblem CheckDeviceRecord(const uint8_t* record, size_t length);
// A short English description of a problem: "the address is not 12 hexadecimal digits".
const char* DescribeDeviceRecordProblem(DeviceRecordProblem problem);
