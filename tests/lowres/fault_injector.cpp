#include "lowres/fault_injector.h"

#include <tlhelp32.h>
#include <winspool.h>

#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <map>
#include <mutex>

#include "import_patch.h"

namespace lowres {

namespace {

// Every call that can be failed, with the error the system gives for want of resources.
enum Call {
    GLOBAL_ALLOC,
    HEAP_ALLOC,
    MALLOC,
    CALLOC,
    REALLOC,
    STRDUP,
    CREATE_EVENT_W,
    CREATE_EVENT_A,
    CREATE_THREAD,
    CREATE_FILE,
    READ_FILE,
    WRITE_FILE,
    SET_FILE_POINTER,
    SET_END_OF_FILE,
    GET_FILE_SIZE,
    FLUSH_FILE,
    MOVE_FILE,
    REG_OPEN_KEY_A,
    REG_OPEN_KEY_W,
    REG_CREATE_KEY_A,
    REG_DELETE_KEY_A,
    REG_DELETE_VALUE_A,
    REG_ENUM_KEY_A,
    REG_ENUM_VALUE_A,
    REG_QUERY_INFO_KEY_A,
    REG_QUERY_VALUE_A,
    REG_QUERY_VALUE_W,
    REG_SET_VALUE_A,
    MONITORREG_CREATE_KEY,
    MONITORREG_OPEN_KEY,
    MONITORREG_DELETE_KEY,
    MONITORREG_ENUM_KEY,
    MONITORREG_QUERY_INFO_KEY,
    MONITORREG_SET_VALUE,
    MONITORREG_DELETE_VALUE,
    MONITORREG_ENUM_VALUE,
    MONITORREG_QUERY_VALUE,
    LOAD_LIBRARY,
    GET_PROC_ADDRESS,
    SNAPSHOT,
    PROCESS_FIRST,
    PROCESS_NEXT,
    OPEN_PRINTER,
    GET_PRINTER,
    SET_PORT,
    SET_JOB,
    WRITE_PROFILE,
    GET_COMM_CONFIG,
    SET_COMM_CONFIG,
    CALL_COUNT
};

const char* const kCallNames[CALL_COUNT] = {
    "GlobalAlloc",
    "HeapAlloc",
    "malloc",
    "calloc",
    "realloc",
    "_strdup",
    "CreateEventW",
    "CreateEventA",
    "CreateThread",
    "CreateFileW",
    "ReadFile",
    "WriteFile",
    "SetFilePointer",
    "SetEndOfFile",
    "GetFileSize",
    "FlushFileBuffers",
    "MoveFileExW",
    "RegOpenKeyExA",
    "RegOpenKeyExW",
    "RegCreateKeyExA",
    "RegDeleteKeyA",
    "RegDeleteValueA",
    "RegEnumKeyExA",
    "RegEnumValueA",
    "RegQueryInfoKeyA",
    "RegQueryValueExA",
    "RegQueryValueExW",
    "RegSetValueExA",
    "MONITORREG CreateKey",
    "MONITORREG OpenKey",
    "MONITORREG DeleteKey",
    "MONITORREG EnumKey",
    "MONITORREG QueryInfoKey",
    "MONITORREG SetValue",
    "MONITORREG DeleteValue",
    "MONITORREG EnumValue",
    "MONITORREG QueryValue",
    "LoadLibraryA",
    "GetProcAddress",
    "CreateToolhelp32Snapshot",
    "Process32First",
    "Process32Next",
    "OpenPrinterW",
    "GetPrinterW",
    "SetPortW",
    "SetJobW",
    "WriteProfileStringW",
    "GetDefaultCommConfigW",
    "SetDefaultCommConfigW",
};

// What the system says when it runs short: memory for allocations and objects, no room for
// registry data, too many open files, a full disk for writes.
DWORD ErrorOf(Call call) {
    switch (call) {
    case CREATE_FILE:
        return ERROR_TOO_MANY_OPEN_FILES;
    case READ_FILE:
    case SET_FILE_POINTER:
    case GET_FILE_SIZE:
        return ERROR_NO_SYSTEM_RESOURCES;
    case WRITE_FILE:
    case SET_END_OF_FILE:
    case FLUSH_FILE:
        return ERROR_DISK_FULL;
    case MOVE_FILE:
        return ERROR_NO_SYSTEM_RESOURCES;
    default:
        return call >= REG_OPEN_KEY_A && call <= MONITORREG_QUERY_VALUE ? ERROR_OUTOFMEMORY
                                                                        : ERROR_NOT_ENOUGH_MEMORY;
    }
}

std::atomic<int> g_mode{static_cast<int>(FaultMode::Off)};
std::atomic<uint64_t> g_k{0};
std::atomic<uint64_t> g_seen{0};
std::atomic<uint64_t> g_failed{0};
std::atomic<uint32_t> g_injectedCalls{0}; // bit per kind of error code, see CodeBit
std::mutex g_firstLock;
std::string g_first;
DWORD g_callerThread;
std::vector<CallThread> g_counted; // under g_firstLock
thread_local bool t_libraryThread;

uint32_t CodeBit(DWORD code) {
    switch (code) {
    case ERROR_TOO_MANY_OPEN_FILES:
        return 1;
    case ERROR_NO_SYSTEM_RESOURCES:
        return 2;
    case ERROR_DISK_FULL:
        return 4;
    case ERROR_OUTOFMEMORY:
        return 8;
    case ERROR_NOT_ENOUGH_MEMORY:
        return 16;
    default:
        return 0;
    }
}

// Counts the call and tells whether it is to fail; a failing call's error is set.
bool Fails(Call call) {
    const auto mode = static_cast<FaultMode>(g_mode.load());
    if (mode == FaultMode::Off) {
        return false;
    }
    const uint64_t n = ++g_seen;
    if (mode == FaultMode::Count) {
        const CallThread thread = GetCurrentThreadId() == g_callerThread ? CallThread::Caller
                                  : t_libraryThread                      ? CallThread::Library
                                                                         : CallThread::Foreign;
        std::lock_guard<std::mutex> lock(g_firstLock);
        if (g_counted.size() < n) {
            g_counted.resize(n, CallThread::Foreign);
        }
        g_counted[n - 1] = thread;
    }
    const bool fail =
        (mode == FaultMode::FailAt && n == g_k) || (mode == FaultMode::FailFrom && n >= g_k);
    if (!fail) {
        return false;
    }
    if (g_failed++ == 0) {
        std::lock_guard<std::mutex> lock(g_firstLock);
        g_first = kCallNames[call];
    }
    g_injectedCalls |= CodeBit(ErrorOf(call));
    SetLastError(ErrorOf(call));
    return true;
}

// The resources the library holds, by kind.
enum Kind { BLOCK, HANDLE_OBJECT, KEY, PRINTER, MODULE, KIND_COUNT };
std::mutex g_liveLock;
std::multimap<const void*, Call> g_live[KIND_COUNT];
std::atomic<int> g_threads{0};

void Made(Kind kind, const void* resource, Call call) {
    if (resource != nullptr) {
        std::lock_guard<std::mutex> lock(g_liveLock);
        g_live[kind].emplace(resource, call);
    }
}

void Released(Kind kind, const void* resource) {
    std::lock_guard<std::mutex> lock(g_liveLock);
    auto found = g_live[kind].find(resource);
    if (found != g_live[kind].end()) {
        g_live[kind].erase(found);
    }
}

// The functions the wrappers pass on to: the library's imports as they were bound.
struct Originals {
    decltype(&GlobalAlloc) globalAlloc;
    decltype(&GlobalFree) globalFree;
    decltype(&HeapAlloc) heapAlloc;
    decltype(&HeapFree) heapFree;
    void* (*malloc)(size_t);
    void* (*calloc)(size_t, size_t);
    void* (*realloc)(void*, size_t);
    void (*free)(void*);
    char* (*strdup)(const char*);
    decltype(&CreateEventW) createEventW;
    decltype(&CreateEventA) createEventA;
    decltype(&CreateThread) createThread;
    decltype(&CloseHandle) closeHandle;
    decltype(&CreateFileW) createFile;
    decltype(&ReadFile) readFile;
    decltype(&WriteFile) writeFile;
    decltype(&SetFilePointer) setFilePointer;
    decltype(&SetEndOfFile) setEndOfFile;
    decltype(&GetFileSize) getFileSize;
    decltype(&FlushFileBuffers) flushFile;
    decltype(&MoveFileExW) moveFile;
    decltype(&RegOpenKeyExA) regOpenKeyA;
    decltype(&RegOpenKeyExW) regOpenKeyW;
    decltype(&RegCreateKeyExA) regCreateKeyA;
    decltype(&RegCloseKey) regCloseKey;
    decltype(&RegDeleteKeyA) regDeleteKeyA;
    decltype(&RegDeleteValueA) regDeleteValueA;
    decltype(&RegEnumKeyExA) regEnumKeyA;
    decltype(&RegEnumValueA) regEnumValueA;
    decltype(&RegQueryInfoKeyA) regQueryInfoKeyA;
    decltype(&RegQueryValueExA) regQueryValueA;
    decltype(&RegQueryValueExW) regQueryValueW;
    decltype(&RegSetValueExA) regSetValueA;
    MONITORREG registry;
    decltype(&LoadLibraryA) loadLibrary;
    decltype(&FreeLibrary) freeLibrary;
    decltype(&GetProcAddress) getProcAddress;
    decltype(&CreateToolhelp32Snapshot) snapshot;
    decltype(&Process32First) processFirst;
    decltype(&Process32Next) processNext;
    decltype(&OpenPrinterW) openPrinter;
    decltype(&GetPrinterW) getPrinter;
    decltype(&SetPortW) setPort;
    decltype(&SetJobW) setJob;
    decltype(&ClosePrinter) closePrinter;
    decltype(&WriteProfileStringW) writeProfile;
    decltype(&GetDefaultCommConfigW) getCommConfig;
    decltype(&SetDefaultCommConfigW) setCommConfig;
};
Originals g_real;

// Memory.
HGLOBAL WINAPI FaultGlobalAlloc(UINT flags, SIZE_T bytes) {
    if (Fails(GLOBAL_ALLOC)) {
        return nullptr;
    }
    HGLOBAL block = g_real.globalAlloc(flags, bytes);
    Made(BLOCK, block, GLOBAL_ALLOC);
    return block;
}
HGLOBAL WINAPI FaultGlobalFree(HGLOBAL block) {
    Released(BLOCK, block);
    return g_real.globalFree(block);
}
LPVOID WINAPI FaultHeapAlloc(HANDLE heap, DWORD flags, SIZE_T bytes) {
    if (Fails(HEAP_ALLOC)) {
        return nullptr;
    }
    LPVOID block = g_real.heapAlloc(heap, flags, bytes);
    Made(BLOCK, block, HEAP_ALLOC);
    return block;
}
BOOL WINAPI FaultHeapFree(HANDLE heap, DWORD flags, LPVOID block) {
    Released(BLOCK, block);
    return g_real.heapFree(heap, flags, block);
}
void* FaultMalloc(size_t bytes) {
    if (Fails(MALLOC)) {
        errno = ENOMEM;
        return nullptr;
    }
    void* block = g_real.malloc(bytes);
    Made(BLOCK, block, MALLOC);
    return block;
}
void* FaultCalloc(size_t count, size_t bytes) {
    if (Fails(CALLOC)) {
        errno = ENOMEM;
        return nullptr;
    }
    void* block = g_real.calloc(count, bytes);
    Made(BLOCK, block, CALLOC);
    return block;
}
void* FaultRealloc(void* block, size_t bytes) {
    if (bytes != 0 && Fails(REALLOC)) {
        errno = ENOMEM;
        return nullptr;
    }
    void* moved = g_real.realloc(block, bytes);
    if (moved != nullptr || bytes == 0) {
        Released(BLOCK, block);
        Made(BLOCK, moved, REALLOC);
    }
    return moved;
}
void FaultFree(void* block) {
    Released(BLOCK, block);
    g_real.free(block);
}
char* FaultStrdup(const char* text) {
    if (Fails(STRDUP)) {
        errno = ENOMEM;
        return nullptr;
    }
    char* copy = g_real.strdup(text);
    Made(BLOCK, copy, STRDUP);
    return copy;
}

// Events, threads and handles.
HANDLE WINAPI FaultCreateEventW(LPSECURITY_ATTRIBUTES security, BOOL manual, BOOL set,
                                LPCWSTR name) {
    if (Fails(CREATE_EVENT_W)) {
        return nullptr;
    }
    HANDLE event = g_real.createEventW(security, manual, set, name);
    Made(HANDLE_OBJECT, event, CREATE_EVENT_W);
    return event;
}
HANDLE WINAPI FaultCreateEventA(LPSECURITY_ATTRIBUTES security, BOOL manual, BOOL set,
                                LPCSTR name) {
    if (Fails(CREATE_EVENT_A)) {
        return nullptr;
    }
    HANDLE event = g_real.createEventA(security, manual, set, name);
    Made(HANDLE_OBJECT, event, CREATE_EVENT_A);
    return event;
}

struct ThreadStart {
    LPTHREAD_START_ROUTINE routine;
    LPVOID parameter;
};
DWORD WINAPI CountedThread(LPVOID parameter) {
    ThreadStart start = *static_cast<ThreadStart*>(parameter);
    delete static_cast<ThreadStart*>(parameter);
    t_libraryThread = true;
    DWORD result = start.routine(start.parameter);
    --g_threads;
    return result;
}
HANDLE WINAPI FaultCreateThread(LPSECURITY_ATTRIBUTES security, SIZE_T stack,
                                LPTHREAD_START_ROUTINE routine, LPVOID parameter, DWORD flags,
                                LPDWORD id) {
    if (Fails(CREATE_THREAD)) {
        return nullptr;
    }
    auto* start = new ThreadStart{routine, parameter};
    ++g_threads;
    HANDLE thread = g_real.createThread(security, stack, CountedThread, start, flags, id);
    if (thread == nullptr) {
        --g_threads;
        delete start;
        return nullptr;
    }
    Made(HANDLE_OBJECT, thread, CREATE_THREAD);
    return thread;
}
BOOL WINAPI FaultCloseHandle(HANDLE handle) {
    Released(HANDLE_OBJECT, handle);
    return g_real.closeHandle(handle);
}

// Files.
HANDLE WINAPI FaultCreateFile(LPCWSTR path, DWORD access, DWORD share,
                              LPSECURITY_ATTRIBUTES security, DWORD disposition, DWORD flags,
                              HANDLE templateFile) {
    if (Fails(CREATE_FILE)) {
        return INVALID_HANDLE_VALUE;
    }
    HANDLE file =
        g_real.createFile(path, access, share, security, disposition, flags, templateFile);
    if (file != INVALID_HANDLE_VALUE) {
        Made(HANDLE_OBJECT, file, CREATE_FILE);
    }
    return file;
}
BOOL WINAPI FaultReadFile(HANDLE file, LPVOID buffer, DWORD size, LPDWORD done,
                          LPOVERLAPPED overlapped) {
    if (Fails(READ_FILE)) {
        if (done != nullptr) {
            *done = 0;
        }
        return FALSE;
    }
    return g_real.readFile(file, buffer, size, done, overlapped);
}
BOOL WINAPI FaultWriteFile(HANDLE file, LPCVOID buffer, DWORD size, LPDWORD done,
                           LPOVERLAPPED overlapped) {
    if (Fails(WRITE_FILE)) {
        if (done != nullptr) {
            *done = 0;
        }
        return FALSE;
    }
    return g_real.writeFile(file, buffer, size, done, overlapped);
}
DWORD WINAPI FaultSetFilePointer(HANDLE file, LONG distance, PLONG high, DWORD method) {
    if (Fails(SET_FILE_POINTER)) {
        return INVALID_SET_FILE_POINTER;
    }
    return g_real.setFilePointer(file, distance, high, method);
}
BOOL WINAPI FaultSetEndOfFile(HANDLE file) {
    return Fails(SET_END_OF_FILE) ? FALSE : g_real.setEndOfFile(file);
}
DWORD WINAPI FaultGetFileSize(HANDLE file, LPDWORD high) {
    return Fails(GET_FILE_SIZE) ? INVALID_FILE_SIZE : g_real.getFileSize(file, high);
}

BOOL WINAPI FaultFlushFile(HANDLE file) {
    return Fails(FLUSH_FILE) ? FALSE : g_real.flushFile(file);
}
BOOL WINAPI FaultMoveFile(LPCWSTR from, LPCWSTR to, DWORD flags) {
    return Fails(MOVE_FILE) ? FALSE : g_real.moveFile(from, to, flags);
}

// The registry, as the system's functions and as the spooler's MONITORREG functions: a
// failure is returned, not set as the thread's error.
LONG Refused(Call call) {
    return static_cast<LONG>(ErrorOf(call));
}
LONG WINAPI FaultRegOpenKeyA(HKEY key, LPCSTR name, DWORD options, REGSAM access, PHKEY result) {
    if (Fails(REG_OPEN_KEY_A)) {
        return Refused(REG_OPEN_KEY_A);
    }
    LONG status = g_real.regOpenKeyA(key, name, options, access, result);
    if (status == ERROR_SUCCESS) {
        Made(KEY, *result, REG_OPEN_KEY_A);
    }
    return status;
}
LONG WINAPI FaultRegOpenKeyW(HKEY key, LPCWSTR name, DWORD options, REGSAM access, PHKEY result) {
    if (Fails(REG_OPEN_KEY_W)) {
        return Refused(REG_OPEN_KEY_W);
    }
    LONG status = g_real.regOpenKeyW(key, name, options, access, result);
    if (status == ERROR_SUCCESS) {
        Made(KEY, *result, REG_OPEN_KEY_W);
    }
    return status;
}
LONG WINAPI FaultRegCreateKeyA(HKEY key, LPCSTR name, DWORD reserved, LPSTR className,
                               DWORD options, REGSAM access, LPSECURITY_ATTRIBUTES security,
                               PHKEY result, LPDWORD disposition) {
    if (Fails(REG_CREATE_KEY_A)) {
        return Refused(REG_CREATE_KEY_A);
    }
    LONG status = g_real.regCreateKeyA(key, name, reserved, className, options, access, security,
                                       result, disposition);
    if (status == ERROR_SUCCESS) {
        Made(KEY, *result, REG_CREATE_KEY_A);
    }
    return status;
}
LONG WINAPI FaultRegCloseKey(HKEY key) {
    Released(KEY, key);
    return g_real.regCloseKey(key);
}
LONG WINAPI FaultRegDeleteKeyA(HKEY key, LPCSTR name) {
    return Fails(REG_DELETE_KEY_A) ? Refused(REG_DELETE_KEY_A) : g_real.regDeleteKeyA(key, name);
}
LONG WINAPI FaultRegDeleteValueA(HKEY key, LPCSTR name) {
    return Fails(REG_DELETE_VALUE_A) ? Refused(REG_DELETE_VALUE_A)
                                     : g_real.regDeleteValueA(key, name);
}
LONG WINAPI FaultRegEnumKeyA(HKEY key, DWORD index, LPSTR name, LPDWORD nameSize, LPDWORD reserved,
                             LPSTR className, LPDWORD classSize, PFILETIME written) {
    return Fails(REG_ENUM_KEY_A) ? Refused(REG_ENUM_KEY_A)
                                 : g_real.regEnumKeyA(key, index, name, nameSize, reserved,
                                                      className, classSize, written);
}
LONG WINAPI FaultRegEnumValueA(HKEY key, DWORD index, LPSTR name, LPDWORD nameSize,
                               LPDWORD reserved, LPDWORD type, LPBYTE data, LPDWORD dataSize) {
    return Fails(REG_ENUM_VALUE_A)
               ? Refused(REG_ENUM_VALUE_A)
               : g_real.regEnumValueA(key, index, name, nameSize, reserved, type, data, dataSize);
}
LONG WINAPI FaultRegQueryInfoKeyA(HKEY key, LPSTR className, LPDWORD classSize, LPDWORD reserved,
                                  LPDWORD subKeys, LPDWORD subKeySize, LPDWORD classLength,
                                  LPDWORD values, LPDWORD valueNameSize, LPDWORD valueSize,
                                  LPDWORD security, PFILETIME written) {
    return Fails(REG_QUERY_INFO_KEY_A)
               ? Refused(REG_QUERY_INFO_KEY_A)
               : g_real.regQueryInfoKeyA(key, className, classSize, reserved, subKeys, subKeySize,
                                         classLength, values, valueNameSize, valueSize, security,
                                         written);
}
LONG WINAPI FaultRegQueryValueA(HKEY key, LPCSTR name, LPDWORD reserved, LPDWORD type, LPBYTE data,
                                LPDWORD size) {
    return Fails(REG_QUERY_VALUE_A) ? Refused(REG_QUERY_VALUE_A)
                                    : g_real.regQueryValueA(key, name, reserved, type, data, size);
}
LONG WINAPI FaultRegQueryValueW(HKEY key, LPCWSTR name, LPDWORD reserved, LPDWORD type, LPBYTE data,
                                LPDWORD size) {
    return Fails(REG_QUERY_VALUE_W) ? Refused(REG_QUERY_VALUE_W)
                                    : g_real.regQueryValueW(key, name, reserved, type, data, size);
}
LONG WINAPI FaultRegSetValueA(HKEY key, LPCSTR name, DWORD reserved, DWORD type, const BYTE* data,
                              DWORD size) {
    return Fails(REG_SET_VALUE_A) ? Refused(REG_SET_VALUE_A)
                                  : g_real.regSetValueA(key, name, reserved, type, data, size);
}

LONG WINAPI FaultCreateKey(HANDLE key, LPCWSTR name, DWORD options, REGSAM access,
                           PSECURITY_ATTRIBUTES security, PHANDLE result, PDWORD disposition,
                           HANDLE spooler) {
    if (Fails(MONITORREG_CREATE_KEY)) {
        return Refused(MONITORREG_CREATE_KEY);
    }
    LONG status = g_real.registry.fpCreateKey(key, name, options, access, security, result,
                                              disposition, spooler);
    if (status == ERROR_SUCCESS) {
        Made(KEY, *result, MONITORREG_CREATE_KEY);
    }
    return status;
}
LONG WINAPI FaultOpenKey(HANDLE key, LPCWSTR name, REGSAM access, PHANDLE result, HANDLE spooler) {
    if (Fails(MONITORREG_OPEN_KEY)) {
        return Refused(MONITORREG_OPEN_KEY);
    }
    LONG status = g_real.registry.fpOpenKey(key, name, access, result, spooler);
    if (status == ERROR_SUCCESS) {
        Made(KEY, *result, MONITORREG_OPEN_KEY);
    }
    return status;
}
LONG WINAPI FaultCloseKey(HANDLE key, HANDLE spooler) {
    Released(KEY, key);
    return g_real.registry.fpCloseKey(key, spooler);
}
LONG WINAPI FaultDeleteKey(HANDLE key, LPCWSTR name, HANDLE spooler) {
    return Fails(MONITORREG_DELETE_KEY) ? Refused(MONITORREG_DELETE_KEY)
                                        : g_real.registry.fpDeleteKey(key, name, spooler);
}
LONG WINAPI FaultEnumKey(HANDLE key, DWORD index, LPWSTR name, PDWORD nameSize, PFILETIME written,
                         HANDLE spooler) {
    return Fails(MONITORREG_ENUM_KEY)
               ? Refused(MONITORREG_ENUM_KEY)
               : g_real.registry.fpEnumKey(key, index, name, nameSize, written, spooler);
}
LONG WINAPI FaultQueryInfoKey(HANDLE key, PDWORD subKeys, PDWORD keySize, PDWORD values,
                              PDWORD valueSize, PDWORD dataSize, PDWORD securitySize,
                              PFILETIME written, HANDLE spooler) {
    return Fails(MONITORREG_QUERY_INFO_KEY)
               ? Refused(MONITORREG_QUERY_INFO_KEY)
               : g_real.registry.fpQueryInfoKey(key, subKeys, keySize, values, valueSize, dataSize,
                                                securitySize, written, spooler);
}
LONG WINAPI FaultSetValue(HANDLE key, LPCWSTR name, DWORD type, const BYTE* data, DWORD size,
                          HANDLE spooler) {
    return Fails(MONITORREG_SET_VALUE)
               ? Refused(MONITORREG_SET_VALUE)
               : g_real.registry.fpSetValue(key, name, type, data, size, spooler);
}
LONG WINAPI FaultDeleteValue(HANDLE key, LPCWSTR name, HANDLE spooler) {
    return Fails(MONITORREG_DELETE_VALUE) ? Refused(MONITORREG_DELETE_VALUE)
                                          : g_real.registry.fpDeleteValue(key, name, spooler);
}
LONG WINAPI FaultEnumValue(HANDLE key, DWORD index, LPWSTR name, PDWORD nameSize, PDWORD type,
                           PBYTE data, PDWORD dataSize, HANDLE spooler) {
    return Fails(MONITORREG_ENUM_VALUE)
               ? Refused(MONITORREG_ENUM_VALUE)
               : g_real.registry.fpEnumValue(key, index, name, nameSize, type, data, dataSize,
                                             spooler);
}
LONG WINAPI FaultQueryValue(HANDLE key, LPCWSTR name, PDWORD type, PBYTE data, PDWORD size,
                            HANDLE spooler) {
    return Fails(MONITORREG_QUERY_VALUE)
               ? Refused(MONITORREG_QUERY_VALUE)
               : g_real.registry.fpQueryValue(key, name, type, data, size, spooler);
}

// Libraries and the process snapshot.
HMODULE WINAPI FaultLoadLibrary(LPCSTR name) {
    if (Fails(LOAD_LIBRARY)) {
        return nullptr;
    }
    HMODULE module = g_real.loadLibrary(name);
    // The spooler's library is kept for the life of the process once loaded, by design.
    if (name == nullptr || lstrcmpiA(name, "spoolss.dll") != 0) {
        Made(MODULE, module, LOAD_LIBRARY);
    }
    return module;
}
BOOL WINAPI FaultFreeLibrary(HMODULE module) {
    Released(MODULE, module);
    return g_real.freeLibrary(module);
}
FARPROC WINAPI FaultGetProcAddress(HMODULE module, LPCSTR name) {
    return Fails(GET_PROC_ADDRESS) ? nullptr : g_real.getProcAddress(module, name);
}
HANDLE WINAPI FaultSnapshot(DWORD flags, DWORD process) {
    if (Fails(SNAPSHOT)) {
        return INVALID_HANDLE_VALUE;
    }
    HANDLE snapshot = g_real.snapshot(flags, process);
    if (snapshot != INVALID_HANDLE_VALUE) {
        Made(HANDLE_OBJECT, snapshot, SNAPSHOT);
    }
    return snapshot;
}
BOOL WINAPI FaultProcessFirst(HANDLE snapshot, LPPROCESSENTRY32 entry) {
    return Fails(PROCESS_FIRST) ? FALSE : g_real.processFirst(snapshot, entry);
}
BOOL WINAPI FaultProcessNext(HANDLE snapshot, LPPROCESSENTRY32 entry) {
    return Fails(PROCESS_NEXT) ? FALSE : g_real.processNext(snapshot, entry);
}

// The spooler client and the system's settings.
BOOL WINAPI FaultOpenPrinter(LPWSTR name, LPHANDLE printer, LPPRINTER_DEFAULTSW defaults) {
    if (Fails(OPEN_PRINTER)) {
        return FALSE;
    }
    BOOL opened = g_real.openPrinter(name, printer, defaults);
    if (opened) {
        Made(PRINTER, *printer, OPEN_PRINTER);
    }
    return opened;
}
BOOL WINAPI FaultGetPrinter(HANDLE printer, DWORD level, LPBYTE buffer, DWORD size,
                            LPDWORD needed) {
    return Fails(GET_PRINTER) ? FALSE : g_real.getPrinter(printer, level, buffer, size, needed);
}
BOOL WINAPI FaultSetPort(LPWSTR server, LPWSTR port, DWORD level, LPBYTE info) {
    return Fails(SET_PORT) ? FALSE : g_real.setPort(server, port, level, info);
}
BOOL WINAPI FaultSetJob(HANDLE printer, DWORD job, DWORD level, LPBYTE info, DWORD command) {
    return Fails(SET_JOB) ? FALSE : g_real.setJob(printer, job, level, info, command);
}
BOOL WINAPI FaultClosePrinter(HANDLE printer) {
    Released(PRINTER, printer);
    return g_real.closePrinter(printer);
}
BOOL WINAPI FaultWriteProfile(LPCWSTR section, LPCWSTR key, LPCWSTR value) {
    return Fails(WRITE_PROFILE) ? FALSE : g_real.writeProfile(section, key, value);
}
BOOL WINAPI FaultGetCommConfig(LPCWSTR device, LPCOMMCONFIG config, LPDWORD size) {
    return Fails(GET_COMM_CONFIG) ? FALSE : g_real.getCommConfig(device, config, size);
}
BOOL WINAPI FaultSetCommConfig(LPCWSTR device, LPCOMMCONFIG config, DWORD size) {
    return Fails(SET_COMM_CONFIG) ? FALSE : g_real.setCommConfig(device, config, size);
}

template <typename F>
void Bind(HMODULE library, const char* dll, const char* function, F wrapper, F* original,
          std::string* unbound) {
    void* earlier = nullptr;
    if (prnlink::PatchImport(library, dll, function, reinterpret_cast<void*>(wrapper), &earlier)) {
        *original = reinterpret_cast<F>(earlier);
        return;
    }
    // Not imported: the wrapper is never reached, and there is no original to keep.
    *original = nullptr;
    if (!unbound->empty()) {
        *unbound += ", ";
    }
    *unbound += function;
}

} // namespace

void InstallFaultInjector(HMODULE library, MONITORREG* registry, std::string* unbound) {
    unbound->clear();
    const char* k32 = "kernel32.dll";
    const char* crt = "msvcrt.dll";
    const char* reg = "advapi32.dll";
    const char* spool = "winspool.drv";
    Bind(library, k32, "GlobalAlloc", FaultGlobalAlloc, &g_real.globalAlloc, unbound);
    Bind(library, k32, "GlobalFree", FaultGlobalFree, &g_real.globalFree, unbound);
    Bind(library, k32, "HeapAlloc", FaultHeapAlloc, &g_real.heapAlloc, unbound);
    Bind(library, k32, "HeapFree", FaultHeapFree, &g_real.heapFree, unbound);
    Bind(library, crt, "malloc", FaultMalloc, &g_real.malloc, unbound);
    Bind(library, crt, "calloc", FaultCalloc, &g_real.calloc, unbound);
    Bind(library, crt, "realloc", FaultRealloc, &g_real.realloc, unbound);
    Bind(library, crt, "free", FaultFree, &g_real.free, unbound);
    Bind(library, crt, "_strdup", FaultStrdup, &g_real.strdup, unbound);
    Bind(library, k32, "CreateEventW", FaultCreateEventW, &g_real.createEventW, unbound);
    Bind(library, k32, "CreateEventA", FaultCreateEventA, &g_real.createEventA, unbound);
    Bind(library, k32, "CreateThread", FaultCreateThread, &g_real.createThread, unbound);
    Bind(library, k32, "CloseHandle", FaultCloseHandle, &g_real.closeHandle, unbound);
    Bind(library, k32, "CreateFileW", FaultCreateFile, &g_real.createFile, unbound);
    Bind(library, k32, "ReadFile", FaultReadFile, &g_real.readFile, unbound);
    Bind(library, k32, "WriteFile", FaultWriteFile, &g_real.writeFile, unbound);
    Bind(library, k32, "SetFilePointer", FaultSetFilePointer, &g_real.setFilePointer, unbound);
    Bind(library, k32, "SetEndOfFile", FaultSetEndOfFile, &g_real.setEndOfFile, unbound);
    Bind(library, k32, "GetFileSize", FaultGetFileSize, &g_real.getFileSize, unbound);
    Bind(library, k32, "FlushFileBuffers", FaultFlushFile, &g_real.flushFile, unbound);
    Bind(library, k32, "MoveFileExW", FaultMoveFile, &g_real.moveFile, unbound);
    Bind(library, reg, "RegOpenKeyExA", FaultRegOpenKeyA, &g_real.regOpenKeyA, unbound);
    Bind(library, reg, "RegOpenKeyExW", FaultRegOpenKeyW, &g_real.regOpenKeyW, unbound);
    Bind(library, reg, "RegCreateKeyExA", FaultRegCreateKeyA, &g_real.regCreateKeyA, unbound);
    Bind(library, reg, "RegCloseKey", FaultRegCloseKey, &g_real.regCloseKey, unbound);
    Bind(library, reg, "RegDeleteKeyA", FaultRegDeleteKeyA, &g_real.regDeleteKeyA, unbound);
    Bind(library, reg, "RegDeleteValueA", FaultRegDeleteValueA, &g_real.regDeleteValueA, unbound);
    Bind(library, reg, "RegEnumKeyExA", FaultRegEnumKeyA, &g_real.regEnumKeyA, unbound);
    Bind(library, reg, "RegEnumValueA", FaultRegEnumValueA, &g_real.regEnumValueA, unbound);
    Bind(library, reg, "RegQueryInfoKeyA", FaultRegQueryInfoKeyA, &g_real.regQueryInfoKeyA,
         unbound);
    Bind(library, reg, "RegQueryValueExA", FaultRegQueryValueA, &g_real.regQueryValueA, unbound);
    Bind(library, reg, "RegQueryValueExW", FaultRegQueryValueW, &g_real.regQueryValueW, unbound);
    Bind(library, reg, "RegSetValueExA", FaultRegSetValueA, &g_real.regSetValueA, unbound);
    Bind(library, k32, "LoadLibraryA", FaultLoadLibrary, &g_real.loadLibrary, unbound);
    Bind(library, k32, "FreeLibrary", FaultFreeLibrary, &g_real.freeLibrary, unbound);
    Bind(library, k32, "GetProcAddress", FaultGetProcAddress, &g_real.getProcAddress, unbound);
    Bind(library, k32, "CreateToolhelp32Snapshot", FaultSnapshot, &g_real.snapshot, unbound);
    Bind(library, k32, "Process32First", FaultProcessFirst, &g_real.processFirst, unbound);
    Bind(library, k32, "Process32Next", FaultProcessNext, &g_real.processNext, unbound);
    Bind(library, spool, "OpenPrinterW", FaultOpenPrinter, &g_real.openPrinter, unbound);
    Bind(library, spool, "GetPrinterW", FaultGetPrinter, &g_real.getPrinter, unbound);
    Bind(library, spool, "SetPortW", FaultSetPort, &g_real.setPort, unbound);
    Bind(library, spool, "SetJobW", FaultSetJob, &g_real.setJob, unbound);
    Bind(library, spool, "ClosePrinter", FaultClosePrinter, &g_real.closePrinter, unbound);
    Bind(library, k32, "WriteProfileStringW", FaultWriteProfile, &g_real.writeProfile, unbound);
    Bind(library, k32, "GetDefaultCommConfigW", FaultGetCommConfig, &g_real.getCommConfig, unbound);
    Bind(library, k32, "SetDefaultCommConfigW", FaultSetCommConfig, &g_real.setCommConfig, unbound);

    g_real.registry = *registry;
    registry->fpCreateKey = FaultCreateKey;
    registry->fpOpenKey = FaultOpenKey;
    registry->fpCloseKey = FaultCloseKey;
    registry->fpDeleteKey = FaultDeleteKey;
    registry->fpEnumKey = FaultEnumKey;
    registry->fpQueryInfoKey = FaultQueryInfoKey;
    registry->fpSetValue = FaultSetValue;
    registry->fpDeleteValue = FaultDeleteValue;
    registry->fpEnumValue = FaultEnumValue;
    registry->fpQueryValue = FaultQueryValue;
}

void SetFaultMode(FaultMode mode, uint64_t k) {
    g_mode = static_cast<int>(FaultMode::Off);
    g_seen = 0;
    g_failed = 0;
    g_injectedCalls = 0;
    {
        std::lock_guard<std::mutex> lock(g_firstLock);
        g_first.clear();
        g_counted.clear();
    }
    g_callerThread = GetCurrentThreadId();
    g_k = k;
    g_mode = static_cast<int>(mode);
}

uint64_t FaultPointsSeen() {
    return g_seen;
}

std::vector<CallThread> CountedThreads() {
    std::lock_guard<std::mutex> lock(g_firstLock);
    return g_counted;
}

uint64_t FaultsInjected() {
    return g_failed;
}

std::string FirstFailedCall() {
    std::lock_guard<std::mutex> lock(g_firstLock);
    return g_first;
}

bool InjectedCode(DWORD code) {
    const uint32_t bit = CodeBit(code);
    return bit != 0 && (g_injectedCalls & bit) != 0;
}

std::string LiveResources::Describe() const {
    std::string text;
    auto add = [&text](size_t count, const char* what) {
        if (count != 0) {
            text += (text.empty() ? "" : ", ") + std::to_string(count) + " " + what;
        }
    };
    add(blocks, "heap blocks");
    add(handles, "handles");
    add(keys, "registry keys");
    add(printers, "printer handles");
    add(modules, "module loads");
    add(threads, "threads");
    return text.empty() ? "nothing" : text + " (made by " + madeBy + ")";
}

LiveResources Live() {
    std::lock_guard<std::mutex> lock(g_liveLock);
    LiveResources live;
    for (const auto& kind : g_live) {
        for (const auto& made : kind) {
            if (live.madeBy.find(kCallNames[made.second]) == std::string::npos) {
                live.madeBy +=
                    (live.madeBy.empty() ? "" : ", ") + std::string(kCallNames[made.second]);
            }
        }
    }
    live.blocks = g_live[BLOCK].size();
    live.handles = g_live[HANDLE_OBJECT].size();
    live.keys = g_live[KEY].size();
    live.printers = g_live[PRINTER].size();
    live.modules = g_live[MODULE].size();
    live.threads = static_cast<size_t>(g_threads.load());
    return live;
}

void ForgetResources() {
    std::lock_guard<std::mutex> lock(g_liveLock);
    for (auto& kind : g_live) {
        kind.clear();
    }
}

bool WaitForThreads(DWORD timeoutMs) {
    const DWORD start = GetTickCount();
    while (g_threads.load() != 0) {
        if (GetTickCount() - start >= timeoutMs) {
            return false;
        }
        Sleep(5);
    }
    return true;
}

} // namespace lowres
