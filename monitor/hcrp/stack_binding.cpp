// Binding to the vendor Bluetooth library: checks for the stack process, loads QORLIB.DLL,
// resolves its five operations and releases it again. Every step is reported on the debug
// output.

#include "hcrp/stack_binding.h"

#include <cstddef>
#include <cstring>

// With UNICODE the snapshot names map to the UTF-16 entry; the binding uses the 8-bit one.
#undef Process32First
#undef Process32Next

// The 8-bit process entry holds a pointer-sized field, so its size and the offset of the
// executable name differ by architecture; Process32First refuses any other dwSize.
#ifdef _WIN64
static_assert(sizeof(tagPROCESSENTRY32) == 304, "the 8-bit process entry is 304 bytes on x64");
static_assert(offsetof(tagPROCESSENTRY32, szExeFile) == 44, "the executable name at 44 on x64");
#else
static_assert(sizeof(tagPROCESSENTRY32) == 296, "the 8-bit process entry is 296 bytes on i686");
static_assert(offsetof(tagPROCESSENTRY32, szExeFile) == 36, "the executable name at 36 on i686");
#endif

namespace {

// Thin wrappers, so that each call goes through the import table when it is made.
HANDLE WINAPI CallCreateSnapshot(DWORD flags, DWORD processId) {
    return CreateToolhelp32Snapshot(flags, processId);
}
BOOL WINAPI CallProcessFirst(HANDLE snapshot, tagPROCESSENTRY32* entry) {
    return Process32First(snapshot, entry);
}
BOOL WINAPI CallProcessNext(HANDLE snapshot, tagPROCESSENTRY32* entry) {
    return Process32Next(snapshot, entry);
}
BOOL WINAPI CallCloseHandle(HANDLE handle) {
    return CloseHandle(handle);
}

} // namespace

ProcessSnapshotApi g_processSnapshotApi = {CallCreateSnapshot, CallProcessFirst, CallProcessNext,
                                           CallCloseHandle};

StackBinding g_stackBinding;

namespace {

const wchar_t kInstallKey[] = L"SOFTWARE\\Corvane Corporation\\Orvendel\\1.0";
const wchar_t kInstallValue[] = L"InstallDir";
const char kLibraryName[] = "QORLIB.DLL";
const char kStackProcess[] = "Tarnwick.exe";
// The snapshot entry ends before the executable name at this size (36 on i686, 44 on x64).
const DWORD kEntryWithoutName = offsetof(tagPROCESSENTRY32, szExeFile);

struct EntryPoint {
    const char* exportName;
    const char* debugLine;
};

const EntryPoint kEntryPoints[5] = {
    {"QORL_Register", "LoadQORLIB: Register \n"}, {"QORL_Unregister", "LoadQORLIB: Unregister \n"},
    {"QORL_Connect", "LoadQORLIB: Connect \n"},   {"QORL_Disconnect", "LoadQORLIB: Disconnect \n"},
    {"QORL_SendData", "LoadQORLIB: SendData \n"},
};

// Appends `tail` to `path` (capacity bytes with terminator); false when it does not fit.
bool Append(char* path, size_t capacity, const char* tail) {
    size_t used = std::strlen(path);
    size_t more = std::strlen(tail);
    if (used + more + 1 > capacity) {
        return false;
    }
    std::memcpy(path + used, tail, more + 1);
    return true;
}

} // namespace

StackBinding::StackBinding()
    : module(nullptr), libraryPath{}, qorlRegister(nullptr), qorlUnregister(nullptr),
      qorlConnect(nullptr), qorlDisconnect(nullptr), qorlSendData(nullptr), holders(0),
      loadCount(0) {
    InitializeCriticalSection(&bindingLock);
}

StackBinding::~StackBinding() {
    // The monitor library is being unloaded: no other thread runs its code any more, and
    // the loader's lock is held, so the binding lock is not taken here.
    if (module != nullptr) {
        UnloadHeld();
    }
    DeleteCriticalSection(&bindingLock);
}

