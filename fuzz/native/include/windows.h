#pragma once
// The Windows types, constants and the few declarations that the monitor's pure code and
// its port records use, for a native Linux build (clang -m64 or -m32, -fshort-wchar) of that
// code under the sanitizers and libFuzzer. Sizes and layouts are those of 64-bit Windows in a
// -m64 build and of 32-bit Windows in a -m32 build; the functions are stand-ins in
// win32_native.cpp.
//
// Linux x86-64 is LP64 where Windows is LLP64: `long` is 64-bit here but 32-bit on Windows.
// So no Windows type below is built on `long`: DWORD, LONG and ULONG are fixed 32-bit types,
// and only the pointer-wide ones (ULONG_PTR, SIZE_T, DWORD_PTR, HANDLE) follow the pointer.

#include <cstddef>
#include <cstdint>

#if !defined(__x86_64__) && !defined(__i386__)
#error "the native build is for x86: -m64 (the x64 layouts) or -m32 (the i686 layouts)"
#endif

// Only 32-bit x86 has a separate stdcall convention; x64 has one convention, and clang warns
// about the attribute there.
#ifdef __i386__
#define WINAPI __attribute__((stdcall))
#else
#define WINAPI
#endif
#define CALLBACK WINAPI
#define VOID void
#define TRUE 1
#define FALSE 0
#define MAXDWORD 0xFFFFFFFFu

typedef int32_t BOOL;
typedef uint8_t BYTE;
typedef uint16_t WORD;
typedef uint32_t DWORD;
typedef int32_t LONG;
typedef uint32_t UINT;
typedef uint32_t ULONG;
typedef intptr_t LONG_PTR;
typedef uintptr_t ULONG_PTR;
typedef uintptr_t DWORD_PTR;
typedef intptr_t INT_PTR;
typedef uintptr_t SIZE_T;
typedef DWORD ACCESS_MASK;
typedef void* HANDLE;
typedef HANDLE* PHANDLE;
typedef HANDLE HINSTANCE;
typedef HANDLE HMODULE;
typedef HANDLE HWND;
typedef HANDLE HKEY;
typedef HANDLE HGLOBAL;
typedef BYTE* PBYTE;
typedef BYTE* LPBYTE;
typedef DWORD* PDWORD;
typedef DWORD* LPDWORD;
typedef void* LPVOID;
typedef char* LPSTR;
typedef const char* LPCSTR;
typedef wchar_t WCHAR;
typedef wchar_t* LPWSTR;
typedef const wchar_t* LPCWSTR;
typedef INT_PTR(WINAPI* FARPROC)();
typedef const void* LPCVOID;
typedef struct SECURITY_ATTRIBUTES* LPSECURITY_ATTRIBUTES;
typedef struct OVERLAPPED* LPOVERLAPPED;
typedef LONG* PLONG;

struct CRITICAL_SECTION {
    void* debugInfo;
    LONG lockCount;
    LONG recursionCount;
    HANDLE owningThread;
    HANDLE lockSemaphore;
    ULONG_PTR spinCount;
};

struct COMMTIMEOUTS {
    DWORD ReadIntervalTimeout;
    DWORD ReadTotalTimeoutMultiplier;
    DWORD ReadTotalTimeoutConstant;
    DWORD WriteTotalTimeoutMultiplier;
    DWORD WriteTotalTimeoutConstant;
};
typedef COMMTIMEOUTS* LPCOMMTIMEOUTS;

struct SYSTEM_INFO {
    WORD wProcessorArchitecture;
    WORD wReserved;
    DWORD dwPageSize;
    LPVOID lpMinimumApplicationAddress;
    LPVOID lpMaximumApplicationAddress;
    ULONG_PTR dwActiveProcessorMask;
    DWORD dwNumberOfProcessors;
    DWORD dwProcessorType;
    DWORD dwAllocationGranularity;
    WORD wProcessorLevel;
    WORD wProcessorRevision;
};

// The Windows widths, whatever the C library's `long` is, and the layouts as mingw-w64's
// headers give them for each architecture.
static_assert(sizeof(DWORD) == 4 && sizeof(LONG) == 4 && sizeof(ULONG) == 4 && sizeof(BOOL) == 4,
              "32-bit on Windows at both widths");
static_assert(sizeof(ULONG_PTR) == sizeof(void*) && sizeof(SIZE_T) == sizeof(void*) &&
                  sizeof(DWORD_PTR) == sizeof(void*) && sizeof(HANDLE) == sizeof(void*),
              "pointer-wide");
#ifdef __x86_64__
static_assert(sizeof(void*) == 8, "-m64: the x64 layouts");
static_assert(sizeof(CRITICAL_SECTION) == 40, "CRITICAL_SECTION is 40 bytes on x64");
static_assert(offsetof(CRITICAL_SECTION, owningThread) == 16, "CRITICAL_SECTION.OwningThread");
static_assert(offsetof(CRITICAL_SECTION, spinCount) == 32, "CRITICAL_SECTION.SpinCount");
static_assert(sizeof(SYSTEM_INFO) == 48, "SYSTEM_INFO is 48 bytes on x64");
static_assert(offsetof(SYSTEM_INFO, dwNumberOfProcessors) == 32,
              "SYSTEM_INFO.dwNumberOfProcessors");
