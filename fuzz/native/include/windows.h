#pragma once
// The Windows types, constants and the few declarations that the monitor's pure code and
// its port records use, for a native Linux build (clang -m32 -fshort-wchar) of that code
// under the sanitizers and libFuzzer. Sizes and layouts are the 32-bit Windows ones; the
// functions are stand-ins in win32_native.cpp.

#include <cstddef>
#include <cstdint>

static_assert(sizeof(void*) == 4, "build with -m32: the records are the 32-bit ones");

#define WINAPI __attribute__((stdcall))
#define CALLBACK WINAPI
#define VOID void
#define TRUE 1
#define FALSE 0
#define MAXDWORD 0xFFFFFFFFu

typedef int BOOL;
typedef unsigned char BYTE;
typedef unsigned short WORD;
typedef uint32_t DWORD;
typedef int32_t LONG;
typedef uint32_t UINT;
typedef uint32_t ULONG;
typedef uintptr_t ULONG_PTR;
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
typedef int(WINAPI* FARPROC)();
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
static_assert(sizeof(CRITICAL_SECTION) == 24, "CRITICAL_SECTION is 24 bytes on i686");

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
#define OPEN_ALWAYS 4
#define FILE_ATTRIBUTE_NORMAL 0x80
#define FILE_BEGIN 0

#define ERROR_SUCCESS 0L
#define ERROR_FILE_NOT_FOUND 2L
#define ERROR_INVALID_HANDLE 6L
#define ERROR_NOT_ENOUGH_MEMORY 8L
#define ERROR_INVALID_PARAMETER 87L
#define ERROR_INSUFFICIENT_BUFFER 122L
#define ERROR_INVALID_NAME 123L
#define ERROR_WRITE_FAULT 29L

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
// Files: one file in memory (memory_file.h), whatever the name.
HANDLE WINAPI CreateFileW(LPCWSTR name, DWORD access, DWORD share, LPSECURITY_ATTRIBUTES security,
                          DWORD disposition, DWORD attributes, HANDLE templateFile);
BOOL WINAPI ReadFile(HANDLE file, LPVOID buffer, DWORD size, LPDWORD read, LPOVERLAPPED overlapped);
BOOL WINAPI WriteFile(HANDLE file, LPCVOID buffer, DWORD size, LPDWORD written,
                      LPOVERLAPPED overlapped);
DWORD WINAPI GetFileSize(HANDLE file, LPDWORD high);
DWORD WINAPI SetFilePointer(HANDLE file, LONG distance, PLONG high, DWORD method);
BOOL WINAPI SetEndOfFile(HANDLE file);
BOOL WINAPI CloseHandle(HANDLE handle);
void WINAPI SetLastError(DWORD code);
