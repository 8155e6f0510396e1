#pragma once
// HCRPDB.txt in the Windows directory: fixed 274-byte records written by the service
// discovery program. A DeviceDatabase is made afresh, on the caller's stack, for each use;
// every operation opens the file, scans it from the start and closes it again.

#include <windows.h>
#include <cstdint>

#include "devicedb/device_record.h"

// FindRecord results.
constexpr int DEVICE_RECORD_FOUND = 2;
constexpr int DEVICE_RECORD_NOT_FOUND = 0;
constexpr int DEVICE_DATABASE_UNREADABLE = -1;
// ReadListing: no memory for the listing.
constexpr int DEVICE_DATABASE_NO_MEMORY = -2;

// Opening: 3 attempts with a 100 ms sleep after each failed one (reading operations).
constexpr int DEVICE_DATABASE_OPEN_ATTEMPTS = 3;
constexpr DWORD DEVICE_DATABASE_RETRY_SLEEP_MS = 100;

// The file calls the accessor makes, so that a test can watch or fail them. Defaults to
// the system's functions.
struct DeviceFileCalls {
    HANDLE(WINAPI* createFile)(LPCWSTR, DWORD, DWORD, LPSECURITY_ATTRIBUTES, DWORD, DWORD, HANDLE);
    BOOL(WINAPI* readFile)(HANDLE, LPVOID, DWORD, LPDWORD, LPOVERLAPPED);
    BOOL(WINAPI* writeFile)(HANDLE, LPCVOID, DWORD, LPDWORD, LPOVERLAPPED);
    VOID(WINAPI* sleep)(DWORD);
};
extern DeviceFileCalls g_deviceFileCalls;

// One record of a listing, as FindRecord would return it: the name without its trailing
// spaces.
struct DeviceListEntry {
    uint8_t address[6];
    uint16_t controlPsm;
    uint16_t dataPsm;
    char name[DEVICE_NAME_FIELD_SIZE];
};

class DeviceDatabase {
  public:
    DeviceDatabase(); // fills the path and sets recordSize

    // Number of records (a short last one included); 0 for an empty file, -1 when the
    // file cannot be opened.
    int CountRecords();
    // Fills up to count 6-byte addresses in file order and zeroes the entries it has no
    // record for; returns the number of records read (may exceed count), -1 when the file
    // cannot be opened.
    int ReadAddresses(int count, uint8_t (*addresses)[6]);
    // name: 248 bytes, receives the record's name without trailing spaces. Returns
    // DEVICE_RECORD_FOUND, DEVICE_RECORD_NOT_FOUND or DEVICE_DATABASE_UNREADABLE (the file
    // could not be opened, or a read failed before the record was found; the thread's
    // error says why); outputs are zeroed unless found.
    int FindRecord(const uint8_t address[6], char* name, uint16_t* controlPsm, uint16_t* dataPsm,
                   uint16_t* thirdValue);
    // Every record in file order, in one pass over the file (opened as CountRecords opens
    // it). *entries receives a block from the process heap, freed with FreeListing (null
    // when there are no records). Returns the number of records, 0 for an empty file,
    // DEVICE_DATABASE_UNREADABLE when the file cannot be opened, sized or read to its end
    // (the thread's error says why), DEVICE_DATABASE_NO_MEMORY when the listing cannot be
    // allocated.
    int ReadListing(DeviceListEntry** entries);
    static void FreeListing(DeviceListEntry* entries);
    // Removes the first record with this address. The file is read whole and its new
    // content written to a copy that then takes its place (device_database_edit.h), so a
    // failure at any step leaves the file as it was. TRUE when a record was removed; FALSE with
    // ERROR_FILE_NOT_FOUND when no record has the address, and with the failed call's error
    // (never 0) when the file could not be read or changed, which then stays as it was.
    BOOL DeleteRecord(const uint8_t address[6]);

    uint8_t record[DEVICE_RECORD_SIZE];
    wchar_t path[300];
    uint32_t recordSize;

  private:
    HANDLE Open(DWORD access, int attempts);
    // One record into `record`: bytes read (0 ends the scan; fewer than recordSize is a
    // short last record, its missing bytes read as zero). A read that fails also sets
    // readFailed.
    DWORD ReadNext(HANDLE file);
    bool readFailed = false;
};
