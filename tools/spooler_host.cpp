// The spooler host: loading and initialising the library with a MONITORINIT of this
// process's own, binding its imports of the spooler client calls to the host's
// (host_printers.cpp), its run-time look-ups (host_lookups.cpp) and its registry functions
// (host_registry.cpp), and unloading it.

#include "spooler_host_parts.h"

#include "import_patch.h"

namespace prnlink {

const wchar_t* const kMonitorRegistryPath =
    L"System\\CurrentControlSet\\Control\\Print\\Monitors\\Prnlink";

namespace {

HMODULE g_library;
HKEY g_registryRoot;
MONITORINIT g_monitorInit;
MONITORREG g_monitorReg;
const Monitor2Table* g_table;
HANDLE g_monitor;
std::string g_unbound;

void Bind(const char* dll, const char* function, void* replacement, void** original) {
    if (!PatchImport(g_library, dll, function, replacement, original)) {
        if (!g_unbound.empty()) {
            g_unbound += ", ";
        }
        g_unbound += function;
    }
}

} // namespace

bool LoadMonitor(const std::wstring& dllPath, std::string* error,
                 const BeforeInitialize& beforeInitialize) {
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
    SetRealGetProcAddress(GetProcAddress);
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
    g_monitorReg = HostRegistryFunctions();
    g_monitorInit = MONITORINIT{};
    g_monitorInit.cbSize = sizeof(MONITORINIT);
    g_monitorInit.hSpooler = nullptr;
    g_monitorInit.hckRegistryRoot = reinterpret_cast<HKEYMONITOR>(g_registryRoot);
    g_monitorInit.pMonitorReg = &g_monitorReg;
    g_monitorInit.bLocal = TRUE;
    g_monitorInit.pszServerName = nullptr;
    if (beforeInitialize) {
        beforeInitialize(g_library, &g_monitorReg);
    }
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

void ShutdownMonitor() {
    if (g_table != nullptr && g_table->pfnShutdown != nullptr) {
        g_table->pfnShutdown(g_monitor);
    }
    g_table = nullptr;
    g_monitor = nullptr;
}

void UnloadMonitor() {
    ShutdownMonitor();
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

} // namespace prnlink
