// HCRPDB.txt access: count, list, find and delete device records.

#include "devicedb/device_database.h"
#include "common/last_error.h"
#include "devicedb/device_database_edit.h"
#include "common/memory.h"

#include <cstring>
#include <cwchar>

namespace {

// Thin wrappers, so that each call goes through the import table when it is made (a host
// that rebinds the library's imports after loading it reaches these calls too).
HANDLE WINAPI CallCreateFile(LPCWSTR path, DWORD access, DWORD share,
                             LPSECURITY_ATTRIBUTES security, DWORD disposition, DWORD flags,
                             HANDLE templateFile) {
    return CreateFileW(path, access, share, security, disposition, flags, templateFile);
}
BOOL WINAPI CallReadFile(HANDLE file, LPVOID buffer, DWORD size, LPDWORD done,
                         LPOVERLAPPED overlapped) {
    return ReadFile(file, buffer, size, done, overlapped);
}
BOOL WINAPI CallWriteFile(HANDLE file, LPCVOID buffer, DWORD size, LPDWORD done,
                          LPOVERLAPPED overlapped) {
    return WriteFile(file, buffer, size, done, overlapped);
}
VOID WINAPI CallSleep(DWORD milliseconds) {
    Sleep(milliseconds);
}

} // namespace

DeviceFileCalls g_deviceFileCalls = {CallCreateFile, CallReadFile, CallWriteFile, CallSleep};

namespace {

const wchar_t kFileName[] = L"\\HCRPDB.txt";

// FALSE with the thread's error, or `fallback` where the failed call left none.
BOOL Failed(DWORD fallback) {
    SetLastError(LastErrorOr(fallback));
    return FALSE;
}

bool SameAddress(const uint8_t* a, const uint8_t* b) {
    return memcmp(a, b, 6) == 0;
}

} // namespace

DeviceDatabase::DeviceDatabase() : record{}, path{}, recordSize(DEVICE_RECORD_SIZE) {
    const UINT capacity = sizeof(path) / sizeof(path[0]);
    UINT length = GetWindowsDirectoryW(path, capacity);
    const UINT suffix = sizeof(kFileName) / sizeof(kFileName[0]); // terminator included
    if (length == 0 || length + suffix > capacity) {
        // No usable Windows directory: an empty path that every open fails on.
        path[0] = L'\0';
        return;
    }
    wcscat(path, kFileName);
}

