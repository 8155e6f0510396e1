// Stand-ins for the few kernel calls that the natively built monitor code and its pure
// tests make: memory from the C library and mmap, the thread's error code, and the
// library's string table.

#include <windows.h>

#include <sys/mman.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <cwchar>

#include "memory_file.h"
#include "resources/resource_ids.h"

HINSTANCE g_moduleHandle;

namespace {

thread_local DWORD t_lastError;

std::vector<uint8_t> g_file;
// The copy that an edit writes beside the file (a name ending in ".new") and puts in its
// place with MoveFileExW.
std::vector<uint8_t> g_copy;
size_t g_position;
unsigned g_writesUntilFailure;
int g_openHandles;
HANDLE const kFileHandle = reinterpret_cast<HANDLE>(0x100);
HANDLE const kCopyHandle = reinterpret_cast<HANDLE>(0x200);

bool IsCopyName(LPCWSTR name) {
    const size_t length = name != nullptr ? wcslen(name) : 0;
    return length >= 4 && wcscmp(name + length - 4, L".new") == 0;
}

// The contents behind a handle, or null for a handle that is not a file's.
std::vector<uint8_t>* Contents(HANDLE file) {
    return file == kFileHandle ? &g_file : file == kCopyHandle ? &g_copy : nullptr;
}
int g_heap;

int Protection(DWORD protect) {
    return protect == PAGE_NOACCESS ? PROT_NONE : PROT_READ | PROT_WRITE;
}

} // namespace

void WINAPI GetSystemInfo(SYSTEM_INFO* info) {
    memset(info, 0, sizeof(*info));
    info->dwPageSize = static_cast<DWORD>(sysconf(_SC_PAGESIZE));
    info->dwNumberOfProcessors = 1;
    info->dwAllocationGranularity = 65536;
}

