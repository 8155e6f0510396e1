#pragma once
// Changes to HCRPDB.txt: adding and removing whole records (an administrator's tool), and
// the monitor's removal of a deleted port's record. Nothing is changed in place. The new content is
// written to a copy beside the file (its name with ".new" appended), flushed, and then put in the
// file's place with one MoveFileExW (MOVEFILE_REPLACE_EXISTING), so a reader sees either the old
// file or the new one, never a record cut in two. A failure leaves the file as it was and removes
// the copy.
//
// The file calls go through g_deviceFileCalls (device_database.h), like the monitor's own.

#include <windows.h>
#include <cstdint>

#include "devicedb/device_record.h"

// A whole file read into memory (from the process heap). Records are `recordSize` slots
// from the start; the last one may be short.
struct DeviceFileImage {
    uint8_t* bytes;
    DWORD size;
};

// Reads the whole file at path. A missing file reads as empty and sets *missing (when
// given). FALSE when the file cannot be opened or read (the last error says why; another
// program holding it is tried 3 times, 100 ms apart, as the monitor does).
BOOL ReadDeviceFile(const wchar_t* path, DeviceFileImage* image, BOOL* missing);
void FreeDeviceFile(DeviceFileImage* image);

// Number of records in an image (a short last record counts).
DWORD DeviceRecordCount(const DeviceFileImage& image);
// Record `index` of an image: its bytes and how many the file holds for it (274 but for a
// short last record).
const uint8_t* DeviceRecordAt(const DeviceFileImage& image, DWORD index, DWORD* length);

// The file at path with the record appended: TRUE when it was replaced.
BOOL AppendDeviceRecord(const wchar_t* path, const uint8_t record[DEVICE_RECORD_SIZE]);
// The file at path without record `index` (counted from 0): TRUE when it was replaced.
// ERROR_INVALID_PARAMETER when there is no such record.
BOOL RemoveDeviceRecord(const wchar_t* path, DWORD index);
// The same from an image of the file already read.
BOOL ReplaceWithoutRecord(const wchar_t* path, const DeviceFileImage& image, DWORD index);
