// InitializePrintMonitor2, InitializeMonitorEx, the MONITOR2 table and Shutdown.

#include "entry/monitor.h"
#include "entry/legacy_adapters.h"
#include "entry/registry_shim.h"
#include "entry/reported_operations.h"
#include "ports/port_record.h"

#include <cstring>
#include <initializer_list>

MonitorHandle* g_monitorHandle;
MonitorHandle* g_monitors;

// clang-format off
Monitor2Table g_monitor2Table = {
    MONITOR2_SIZE,
    ReportedEnumPorts,
    ReportedOpenPort,
    nullptr, // OpenPortEx
    ReportedStartDocPort,
    ReportedWritePort,
    ReportedReadPort,
    ReportedEndDocPort,
    ReportedClosePort,
    nullptr, // AddPort: ports are not added through the spooler's dialog
    ReportedAddPortEx,
    nullptr, // ConfigurePort: the port dialogs' library (QUILLDLG.dll) does it through Xcv
    ReportedDeletePort,
    ReportedGetPrinterDataFromPort,
    ReportedSetPortTimeOuts,
    ReportedXcvOpenPort,
    ReportedXcvDataPort,
    XcvClosePort,
    Shutdown,
    nullptr, // SendRecvBidiDataFromPort
};
// clang-format on

namespace {

MONITORINIT* KeepMonitorInit(MonitorHandle* monitor, const MONITORINIT* given, bool rootIsKey) {
    monitor->ownedInit = *given;
    if (rootIsKey && given->hckRegistryRoot != nullptr) {
        HKEY copy = nullptr;
        if (RegOpenKeyExW(reinterpret_cast<HKEY>(given->hckRegistryRoot), nullptr, 0,
                          KEY_ALL_ACCESS, &copy) == ERROR_SUCCESS) {
            monitor->ownedRoot = copy;
            monitor->ownedInit.hckRegistryRoot = reinterpret_cast<HKEYMONITOR>(copy);
        }
    }
    return &monitor->ownedInit;
}

void ReleaseMonitorInit(MonitorHandle* monitor) {
    if (monitor->ownedRoot != nullptr) {
        RegCloseKey(monitor->ownedRoot);
        monitor->ownedRoot = nullptr;
    }
    if (monitor->ownedShim != nullptr) {
        GlobalFree(monitor->ownedShim);
        monitor->ownedShim = nullptr;
    }
}

} // namespace

bool IsWindows2000() {
    OSVERSIONINFOEXW version;
    ZeroMemory(&version, sizeof(version));
    version.dwOSVersionInfoSize = sizeof(version);
    version.dwMajorVersion = 5;
    version.dwMinorVersion = 0;
    DWORDLONG condition = 0;
    condition = VerSetConditionMask(condition, VER_MAJORVERSION, VER_EQUAL);
    condition = VerSetConditionMask(condition, VER_MINORVERSION, VER_EQUAL);
    return VerifyVersionInfoW(&version, VER_MAJORVERSION | VER_MINORVERSION, condition) != FALSE;
}

extern "C" Monitor2Table* WINAPI InitializePrintMonitor2(MONITORINIT* pMonitorInit,
                                                         PHANDLE phMonitor) {
    if (pMonitorInit == nullptr || phMonitor == nullptr || !pMonitorInit->bLocal) {
        return nullptr;
    }
    const bool windows2000 = IsWindows2000();
    auto* monitor = static_cast<MonitorHandle*>(AllocZeroedMemory(sizeof(MonitorHandle)));
    if (monitor == nullptr) {
        return nullptr;
    }
    if (windows2000) {
        // The spooler's own registry functions serve the monitor; no bidi slot.
        g_monitor2Table.cbSize = MONITOR2_SIZE_WINDOWS_2000;
    } else {
        // Made after the handle, so that a failure leaves the spooler's MONITORINIT as it was
        // and nothing allocated.
        MONITORREG* shim = CreateRegistryShim();
        if (shim == nullptr) {
            GlobalFree(monitor);
            return nullptr;
        }
        pMonitorInit->pMonitorReg = shim;
        pMonitorInit->hSpooler = nullptr;
        monitor->ownedShim = shim;
    }
    memcpy(monitor->signature, MONITOR_HANDLE_SIGNATURE, sizeof(monitor->signature));
    monitor->monitorInit = KeepMonitorInit(monitor, pMonitorInit, !windows2000);
    *phMonitor = monitor;
    g_monitorHandle = monitor;
    MonitorLockInitialize();
    {
        MonitorLockGuard lock;
        monitor->nextMonitor = g_monitors;
        g_monitors = monitor;
    }
    return &g_monitor2Table;
}