int StackBinding::IsProcessRunning(const char* name) {
    if (name == nullptr) {
        return 0;
    }
    HANDLE snapshot = g_processSnapshotApi.createSnapshot(TH32CS_SNAPPROCESS, 0);
    if (snapshot == INVALID_HANDLE_VALUE || snapshot == nullptr) {
        return 0;
    }
    tagPROCESSENTRY32 entry;
    std::memset(&entry, 0, sizeof(entry));
    entry.dwSize = sizeof(entry);
    if (!g_processSnapshotApi.first(snapshot, &entry) || entry.dwSize <= kEntryWithoutName) {
        g_processSnapshotApi.close(snapshot);
        return 0;
    }
    // A name filled to the last byte is cut there rather than read past the entry.
    entry.szExeFile[sizeof(entry.szExeFile) - 1] = '\0';
    if (_stricmp(entry.szExeFile, name) == 0) {
        g_processSnapshotApi.close(snapshot);
        return 1;
    }
    int result = 0;
    for (;;) {
        std::memset(&entry, 0, sizeof(entry));
        entry.dwSize = sizeof(entry);
        if (!g_processSnapshotApi.next(snapshot, &entry)) {
            break;
        }
        entry.szExeFile[sizeof(entry.szExeFile) - 1] = '\0';
        if (entry.dwSize > kEntryWithoutName && _stricmp(entry.szExeFile, name) == 0) {
            result = 1;
        }
    }
    g_processSnapshotApi.close(snapshot);
    return result;
}

int StackBinding::GetDLLPathName() {
    libraryPath[0] = '\0';
    HKEY key = nullptr;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, kInstallKey, 0, KEY_READ, &key) != ERROR_SUCCESS) {
        OutputDebugStringA("GetDLLPathName: ERROR! Unable to open registry key for DLL path!\n");
    } else {
        // 255 bytes for the value; the extra character keeps it terminated when it fills them.
        wchar_t value[128];
        std::memset(value, 0, sizeof(value));
        DWORD size = 255;
        DWORD type = 0;
        LONG status = RegQueryValueExW(key, kInstallValue, nullptr, &type,
                                       reinterpret_cast<BYTE*>(value), &size);
        RegCloseKey(key);
        value[127] = L'\0';
        bool readable = status == ERROR_SUCCESS && (type == REG_SZ || type == REG_EXPAND_SZ);
        if (readable) {
            // The install directory must leave room for the library's name in libraryPath.
            int length =
                WideCharToMultiByte(CP_ACP, 0, value, -1, libraryPath,
                                    static_cast<int>(sizeof(libraryPath)), nullptr, nullptr);
            readable = length > 0 &&
                       std::strlen(libraryPath) + sizeof(kLibraryName) <= sizeof(libraryPath);
        }
        if (!readable) {
            OutputDebugStringA(
                "GetDLLPathName: ERROR! Unable to retrieve DLL path from registry!\n");
            libraryPath[0] = '\0';
        }
    }
    Append(libraryPath, sizeof(libraryPath), kLibraryName);
    return 0;
}

