// HCRPDB.txt access: count, list, find and delete device records.

#include "devicedb/device_database.h"
#include "common/memory.h"

#include <cstring>
#include <cwchar>

DeviceFileCalls g_deviceFileCalls = {CreateFileW, ReadFile, WriteFile, Sleep};

namespace {

const wchar_t kFileName[] = L"\\HCRPDB.txt";

bool SameAddress(const uint8_t* a, const uint8_t* b) {
    return memcmp(a, b, 6) == 0;
}

// Writes `length` bytes at `offset` one record slot at a time, so that a slot is either
// written whole or left as it was. Returns the bytes written before the first failure.
DWORD WriteSlots(HANDLE file, DWORD offset, const uint8_t* data, DWORD length, DWORD slot) {
    if (SetFilePointer(file, static_cast<LONG>(offset), nullptr, FILE_BEGIN) ==
        INVALID_SET_FILE_POINTER) {
        return 0;
    }
    DWORD done = 0;
    while (done < length) {
        DWORD piece = length - done < slot ? length - done : slot;
        DWORD written = 0;
        if (!g_deviceFileCalls.writeFile(file, data + done, piece, &written, nullptr) ||
            written != piece) {
            return done + (written < piece ? written : piece);
        }
        done += written;
    }
    return done;
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
    if (result != DEVICE_RECORD_FOUND) {
        memset(name, 0, DEVICE_NAME_FIELD_SIZE);
        *controlPsm = *dataPsm = *thirdValue = 0;
    }
    if (file != INVALID_HANDLE_VALUE) {
        CloseHandle(file);
    }
    return result;
}

int DeviceDatabase::ReadListing(DeviceListEntry** entries) {
    *entries = nullptr;
    HANDLE file = Open(GENERIC_READ | GENERIC_WRITE, DEVICE_DATABASE_OPEN_ATTEMPTS);
    if (file == INVALID_HANDLE_VALUE) {
        return DEVICE_DATABASE_UNREADABLE;
    }
    const DWORD size = GetFileSize(file, nullptr);
    if (size == 0 || size == INVALID_FILE_SIZE) {
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
    CloseHandle(file);
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
    HANDLE file = Open(GENERIC_READ | GENERIC_WRITE, 1);
    if (file == INVALID_HANDLE_VALUE) {
        return FALSE;
    }
    const DWORD size = GetFileSize(file, nullptr);
    if (size == 0 || size == INVALID_FILE_SIZE) {
        CloseHandle(file);
        return FALSE;
    }
    // Find the record: it starts at `start` and is `length` bytes long.
    DWORD total = 0;
    DWORD start = 0;
    DWORD length = 0;
    bool found = false;
    DWORD bytes;
    while ((bytes = ReadNext(file)) != 0) {
        uint8_t recordAddress[6];
        ParseDeviceAddress(record, recordAddress);
        if (SameAddress(recordAddress, address)) {
            start = total;
            length = bytes;
            found = true;
            break;
        }
        total += bytes;
        if (bytes < recordSize) {
            break;
        }
    }
    if (!found) {
        CloseHandle(file);
        return FALSE;
    }
    const DWORD rest = start + length < size ? size - (start + length) : 0;
    if (rest == 0) {
        // The last record: just cut the file.
        BOOL cut = SetFilePointer(file, static_cast<LONG>(start), nullptr, FILE_BEGIN) !=
                       INVALID_SET_FILE_POINTER &&
                   SetEndOfFile(file);
        CloseHandle(file);
        return cut;
    }
    // Read everything from the removed record to the end before writing anything: a read
    // failure then leaves the file as it was, and the original bytes are at hand to undo a
    // write that fails half-way.
    WorkMemory originalMemory;
    if (!originalMemory.Allocate(length + rest)) {
        CloseHandle(file);
        return FALSE;
    }
    auto* original = originalMemory.as<uint8_t>();
    memcpy(original, record, length);
    uint8_t* moved = original + length;
    DWORD have = 0;
    while (have < rest) {
        DWORD piece = rest - have < recordSize ? rest - have : recordSize;
        DWORD got = 0;
        if (!g_deviceFileCalls.readFile(file, moved + have, piece, &got, nullptr) || got == 0) {
            break;
        }
        have += got;
    }
    BOOL removed = FALSE;
    if (have == rest) {
        DWORD written = WriteSlots(file, start, moved, rest, recordSize);
        if (written == rest &&
            SetFilePointer(file, static_cast<LONG>(start + rest), nullptr, FILE_BEGIN) !=
                INVALID_SET_FILE_POINTER &&
            SetEndOfFile(file)) {
            removed = TRUE;
        } else {
            // Put back what was overwritten. The slots that took the move take the
            // original again; the write that failed wrote its slot whole or not at all.
            DWORD error = GetLastError();
            DWORD undo = written < rest ? written : rest;
            WriteSlots(file, start, original, undo, recordSize);
            SetLastError(error);
        }
    }
    CloseHandle(file);
    return removed;
}