extern "C" BOOL WINAPI InitializeMonitorEx(LPSTR pRegistryRoot, LegacyMonitorTable* pMonitor) {
    // A null root would open HKEY_LOCAL_MACHINE itself as the monitor's key.
    if (pMonitor == nullptr || pRegistryRoot == nullptr) {
        return FALSE;
    }
    auto* init = static_cast<MONITORINIT*>(AllocZeroedMemory(sizeof(MONITORINIT)));
    if (init == nullptr) {
        return FALSE;
    }
    init->cbSize = sizeof(MONITORINIT);
    MONITORREG* shim = CreateRegistryShim();
    if (shim == nullptr) {
        GlobalFree(init);
        return FALSE;
    }
    init->pMonitorReg = shim;
    init->hSpooler = nullptr;
    HKEY root = nullptr;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, pRegistryRoot, 0, KEY_ALL_ACCESS, &root) !=
        ERROR_SUCCESS) {
        GlobalFree(shim);
        GlobalFree(init);
        return FALSE;
    }
    init->hckRegistryRoot = reinterpret_cast<HKEYMONITOR>(root);
    init->bLocal = TRUE;
    HANDLE monitor = nullptr;
    if (InitializePrintMonitor2(init, &monitor) == nullptr) {
        // A failed initialisation leaves the MONITORINIT as it was given.
        RegCloseKey(root);
        GlobalFree(shim);
        GlobalFree(init);
        return FALSE;
    }
    // Where InitializePrintMonitor2 installed a fresh table, the first one is no one's.
    if (init->pMonitorReg != shim) {
        GlobalFree(shim);
    }
    pMonitor->pfnEnumPorts = LegacyEnumPorts;
    pMonitor->pfnOpenPort = LegacyOpenPort;
    pMonitor->pfnOpenPortEx = nullptr;
    pMonitor->pfnStartDocPort = LegacyStartDocPort;
    pMonitor->pfnWritePort = ReportedWritePort;
    pMonitor->pfnReadPort = ReportedReadPort;
    pMonitor->pfnEndDocPort = ReportedEndDocPort;
    pMonitor->pfnClosePort = ReportedClosePort;
    pMonitor->pfnAddPort = LegacyAddPort;
    pMonitor->pfnAddPortEx = nullptr;
    pMonitor->pfnConfigurePort = LegacyConfigurePort;
    pMonitor->pfnDeletePort = LegacyDeletePort;
    pMonitor->pfnGetPrinterDataFromPort = LegacyGetPrinterDataFromPort;
    pMonitor->pfnSetPortTimeOuts = ReportedSetPortTimeOuts;
    return TRUE;
}

VOID WINAPI Shutdown(HANDLE hMonitor) {
    MonitorHandle* monitor = MonitorFromHandle(hMonitor);
    if (monitor == nullptr) {
        return;
    }
    // From here on no port handle of this monitor is taken for a record.
    {
        MonitorLockGuard lock;
        for (MonitorHandle** link = &g_monitors; *link != nullptr; link = &(*link)->nextMonitor) {
            if (*link == monitor) {
                *link = monitor->nextMonitor;
                break;
            }
        }
    }
    FreeAllPortRecords(monitor);
    // The spooler closes its Xcv handles before it shuts the monitor down; any left over
    // would only leak with their monitor gone.
    FreeAllXcvHandles(monitor);
    if (g_monitorHandle == monitor) {
        g_monitorHandle = nullptr;
    }
    ReleaseMonitorInit(monitor);
    memset(monitor->signature, 0, sizeof(monitor->signature));
    GlobalFree(monitor);
}