int StackBinding::LoadQORLIB() {
    EnterCriticalSection(&bindingLock);
    OutputDebugStringA("LoadQORLIB ==> \n");
    int result = 0;
    if (module != nullptr) {
        result = 1;
    } else {
        GetDLLPathName();
        if (!IsProcessRunning(kStackProcess)) {
            // The stack process by its full path in the install directory: the library's
            // name replaced by the process's. Room for the longer name is made here.
            char processPath[sizeof(libraryPath) + sizeof(kStackProcess)];
            std::memcpy(processPath, libraryPath, sizeof(libraryPath));
            processPath[sizeof(libraryPath) - 1] = '\0';
            char* lastSlash = std::strrchr(processPath, '\\');
            if (lastSlash != nullptr) {
                lastSlash[1] = '\0';
                Append(processPath, sizeof(processPath), kStackProcess);
            }
            if (!IsProcessRunning(processPath)) {
                OutputDebugStringA(
                    "LoadQORLIB ERROR Tarnwick is NOT RUNNING, Bluetooth calls will fail\n");
                LeaveCriticalSection(&bindingLock);
                return 0;
            }
        }
        HMODULE loaded = LoadLibraryA(kLibraryName);
        if (loaded != nullptr) {
            FARPROC found[5];
            bool complete = true;
            for (int i = 0; i < 5; i++) {
                OutputDebugStringA(kEntryPoints[i].debugLine);
                found[i] = GetProcAddress(loaded, kEntryPoints[i].exportName);
                complete = complete && found[i] != nullptr;
            }
            if (!complete) {
                OutputDebugStringA("LoadQORLIB: ERROR! A required function was not found in "
                                   "the QORLIB library!\n");
                FreeLibrary(loaded);
                module = nullptr;
            } else {
                qorlRegister = reinterpret_cast<QorlRegisterFn>(reinterpret_cast<void*>(found[0]));
                qorlUnregister =
                    reinterpret_cast<QorlUnregisterFn>(reinterpret_cast<void*>(found[1]));
                qorlConnect = reinterpret_cast<QorlConnectFn>(reinterpret_cast<void*>(found[2]));
                qorlDisconnect =
                    reinterpret_cast<QorlDisconnectFn>(reinterpret_cast<void*>(found[3]));
                qorlSendData = reinterpret_cast<QorlSendDataFn>(reinterpret_cast<void*>(found[4]));
                module = loaded;
                // Holders of an earlier load (released by an unconditional Unload) do not
                // count for this one.
                holders = 0;
                loadCount = loadCount + 1 == 0 ? 1 : loadCount + 1;
                result = 1;
            }
        }
    }
    OutputDebugStringA("LoadQORLIB <== \n");
    LeaveCriticalSection(&bindingLock);
    return result;
}

int StackBinding::Unload() {
    EnterCriticalSection(&bindingLock);
    int result = UnloadHeld();
    LeaveCriticalSection(&bindingLock);
    return result;
}

uint32_t StackBinding::Acquire() {
    EnterCriticalSection(&bindingLock);
    uint32_t token = 0;
    // LoadQORLIB takes the binding lock again; it is re-entrant.
    if (LoadQORLIB()) {
        if (loadCount == 0) {
            // A library bound by other means than LoadQORLIB (a test installing one).
            loadCount = 1;
        }
        holders++;
        token = loadCount;
    }
    LeaveCriticalSection(&bindingLock);
    return token;
}

void StackBinding::Release(uint32_t token) {
    EnterCriticalSection(&bindingLock);
    if (token != 0 && token == loadCount && holders > 0) {
        holders--;
    }
    LeaveCriticalSection(&bindingLock);
}

int StackBinding::UnloadIfUnused() {
    EnterCriticalSection(&bindingLock);
    int result = holders == 0 ? UnloadHeld() : 1;
    LeaveCriticalSection(&bindingLock);
    return result;
}

int StackBinding::UnloadHeld() {
    if (module == nullptr) {
        return 1;
    }
    HMODULE loaded = module;
    module = nullptr;
    return FreeLibrary(loaded) ? 1 : 0;
}

int StackBinding::Register(ChannelDescriptor* descriptor) {
    QorlRegisterFn operation = qorlRegister;
    return IsBound() && operation != nullptr ? operation(descriptor) : QORL_NOT_BOUND;
}

int StackBinding::Connect(ChannelDescriptor* descriptor, uint16_t psm,
                          const uint8_t* deviceAddress) {
    QorlConnectFn operation = qorlConnect;
    return IsBound() && operation != nullptr ? operation(descriptor, psm, deviceAddress)
                                             : QORL_NOT_BOUND;
}

int StackBinding::Disconnect(uint16_t handle) {
    QorlDisconnectFn operation = qorlDisconnect;
    return IsBound() && operation != nullptr ? operation(handle) : QORL_NOT_BOUND;
}

int StackBinding::SendData(uint16_t handle, const void* data, uint16_t length) {
    QorlSendDataFn operation = qorlSendData;
    return IsBound() && operation != nullptr ? operation(handle, data, length) : QORL_NOT_BOUND;
}
