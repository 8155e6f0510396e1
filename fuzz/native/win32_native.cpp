// Stand-ins for the few kernel calls that the natively built monitor code and its pure
// tests make: memory from the C library and mmap, the thread's error code, and the
// library's string table.

#include <windows.h>

#include <sys/mman.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>

#include "resources/resource_ids.h"

HINSTANCE g_moduleHandle;

namespace {

thread_local DWORD t_lastError;

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

// The global-memory helper of the port code (ports/port_record.cpp), over GlobalAlloc.
void* AllocZeroedMemory(size_t bytes) {
    void* block = GlobalAlloc(GMEM_FIXED, bytes);
    if (block != nullptr) {
        memset(block, 0, bytes);
    }
    return block;
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
