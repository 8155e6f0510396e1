#pragma once
// Writes and reads HCRPDB.txt in the test prefix's Windows directory, the way the service
// discovery program lays it out: 274-byte records, no header.

#include <windows.h>
#include <cstdint>
#include <string>
#include <vector>

namespace testsupport {

struct DeviceEntry {
    uint8_t address[6];
    std::string name;
    uint16_t controlPsm;
    uint16_t dataPsm;
    uint16_t thirdValue;
};

// One 274-byte record: the address as 12 hexadecimal characters (lower case unless
// upperCase), the name padded with spaces (cut at 248 bytes), the three values as 4
// upper-case hexadecimal characters, and two spaces.
std::string FormatRecord(const DeviceEntry& entry, bool upperCase = false);
// An address whose bytes are 00 0a 95 and then the three bytes of `index`, most
// significant first: distinct for every index below 2^24.
DeviceEntry MakeEntry(uint32_t index, const std::string& name, uint16_t controlPsm = 0x1001,
                      uint16_t dataPsm = 0x1003);

// C:\windows\HCRPDB.txt of the prefix.
std::wstring DatabasePath();
// Replaces the file with these bytes / these records. False when the file can't be
// written.
bool WriteDatabaseBytes(const std::string& bytes);
bool WriteDatabase(const std::vector<DeviceEntry>& entries);
bool AppendRecord(const DeviceEntry& entry);
// The file's bytes; empty when it is missing.
std::string ReadDatabaseBytes();
bool DatabaseExists();
void RemoveDatabase();

// The port name that a record's name gives (commas become spaces, bytes widened
// with sign extension as the monitor does).
std::wstring PortNameFor(const std::string& recordName);

} // namespace testsupport