#else
static_assert(sizeof(void*) == 4, "-m32: the i686 layouts");
static_assert(sizeof(CRITICAL_SECTION) == 24, "CRITICAL_SECTION is 24 bytes on i686");
static_assert(offsetof(CRITICAL_SECTION, owningThread) == 12, "CRITICAL_SECTION.OwningThread");
static_assert(offsetof(CRITICAL_SECTION, spinCount) == 20, "CRITICAL_SECTION.SpinCount");
static_assert(sizeof(SYSTEM_INFO) == 36, "SYSTEM_INFO is 36 bytes on i686");
static_assert(offsetof(SYSTEM_INFO, dwNumberOfProcessors) == 20,
              "SYSTEM_INFO.dwNumberOfProcessors");
#endif
static_assert(sizeof(COMMTIMEOUTS) == 20, "COMMTIMEOUTS holds no pointer");

#define MEM_COMMIT 0x1000
#define MEM_RESERVE 0x2000
#define MEM_RELEASE 0x8000
#define PAGE_NOACCESS 0x01
#define PAGE_READWRITE 0x04
#define GMEM_FIXED 0
#define INVALID_HANDLE_VALUE (reinterpret_cast<HANDLE>(static_cast<intptr_t>(-1)))
#define INVALID_FILE_SIZE 0xFFFFFFFFu
#define INVALID_SET_FILE_POINTER 0xFFFFFFFFu
#define GENERIC_READ 0x80000000u
#define GENERIC_WRITE 0x40000000u
#define FILE_SHARE_READ 0x1
#define CREATE_ALWAYS 2
#define OPEN_EXISTING 3
#define OPEN_ALWAYS 4
#define MOVEFILE_REPLACE_EXISTING 0x1
#define MOVEFILE_WRITE_THROUGH 0x8
#define MAX_PATH 260
#define FILE_ATTRIBUTE_NORMAL 0x80
#define FILE_BEGIN 0

// Without the SDK's L suffix: a long constant is 64-bit on LP64 Linux but 32-bit on Windows,
// where an int has the same width.
#define ERROR_SUCCESS 0
#define ERROR_FILE_NOT_FOUND 2
#define ERROR_INVALID_HANDLE 6
#define ERROR_NOT_ENOUGH_MEMORY 8
#define ERROR_INVALID_PARAMETER 87
#define ERROR_INSUFFICIENT_BUFFER 122
#define ERROR_INVALID_NAME 123
#define ERROR_WRITE_FAULT 29
#define ERROR_READ_FAULT 30
#define ERROR_OPEN_FAILED 110
#define ERROR_FILENAME_EXCED_RANGE 206

// Stand-ins (win32_native.cpp): memory from the C library and mmap, a per-thread error.
void WINAPI GetSystemInfo(SYSTEM_INFO* info);
LPVOID WINAPI VirtualAlloc(LPVOID address, SIZE_T size, DWORD type, DWORD protect);
BOOL WINAPI VirtualProtect(LPVOID address, SIZE_T size, DWORD protect, DWORD* old);
BOOL WINAPI VirtualFree(LPVOID address, SIZE_T size, DWORD type);
HGLOBAL WINAPI GlobalAlloc(UINT flags, SIZE_T bytes);
HGLOBAL WINAPI GlobalFree(HGLOBAL block);
// The string table of PRNLINK.DLL (resources/prnlink.rc), as LoadStringW copies it.
int WINAPI LoadStringW(HINSTANCE instance, UINT id, LPWSTR buffer, int capacity);
DWORD WINAPI GetLastError();
HANDLE WINAPI GetProcessHeap();
LPVOID WINAPI HeapAlloc(HANDLE heap, DWORD flags, SIZE_T bytes);
BOOL WINAPI HeapFree(HANDLE heap, DWORD flags, LPVOID block);
VOID WINAPI Sleep(DWORD milliseconds);
UINT WINAPI GetWindowsDirectoryW(LPWSTR buffer, UINT capacity);
// Files: one file in memory (memory_file.h), whatever the name, and the copy an edit writes
// beside it (a name ending in ".new"), which MoveFileExW puts in its place.
HANDLE WINAPI CreateFileW(LPCWSTR name, DWORD access, DWORD share, LPSECURITY_ATTRIBUTES security,
                          DWORD disposition, DWORD attributes, HANDLE templateFile);
BOOL WINAPI ReadFile(HANDLE file, LPVOID buffer, DWORD size, LPDWORD read, LPOVERLAPPED overlapped);
BOOL WINAPI WriteFile(HANDLE file, LPCVOID buffer, DWORD size, LPDWORD written,
                      LPOVERLAPPED overlapped);
DWORD WINAPI GetFileSize(HANDLE file, LPDWORD high);
DWORD WINAPI SetFilePointer(HANDLE file, LONG distance, PLONG high, DWORD method);
BOOL WINAPI SetEndOfFile(HANDLE file);
BOOL WINAPI FlushFileBuffers(HANDLE file);
BOOL WINAPI MoveFileExW(LPCWSTR from, LPCWSTR to, DWORD flags);
BOOL WINAPI DeleteFileW(LPCWSTR name);
BOOL WINAPI CloseHandle(HANDLE handle);
void WINAPI SetLastError(DWORD code);