LPVOID WINAPI VirtualAlloc(LPVOID, SIZE_T size, DWORD, DWORD protect) {
    void* block = mmap(nullptr, size, Protection(protect), MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    return block == MAP_FAILED ? nullptr : block;
}

BOOL WINAPI VirtualProtect(LPVOID address, SIZE_T size, DWORD protect, DWORD* old) {
    *old = PAGE_READWRITE;
    return mprotect(address, size, Protection(protect)) == 0;
}

BOOL WINAPI VirtualFree(LPVOID address, SIZE_T size, DWORD) {
    return munmap(address, size) == 0;
}

HGLOBAL WINAPI GlobalAlloc(UINT, SIZE_T bytes) {
    return malloc(bytes == 0 ? 1 : bytes);
}

HGLOBAL WINAPI GlobalFree(HGLOBAL block) {
    free(block);
    return nullptr;
}

int WINAPI LoadStringW(HINSTANCE, UINT id, LPWSTR buffer, int capacity) {
    const wchar_t* text = id == IDS_MONITOR_NAME       ? L"Bluetooth Monitor"
                          : id == IDS_PORT_DESCRIPTION ? L"Bluetooth Port"
                                                       : nullptr;
    if (text == nullptr || capacity <= 0) {
        return 0;
    }
    int length = static_cast<int>(wcslen(text));
    if (length > capacity - 1) {
        length = capacity - 1;
    }
    memcpy(buffer, text, length * sizeof(wchar_t));
    buffer[length] = 0;
    return length;
}

DWORD WINAPI GetLastError() {
    return t_lastError;
}

void WINAPI SetLastError(DWORD code) {
    t_lastError = code;
}

HANDLE WINAPI GetProcessHeap() {
    return &g_heap;
}

LPVOID WINAPI HeapAlloc(HANDLE, DWORD, SIZE_T bytes) {
    return malloc(bytes == 0 ? 1 : bytes);
}

BOOL WINAPI HeapFree(HANDLE, DWORD, LPVOID block) {
    free(block);
    return TRUE;
}

VOID WINAPI Sleep(DWORD) {}

UINT WINAPI GetWindowsDirectoryW(LPWSTR buffer, UINT capacity) {
    static const wchar_t directory[] = L"C:\\windows";
    const UINT length = sizeof(directory) / sizeof(directory[0]) - 1;
    if (capacity <= length) {
        return length + 1;
    }
    memcpy(buffer, directory, sizeof(directory));
    return length;
}

void SetMemoryFile(const uint8_t* data, size_t size) {
    g_file.assign(data, data + size);
    g_position = 0;
    g_writesUntilFailure = 0;
}

const std::vector<uint8_t>& MemoryFile() {
    return g_file;
}

void FailMemoryFileWrite(unsigned writeNumber) {
    g_writesUntilFailure = writeNumber;
}

int OpenMemoryFileHandles() {
    return g_openHandles;
}

HANDLE WINAPI CreateFileW(LPCWSTR name, DWORD, DWORD, LPSECURITY_ATTRIBUTES, DWORD disposition,
                          DWORD, HANDLE) {
    g_position = 0;
    ++g_openHandles;
    if (IsCopyName(name)) {
        if (disposition == CREATE_ALWAYS) {
            g_copy.clear();
        }
        return kCopyHandle;
    }
    return kFileHandle;
}

BOOL WINAPI ReadFile(HANDLE file, LPVOID buffer, DWORD size, LPDWORD read, LPOVERLAPPED) {
    const std::vector<uint8_t>* contents = Contents(file);
    if (contents == nullptr) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    const size_t available = g_position < contents->size() ? contents->size() - g_position : 0;
    const size_t count = size < available ? size : available;
    if (count != 0) {
        memcpy(buffer, contents->data() + g_position, count);
    }
    g_position += count;
    *read = static_cast<DWORD>(count);
    return TRUE;
}

BOOL WINAPI WriteFile(HANDLE file, LPCVOID buffer, DWORD size, LPDWORD written, LPOVERLAPPED) {
    *written = 0;
    std::vector<uint8_t>* contents = Contents(file);
    if (contents == nullptr) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    if (g_writesUntilFailure != 0 && --g_writesUntilFailure == 0) {
        SetLastError(ERROR_WRITE_FAULT);
        return FALSE;
    }
    if (g_position + size > contents->size()) {
        contents->resize(g_position + size);
    }
    if (size != 0) {
        memcpy(contents->data() + g_position, buffer, size);
    }
    g_position += size;
    *written = size;
    return TRUE;
}

DWORD WINAPI GetFileSize(HANDLE file, LPDWORD high) {
    if (high != nullptr) {
        *high = 0;
    }
    const std::vector<uint8_t>* contents = Contents(file);
    return contents != nullptr ? static_cast<DWORD>(contents->size()) : INVALID_FILE_SIZE;
}

DWORD WINAPI SetFilePointer(HANDLE file, LONG distance, PLONG, DWORD method) {
    if (Contents(file) == nullptr || method != FILE_BEGIN || distance < 0) {
        return INVALID_SET_FILE_POINTER;
    }
    g_position = static_cast<size_t>(distance);
    return static_cast<DWORD>(distance);
}

BOOL WINAPI SetEndOfFile(HANDLE file) {
    std::vector<uint8_t>* contents = Contents(file);
    if (contents == nullptr) {
        return FALSE;
    }
    contents->resize(g_position);
    return TRUE;
}

BOOL WINAPI FlushFileBuffers(HANDLE file) {
    return Contents(file) != nullptr;
}

BOOL WINAPI MoveFileExW(LPCWSTR from, LPCWSTR to, DWORD) {
    if (!IsCopyName(from) || IsCopyName(to)) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    g_file.swap(g_copy);
    g_copy.clear();
    return TRUE;
}

BOOL WINAPI DeleteFileW(LPCWSTR name) {
    if (IsCopyName(name)) {
        g_copy.clear();
    }
    return TRUE;
}

BOOL WINAPI CloseHandle(HANDLE handle) {
    if (handle == kFileHandle || handle == kCopyHandle) {
        --g_openHandles;
        return TRUE;
    }
    return FALSE;
}