HANDLE DeviceDatabase::Open(DWORD access, int attempts) {
    for (int attempt = 0; attempt < attempts; ++attempt) {
        HANDLE file = g_deviceFileCalls.createFile(path, access, FILE_SHARE_READ, nullptr,
                                                   OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
        if (file != INVALID_HANDLE_VALUE) {
            return file;
        }
        if (attempts > 1) {
            g_deviceFileCalls.sleep(DEVICE_DATABASE_RETRY_SLEEP_MS);
        }
    }
    return INVALID_HANDLE_VALUE;
}

DWORD DeviceDatabase::ReadNext(HANDLE file) {
    DWORD bytes = 0;
    if (!g_deviceFileCalls.readFile(file, record, recordSize, &bytes, nullptr)) {
        readFailed = true;
        return 0;
    }
    ClearRecordTail(record, bytes);
    return bytes;
}

int DeviceDatabase::CountRecords() {
    HANDLE file = Open(GENERIC_READ | GENERIC_WRITE, DEVICE_DATABASE_OPEN_ATTEMPTS);
    if (file == INVALID_HANDLE_VALUE) {
        return -1;
    }
    int count = 0;
    if (GetFileSize(file, nullptr) != 0) {
        DWORD bytes;
        while ((bytes = ReadNext(file)) != 0) {
            ++count;
            if (bytes < recordSize) {
                break;
            }
        }
    }
    CloseHandle(file);
    return count;
}

int DeviceDatabase::ReadAddresses(int count, uint8_t (*addresses)[6]) {
    const int room = (count > 0 && addresses != nullptr) ? count : 0;
    HANDLE file = Open(GENERIC_READ, DEVICE_DATABASE_OPEN_ATTEMPTS);
    if (file == INVALID_HANDLE_VALUE) {
        if (room > 0) {
            memset(addresses, 0, static_cast<size_t>(room) * 6);
        }
        return -1;
    }
    int read = 0;
    if (GetFileSize(file, nullptr) != 0) {
        DWORD bytes;
        while ((bytes = ReadNext(file)) != 0) {
            if (read < room) {
                ParseDeviceAddress(record, addresses[read]);
            }
            ++read;
            if (bytes < recordSize) {
                break;
            }
        }
    }
    if (read < room) {
        memset(addresses[read], 0, static_cast<size_t>(room - read) * 6);
    }
    CloseHandle(file);
    return read;
}

int DeviceDatabase::FindRecord(const uint8_t address[6], char* name, uint16_t* controlPsm,
                               uint16_t* dataPsm, uint16_t* thirdValue) {
    HANDLE file = Open(GENERIC_READ | GENERIC_WRITE, DEVICE_DATABASE_OPEN_ATTEMPTS);
    int result =
        file == INVALID_HANDLE_VALUE ? DEVICE_DATABASE_UNREADABLE : DEVICE_RECORD_NOT_FOUND;
    readFailed = false;
    if (file != INVALID_HANDLE_VALUE && GetFileSize(file, nullptr) != 0) {
        DWORD bytes;
        while ((bytes = ReadNext(file)) != 0) {
            DeviceRecord parsed;
            ParseDeviceRecord(record, &parsed);
            if (SameAddress(parsed.address, address)) {
                memcpy(name, parsed.name, DEVICE_NAME_FIELD_SIZE);
                TrimDeviceName(name);
                *controlPsm = parsed.controlPsm;
                *dataPsm = parsed.dataPsm;
                *thirdValue = parsed.thirdValue;
                result = DEVICE_RECORD_FOUND;
                break;
            }
            if (bytes < recordSize) {
                break;
            }
        }
    }
    if (result == DEVICE_RECORD_NOT_FOUND && readFailed) {
        // The record may be in the part that could not be read.
        result = DEVICE_DATABASE_UNREADABLE;
        Failed(ERROR_READ_FAULT);
    }
    if (result != DEVICE_RECORD_FOUND) {
        memset(name, 0, DEVICE_NAME_FIELD_SIZE);
        *controlPsm = *dataPsm = *thirdValue = 0;
    }
    if (file != INVALID_HANDLE_VALUE) {
        const DWORD error = GetLastError();
        CloseHandle(file);
        SetLastError(error);
    }
    return result;
}

int DeviceDatabase::ReadListing(DeviceListEntry** entries) {
    *entries = nullptr;
    HANDLE file = Open(GENERIC_READ | GENERIC_WRITE, DEVICE_DATABASE_OPEN_ATTEMPTS);
    if (file == INVALID_HANDLE_VALUE) {
        if (GetLastError() == ERROR_SUCCESS) {
            SetLastError(ERROR_OPEN_FAILED);
        }
        return DEVICE_DATABASE_UNREADABLE;
    }
    const DWORD size = GetFileSize(file, nullptr);
    if (size == INVALID_FILE_SIZE) {
        // The printers the file lists are not known: not the same as a file that lists none.
        const DWORD error = LastErrorOr(ERROR_READ_FAULT);
        CloseHandle(file);
        SetLastError(error);
        return DEVICE_DATABASE_UNREADABLE;
    }
    if (size == 0) {
        CloseHandle(file);
        return 0;
    }
    // Room for every record the file holds now, a short last one included; records that
    // appear while it is read are left for the next listing.
    const DWORD room = size / recordSize + (size % recordSize != 0 ? 1 : 0);
    auto* listing = static_cast<DeviceListEntry*>(
        AllocWorkMemory(static_cast<size_t>(room) * sizeof(DeviceListEntry)));
    if (listing == nullptr) {
        CloseHandle(file);
        return DEVICE_DATABASE_NO_MEMORY;
    }
    DWORD count = 0;
    DWORD bytes;
    readFailed = false;
    while (count < room && (bytes = ReadNext(file)) != 0) {
        DeviceRecord parsed;
        ParseDeviceRecord(record, &parsed);
        DeviceListEntry& entry = listing[count++];
        memcpy(entry.address, parsed.address, 6);
        entry.controlPsm = parsed.controlPsm;
        entry.dataPsm = parsed.dataPsm;
        memcpy(entry.name, parsed.name, DEVICE_NAME_FIELD_SIZE);
        TrimDeviceName(entry.name);
        if (bytes < recordSize) {
            break;
        }
    }
    const DWORD readError = LastErrorOr(ERROR_READ_FAULT);
    CloseHandle(file);
    if (readFailed) {
        // A listing cut short by a failed read would pass for the printers that left.
        FreeWorkMemory(listing);
        SetLastError(readError);
        return DEVICE_DATABASE_UNREADABLE;
    }
    if (count == 0) {
        FreeWorkMemory(listing);
        return 0;
    }
    *entries = listing;
    return static_cast<int>(count);
}

void DeviceDatabase::FreeListing(DeviceListEntry* entries) {
    FreeWorkMemory(entries);
}

BOOL DeviceDatabase::DeleteRecord(const uint8_t address[6]) {
    DeviceFileImage image;
    if (!ReadDeviceFile(path, &image, nullptr)) {
        return Failed(ERROR_READ_FAULT);
    }
    const DWORD count = DeviceRecordCount(image);
    for (DWORD index = 0; index < count; ++index) {
        DWORD length = 0;
        const uint8_t* bytes = DeviceRecordAt(image, index, &length);
        memcpy(record, bytes, length);
        ClearRecordTail(record, length);
        uint8_t recordAddress[6];
        ParseDeviceAddress(record, recordAddress);
        if (SameAddress(recordAddress, address)) {
            const BOOL removed = ReplaceWithoutRecord(path, image, index);
            const DWORD error = GetLastError();
            FreeDeviceFile(&image);
            SetLastError(error);
            return removed ? TRUE : Failed(ERROR_WRITE_FAULT);
        }
    }
    FreeDeviceFile(&image);
    SetLastError(ERROR_FILE_NOT_FOUND);
    return FALSE;
}
