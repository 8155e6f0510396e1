#include "spooler_host.h"

#include "hcrp/qorlib_abi.h"
#include "import_patch.h"

#include <cstring>
#include <map>

namespace prnlink {

const wchar_t* const kMonitorRegistryPath =
    L"System\\CurrentControlSet\\Control\\Print\\Monitors\\Prnlink";

namespace {

// ---- state --------------------------------------------------------------------------------

CRITICAL_SECTION g_hostLock; // guards the fields below; never held across a monitor call
bool g_hostLockReady;

class HostLock {
  public:
    HostLock() { EnterCriticalSection(&g_hostLock); }
    ~HostLock() { LeaveCriticalSection(&g_hostLock); }
};

HMODULE g_library;
HKEY g_registryRoot;
MONITORINIT g_monitorInit;
MONITORREG g_monitorReg;
const Monitor2Table* g_table;
HANDLE g_monitor;
std::string g_unbound;

// Printers opened by the monitor, by handle value. A handle is a number that is never given
// out twice, so that a closed handle is told apart from a live one (the monitor relies on
// ERROR_INVALID_HANDLE for a closed handle) without keeping anything of it after
// ClosePrinter: a host that prints for days holds only the printers open now.
struct FakePrinter {
    std::wstring name;
};
std::map<HANDLE, FakePrinter> g_printers;
uintptr_t g_lastPrinterHandle = 0x50480000; // "PH", out of the range of the system's handles
std::wstring g_printerPort;
SpoolerHostEvents g_events;
bool g_hasStatus;
PortStatusPost g_lastStatus;

FARPROC(WINAPI* g_realGetProcAddress)(HMODULE, LPCSTR);
QorlSendDataFn g_realSendData;
volatile LONGLONG g_sendTicks;
volatile LONGLONG g_sendBytes;
volatile LONG g_sendObserved;
LARGE_INTEGER g_frequency;

// Function addresses change type through an untyped pointer: the types are the library's.
template <typename To, typename From> To FunctionCast(From function) {
    return reinterpret_cast<To>(reinterpret_cast<void*>(function));
}

FakePrinter* FindOpenPrinter(HANDLE handle) {
    auto printer = g_printers.find(handle);
    return printer != g_printers.end() ? &printer->second : nullptr;
}

// ---- MONITORREG over the registry ---------------------------------------------------------
// The monitor puts its own registry functions in place of these on every system but
// Windows 2000; they serve it there, as the spooler's would.

LONG WINAPI RegCreate(HANDLE key, LPCWSTR subKey, DWORD options, REGSAM access,
                      PSECURITY_ATTRIBUTES security, PHANDLE result, PDWORD disposition, HANDLE) {
    return RegCreateKeyExW(static_cast<HKEY>(key), subKey, 0, nullptr, options, access, security,
                           reinterpret_cast<PHKEY>(result), disposition);
}
LONG WINAPI RegOpen(HANDLE key, LPCWSTR subKey, REGSAM access, PHANDLE result, HANDLE) {
    return RegOpenKeyExW(static_cast<HKEY>(key), subKey, 0, access,
                         reinterpret_cast<PHKEY>(result));
}
LONG WINAPI RegClose(HANDLE key, HANDLE) {
    return RegCloseKey(static_cast<HKEY>(key));
}
LONG WINAPI RegDelete(HANDLE key, LPCWSTR subKey, HANDLE) {
    return RegDeleteKeyW(static_cast<HKEY>(key), subKey);
}
LONG WINAPI RegEnum(HANDLE key, DWORD index, LPWSTR name, PDWORD nameLength, PFILETIME written,
                    HANDLE) {
    return RegEnumKeyExW(static_cast<HKEY>(key), index, name, nameLength, nullptr, nullptr, nullptr,
                         written);
}
LONG WINAPI RegQueryInfo(HANDLE key, PDWORD subKeys, PDWORD keyLength, PDWORD values,
                         PDWORD valueLength, PDWORD dataLength, PDWORD securityLength,
                         PFILETIME written, HANDLE) {
    return RegQueryInfoKeyW(static_cast<HKEY>(key), nullptr, nullptr, nullptr, subKeys, keyLength,
                            nullptr, values, valueLength, dataLength, securityLength, written);
}
LONG WINAPI RegSet(HANDLE key, LPCWSTR value, DWORD type, const BYTE* data, DWORD size, HANDLE) {
    return RegSetValueExW(static_cast<HKEY>(key), value, 0, type, data, size);
}
LONG WINAPI RegDeleteVal(HANDLE key, LPCWSTR value, HANDLE) {
    return RegDeleteValueW(static_cast<HKEY>(key), value);
}
LONG WINAPI RegEnumVal(HANDLE key, DWORD index, LPWSTR value, PDWORD valueLength, PDWORD type,
                       PBYTE data, PDWORD dataLength, HANDLE) {
    return RegEnumValueW(static_cast<HKEY>(key), index, value, valueLength, nullptr, type, data,
                         dataLength);
}
LONG WINAPI RegQuery(HANDLE key, LPCWSTR value, PDWORD type, PBYTE data, PDWORD size, HANDLE) {
    return RegQueryValueExW(static_cast<HKEY>(key), value, nullptr, type, data, size);
}

// ---- the spooler client calls -------------------------------------------------------------

BOOL WINAPI HostOpenPrinterW(LPWSTR name, LPHANDLE printer, LPPRINTER_DEFAULTSW) {
    if (printer == nullptr) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    // There is no real printer: any name opens one that prints to the host's port.
    HostLock lock;
    g_lastPrinterHandle += 4;
    HANDLE handle = reinterpret_cast<HANDLE>(g_lastPrinterHandle);
    g_printers[handle].name = name != nullptr ? name : L"";
    *printer = handle;
    return TRUE;
}

BOOL WINAPI HostGetPrinterW(HANDLE handle, DWORD level, LPBYTE buffer, DWORD size, LPDWORD needed) {
    HostLock lock;
    FakePrinter* printer = FindOpenPrinter(handle);
    if (printer == nullptr) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    if (level != 2) {
        SetLastError(ERROR_INVALID_LEVEL);
        return FALSE;
    }
    const std::wstring driver = L"Prnlink host";
    const std::wstring processor = L"winprint";
    const std::wstring datatype = L"RAW";
    const std::wstring* strings[] = {&printer->name, &g_printerPort, &driver, &processor,
                                     &datatype};
    DWORD total = sizeof(PRINTER_INFO_2W);
    for (const std::wstring* text : strings) {
        total += static_cast<DWORD>((text->size() + 1) * sizeof(wchar_t));
    }
    if (needed != nullptr) {
        *needed = total;
    }
    if (buffer == nullptr || size < total) {
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return FALSE;
    }
    std::memset(buffer, 0, total);
    auto* info = reinterpret_cast<PRINTER_INFO_2W*>(buffer);
    auto* cursor = reinterpret_cast<wchar_t*>(buffer + sizeof(PRINTER_INFO_2W));
    wchar_t* placed[5];
    for (int i = 0; i < 5; ++i) {
        placed[i] = cursor;
        std::memcpy(cursor, strings[i]->c_str(), (strings[i]->size() + 1) * sizeof(wchar_t));
        cursor += strings[i]->size() + 1;
    }
    info->pPrinterName = placed[0];
    info->pPortName = placed[1];
    info->pDriverName = placed[2];
    info->pPrintProcessor = placed[3];
    info->pDatatype = placed[4];
    info->Attributes = PRINTER_ATTRIBUTE_LOCAL;
    info->Priority = 1;
    info->Status = 0;
    return TRUE;
}

BOOL WINAPI HostSetPortW(LPWSTR, LPWSTR portName, DWORD level, LPBYTE portInfo) {
    if (level != 3 || portInfo == nullptr) {
        SetLastError(ERROR_INVALID_LEVEL);
        return FALSE;
    }
    auto* info = reinterpret_cast<PORT_INFO_3W*>(portInfo);
    PortStatusPost post;
    post.portName = portName != nullptr ? portName : L"";
    post.status = info->dwStatus;
    // The text is the monitor's and valid only during this call: keep a copy.
    post.text = info->pszStatus != nullptr ? info->pszStatus : L"";
    post.severity = info->dwSeverity;
    std::function<void(const PortStatusPost&)> observer;
    {
        HostLock lock;
        g_lastStatus = post;
        g_hasStatus = true;
        observer = g_events.portStatus;
    }
    if (observer) {
        observer(post);
    }
    return TRUE;
}

BOOL WINAPI HostSetJobW(HANDLE handle, DWORD jobId, DWORD, LPBYTE, DWORD command) {
    std::function<void(uint32_t, uint32_t)> observer;
    {
        HostLock lock;
        if (FindOpenPrinter(handle) == nullptr) {
            SetLastError(ERROR_INVALID_HANDLE);
            return FALSE;
        }
        observer = g_events.jobCommand;
    }
    if (observer) {
        observer(jobId, command);
    }
    return TRUE;
}

BOOL WINAPI HostClosePrinter(HANDLE handle) {
    HostLock lock;
    if (g_printers.erase(handle) == 0) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    return TRUE;
}

// The spooler's port list, as SPOOLSS.DLL's EnumPortsW gives it: here the host serves one
// monitor, so the list is that monitor's.
BOOL WINAPI HostEnumPortsW(LPWSTR server, DWORD level, LPBYTE buffer, DWORD size, LPDWORD needed,
                           LPDWORD returned) {
    if (g_table == nullptr || g_table->pfnEnumPorts == nullptr) {
        SetLastError(ERROR_INVALID_FUNCTION);
        return FALSE;
    }
    DWORD count = 0;
    BOOL ok = g_table->pfnEnumPorts(g_monitor, server, level, buffer, size, needed, &count);
    if (returned != nullptr) {
        *returned = ok ? count : 0;
    }
    return ok;
}

int __cdecl HostSendData(uint16_t handle, const void* data, uint16_t length) {
    LARGE_INTEGER before;
    LARGE_INTEGER after;
    QueryPerformanceCounter(&before);
    int result = g_realSendData(handle, data, length);
    QueryPerformanceCounter(&after);
    InterlockedExchangeAdd64(&g_sendTicks, after.QuadPart - before.QuadPart);
    InterlockedExchangeAdd64(&g_sendBytes, length);
    InterlockedExchange(&g_sendObserved, 1);
    return result;
}

// The monitor finds SPOOLSS.DLL's EnumPortsW and the Bluetooth library's operations by name
// at run time; the host hands out its port list and a timed send in their place.
FARPROC WINAPI HostGetProcAddress(HMODULE module, LPCSTR name) {
    FARPROC real = g_realGetProcAddress(module, name);
    if (real == nullptr || HIWORD(reinterpret_cast<uintptr_t>(name)) == 0) {
        return real;
    }
    if (std::strcmp(name, "EnumPortsW") == 0 && module == GetModuleHandleA("spoolss.dll")) {
        return FunctionCast<FARPROC>(HostEnumPortsW);
    }
    if (std::strcmp(name, "QORL_SendData") == 0) {
        g_realSendData = FunctionCast<QorlSendDataFn>(real);
        return FunctionCast<FARPROC>(HostSendData);
    }
    return real;
}

void Bind(const char* dll, const char* function, void* replacement, void** original) {
    if (!PatchImport(g_library, dll, function, replacement, original)) {
        if (!g_unbound.empty()) {
            g_unbound += ", ";
        }
        g_unbound += function;
    }
}

} // namespace

bool LoadMonitor(const std::wstring& dllPath, std::string* error) {
    if (!g_hostLockReady) {
        InitializeCriticalSection(&g_hostLock);
        QueryPerformanceFrequency(&g_frequency);
        g_hostLockReady = true;
    }
    g_library = LoadLibraryW(dllPath.c_str());
    if (g_library == nullptr) {
        *error = "cannot load the monitor library (error " + std::to_string(GetLastError()) + ")";
        return false;
    }
    // Bind before anything in the library runs on the spooler's behalf.
    void* ignored = nullptr;
    Bind("winspool.drv", "OpenPrinterW", reinterpret_cast<void*>(HostOpenPrinterW), &ignored);
    Bind("winspool.drv", "GetPrinterW", reinterpret_cast<void*>(HostGetPrinterW), &ignored);
    Bind("winspool.drv", "SetPortW", reinterpret_cast<void*>(HostSetPortW), &ignored);
    Bind("winspool.drv", "SetJobW", reinterpret_cast<void*>(HostSetJobW), &ignored);
    Bind("winspool.drv", "ClosePrinter", reinterpret_cast<void*>(HostClosePrinter), &ignored);
    g_realGetProcAddress = GetProcAddress;
    Bind("kernel32.dll", "GetProcAddress", reinterpret_cast<void*>(HostGetProcAddress), &ignored);

    auto initialize = FunctionCast<Monitor2Table*(WINAPI*)(MONITORINIT*, PHANDLE)>(
        GetProcAddress(g_library, "InitializePrintMonitor2"));
    if (initialize == nullptr) {
        *error = "the library exports no InitializePrintMonitor2";
        FreeLibrary(g_library);
        g_library = nullptr;
        return false;
    }
    LONG status = RegCreateKeyExW(HKEY_LOCAL_MACHINE, kMonitorRegistryPath, 0, nullptr, 0,
                                  KEY_ALL_ACCESS, nullptr, &g_registryRoot, nullptr);
    if (status != ERROR_SUCCESS) {
        *error = "cannot open the monitor's registry key (error " + std::to_string(status) + ")";
        FreeLibrary(g_library);
        g_library = nullptr;
        return false;
    }
    g_monitorReg =
        MONITORREG{sizeof(MONITORREG), RegCreate, RegOpen,      RegClose,   RegDelete, RegEnum,
                   RegQueryInfo,       RegSet,    RegDeleteVal, RegEnumVal, RegQuery};
    g_monitorInit = MONITORINIT{};
    g_monitorInit.cbSize = sizeof(MONITORINIT);
    g_monitorInit.hSpooler = nullptr;
    g_monitorInit.hckRegistryRoot = reinterpret_cast<HKEYMONITOR>(g_registryRoot);
    g_monitorInit.pMonitorReg = &g_monitorReg;
    g_monitorInit.bLocal = TRUE;
    g_monitorInit.pszServerName = nullptr;
    g_table = initialize(&g_monitorInit, &g_monitor);
    if (g_table == nullptr) {
        *error = "InitializePrintMonitor2 refused to initialise";
        RegCloseKey(g_registryRoot);
        g_registryRoot = nullptr;
        FreeLibrary(g_library);
        g_library = nullptr;
        return false;
    }
    return true;
}

void UnloadMonitor() {
    if (g_table != nullptr && g_table->pfnShutdown != nullptr) {
        g_table->pfnShutdown(g_monitor);
    }
    g_table = nullptr;
    g_monitor = nullptr;
    if (g_library != nullptr) {
        FreeLibrary(g_library);
        g_library = nullptr;
    }
    if (g_registryRoot != nullptr) {
        RegCloseKey(g_registryRoot);
        g_registryRoot = nullptr;
    }
}

const Monitor2Table* Monitor() {
    return g_table;
}
HANDLE MonitorHandleValue() {
    return g_monitor;
}
std::string UnboundImports() {
    return g_unbound;
}

void SetPrinterPort(const std::wstring& port) {
    HostLock lock;
    g_printerPort = port;
}

void SetSpoolerHostEvents(const SpoolerHostEvents& events) {
    HostLock lock;
    g_events = events;
}

bool LastPortStatus(PortStatusPost* post) {
    HostLock lock;
    if (g_hasStatus && post != nullptr) {
        *post = g_lastStatus;
    }
    return g_hasStatus;
}

void ForgetPortStatus() {
    HostLock lock;
    g_hasStatus = false;
}

int OpenPrinterCount() {
    HostLock lock;
    return static_cast<int>(g_printers.size());
}

double LinkSendSeconds() {
    LONGLONG ticks = InterlockedCompareExchange64(&g_sendTicks, 0, 0);
    return static_cast<double>(ticks) / static_cast<double>(g_frequency.QuadPart);
}
uint64_t LinkSendBytes() {
    return static_cast<uint64_t>(InterlockedCompareExchange64(&g_sendBytes, 0, 0));
}
bool LinkSendObserved() {
    return g_sendObserved != 0;
}

} // namespace prnlink
