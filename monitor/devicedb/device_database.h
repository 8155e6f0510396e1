#pragma once
// HCRPDB.txt in the Windows directory: fixed 274-byte records written by the service
// discovery program. A DeviceDatabase is made afresh, on the caller's stack, for each use;
// every operation opens the file, scans it from the start and closes it again.

#include <windows.h>
#include <cstdint>

constexpr uint32_t DEVICE_RECORD_SIZE = 274;
constexpr uint32_t DEVICE_NAME_FIELD_SIZE = 248;

// FindRecord results.
constexpr int DEVICE_RECORD_FOUND = 2;
constexpr int DEVICE_RECORD_NOT_FOUND = 0;
constexpr int DEVICE_DATABASE_UNREADABLE = -1;

class DeviceDatabase {
  public:
    DeviceDatabase();  // fills the path and sets recordSize

    int CountRecords();
    // Fills up to count 6-byte addresses in file order; returns the number of records read
    // (may exceed count), -1 when the file cannot be opened.
    int ReadAddresses(int count, uint8_t (*addresses)[6]);
    // name: 248 bytes, receives the record's name without trailing spaces.
    int FindRecord(const uint8_t address[6], char* name, uint16_t* controlPsm,
                   uint16_t* dataPsm, uint16_t* thirdValue);
    BOOL DeleteRecord(const uint8_t address[6]);

    uint8_t record[DEVICE_RECORD_SIZE];
    wchar_t path[300];
    uint32_t recordSize;
};
