// HCRPDB.txt changed by writing a copy and putting it in the file's place.

#include "devicedb/device_database_edit.h"
#include "common/memory.h"

#include "devicedb/device_database.h"

#include <cstring>
#include <cwchar>

namespace {

const wchar_t kCopySuffix[] = L".new";

// path + ".new" into copy (capacity characters); FALSE when it does not fit.
BOOL CopyPathOf(const wchar_t* path, wchar_t* copy, size_t capacity) {
    size_t length = wcslen(path);
    size_t suffix = sizeof(kCopySuffix) / sizeof(kCopySuffix[0]);
    if (length == 0 || length + suffix > capacity) {
        SetLastError(ERROR_FILENAME_EXCED_RANGE);
        return FALSE;
    }
    memcpy(copy, path, length * sizeof(wchar_t));
    memcpy(copy + length, kCopySuffix, suffix * sizeof(wchar_t));
    return TRUE;
}

// Writes `first` then `second` (either may be empty) to the copy and puts it in the file's
// place.
BOOL WriteAndReplace(const wchar_t* path, const uint8_t* first, DWORD firstSize,
                     const uint8_t* second, DWORD secondSize) {
    wchar_t copy[MAX_PATH + 8];
    if (!CopyPathOf(path, copy, sizeof(copy) / sizeof(copy[0]))) {
        return FALSE;
    }
    HANDLE file = g_deviceFileCalls.createFile(copy, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                               FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        return FALSE;
    }
    const uint8_t* parts[2] = {first, second};
    const DWORD sizes[2] = {firstSize, secondSize};
    BOOL ok = TRUE;
    for (int part = 0; part < 2 && ok; ++part) {
        DWORD done = 0;
        while (ok && done < sizes[part]) {
            DWORD written = 0;
            ok = g_deviceFileCalls.writeFile(file, parts[part] + done, sizes[part] - done, &written,
                                             nullptr) &&
                 written > 0;
            if (ok) {
                done += written;
            } else if (GetLastError() == ERROR_SUCCESS) {
                SetLastError(ERROR_WRITE_FAULT);
            }
        }
    }
    ok = ok && FlushFileBuffers(file);
    DWORD error = GetLastError();
    CloseHandle(file);
    if (ok) {
        // The monitor holds the file only for the length of one operation: try again as its
        // own readers do.
        for (int attempt = 0; attempt < DEVICE_DATABASE_OPEN_ATTEMPTS; ++attempt) {
            ok = MoveFileExW(copy, path, MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH);
            if (ok) {
                return TRUE;
            }
            error = GetLastError();
            g_deviceFileCalls.sleep(DEVICE_DATABASE_RETRY_SLEEP_MS);
        }
    }
    DeleteFileW(copy);
    SetLastError(error);
    return FALSE;
}

} // namespace

BOOL ReadDeviceFile(const wchar_t* path, DeviceFileImage* image, BOOL* missing) {
    image->bytes = nullptr;
    image->size = 0;
    if (missing != nullptr) {
        *missing = FALSE;
    }
    HANDLE file = INVALID_HANDLE_VALUE;
    for (int attempt = 0; attempt < DEVICE_DATABASE_OPEN_ATTEMPTS; ++attempt) {
        file = g_deviceFileCalls.createFile(path, GENERIC_READ, FILE_SHARE_READ, nullptr,
                                            OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
        if (file != INVALID_HANDLE_VALUE) {
            break;
        }
        DWORD error = GetLastError();
        if (error == ERROR_FILE_NOT_FOUND) {
            if (missing != nullptr) {
                *missing = TRUE;
            }
            return TRUE;
        }
        g_deviceFileCalls.sleep(DEVICE_DATABASE_RETRY_SLEEP_MS);
        SetLastError(error);
    }
    if (file == INVALID_HANDLE_VALUE) {
        return FALSE;
    }
    DWORD size = GetFileSize(file, nullptr);
    if (size == INVALID_FILE_SIZE) {
        DWORD error = GetLastError();
        CloseHandle(file);
        SetLastError(error);
        return FALSE;
    }
    uint8_t* bytes = nullptr;
    if (size > 0) {
        bytes = static_cast<uint8_t*>(AllocWorkMemory(size));
        if (bytes == nullptr) {
            CloseHandle(file);
            return FALSE;
        }
    }
    DWORD have = 0;
    while (have < size) {
        DWORD got = 0;
        if (!g_deviceFileCalls.readFile(file, bytes + have, size - have, &got, nullptr) ||
            got == 0) {
            break;
        }
        have += got;
    }
    DWORD error = GetLastError();
    CloseHandle(file);
    if (have != size) {
        // Another program cut the file while it was read: no image of half a file.
        FreeWorkMemory(bytes);
        SetLastError(error != ERROR_SUCCESS ? error : static_cast<DWORD>(ERROR_READ_FAULT));
        return FALSE;
    }
    image->bytes = bytes;
    image->size = size;
    return TRUE;
}

void FreeDeviceFile(DeviceFileImage* image) {
    FreeWorkMemory(image->bytes);
    image->bytes = nullptr;
    image->size = 0;
}

DWORD DeviceRecordCount(const DeviceFileImage& image) {
    return static_cast<DWORD>((image.size + DEVICE_RECORD_SIZE - 1) / DEVICE_RECORD_SIZE);
}

const uint8_t* DeviceRecordAt(const DeviceFileImage& image, DWORD index, DWORD* length) {
    DWORD start = index * static_cast<DWORD>(DEVICE_RECORD_SIZE);
    if (index >= DeviceRecordCount(image)) {
        *length = 0;
        return nullptr;
    }
    DWORD rest = image.size - start;
    *length = rest < DEVICE_RECORD_SIZE ? rest : static_cast<DWORD>(DEVICE_RECORD_SIZE);
    return image.bytes + start;
}

BOOL AppendDeviceRecord(const wchar_t* path, const uint8_t record[DEVICE_RECORD_SIZE]) {
    DeviceFileImage image;
    if (!ReadDeviceFile(path, &image, nullptr)) {
        return FALSE;
    }
    BOOL ok = WriteAndReplace(path, image.bytes, image.size, record,
                              static_cast<DWORD>(DEVICE_RECORD_SIZE));
    DWORD error = GetLastError();
    FreeDeviceFile(&image);
    SetLastError(error);
    return ok;
}

BOOL ReplaceWithoutRecord(const wchar_t* path, const DeviceFileImage& image, DWORD index) {
    DWORD length = 0;
    if (DeviceRecordAt(image, index, &length) == nullptr) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    DWORD start = index * static_cast<DWORD>(DEVICE_RECORD_SIZE);
    DWORD after = start + length;
    return WriteAndReplace(path, image.bytes, start, image.bytes + after, image.size - after);
}

BOOL RemoveDeviceRecord(const wchar_t* path, DWORD index) {
    DeviceFileImage image;
    if (!ReadDeviceFile(path, &image, nullptr)) {
        return FALSE;
    }
    BOOL ok = ReplaceWithoutRecord(path, image, index);
    DWORD error = GetLastError();
    FreeDeviceFile(&image);
    SetLastError(error);
    return ok;
}
