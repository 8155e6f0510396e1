#pragma once
// The lowest layer of the monitor, used by every subsystem: the monitor handle given to the
// spooler, the layouts of the function tables, the process-wide handles and the one
// process-wide lock. It includes nothing of the monitor's own.

#include <cstddef>

#include <windows.h>
#include <winspool.h>
// The SDK header declares the two initialisation entries with its own table types; ours
// are declared below with the layouts this monitor returns.
#define InitializePrintMonitor2 SdkInitializePrintMonitor2
#define InitializeMonitorEx SdkInitializeMonitorEx
#include <winsplp.h>
#undef InitializePrintMonitor2
#undef InitializeMonitorEx

struct PortRecord;
struct XcvHandle;

struct MonitorHandle {
    char signature[4]; // "QLK"
    MONITORINIT* monitorInit;
    PortRecord* ports;
    XcvHandle* xcvHandles;
    // Port records taken off the port list while the spooler still holds them open or a
    // device-ID worker still runs on them; freed once neither holds (ports/port_record.cpp).
    PortRecord* retiredPorts;
    // A spooler's MONITORINIT need not outlive InitializePrintMonitor2: Wine's lies on its
    // stack and Wine closes its registry root as soon as the call returns. monitorInit
    // points at this copy, which holds, where the root is a registry key of the 8-bit shim,
    // a handle of the monitor's own to that key (ownedRoot, closed at Shutdown).
    MONITORINIT ownedInit;
    HKEY ownedRoot;
    // The registry functions initialisation made in place of the spooler's (null where the
    // spooler's serve), freed at Shutdown.
    MONITORREG* ownedShim;
    // The chain of every monitor handle of the process not yet shut down (g_monitors), in
    // which port handles are looked up before they are used.
    MonitorHandle* nextMonitor;
};

// The mark of a live monitor handle, written at initialisation and cleared at Shutdown.
constexpr char MONITOR_HANDLE_SIGNATURE[4] = {'Q', 'L', 'K', '\0'};

// The monitor handle the spooler passes back to an operation, or null when it does not
// carry the mark: checked where the handle arrives.
inline MonitorHandle* MonitorFromHandle(HANDLE handle) {
    auto* monitor = static_cast<MonitorHandle*>(handle);
    if (monitor == nullptr || monitor->signature[0] != MONITOR_HANDLE_SIGNATURE[0] ||
        monitor->signature[1] != MONITOR_HANDLE_SIGNATURE[1] ||
        monitor->signature[2] != MONITOR_HANDLE_SIGNATURE[2]) {
        return nullptr;
    }
    return monitor;
}

// The MONITOR2 table in the published slot order, up to SendRecvBidiDataFromPort.
struct Monitor2Table {
    DWORD cbSize;
    BOOL(WINAPI* pfnEnumPorts)(HANDLE, LPWSTR, DWORD, LPBYTE, DWORD, LPDWORD, LPDWORD);
    BOOL(WINAPI* pfnOpenPort)(HANDLE, LPWSTR, PHANDLE);
    void* pfnOpenPortEx;
    BOOL(WINAPI* pfnStartDocPort)(HANDLE, LPWSTR, DWORD, DWORD, LPBYTE);
    BOOL(WINAPI* pfnWritePort)(HANDLE, LPBYTE, DWORD, LPDWORD);
    BOOL(WINAPI* pfnReadPort)(HANDLE, LPBYTE, DWORD, LPDWORD);
    BOOL(WINAPI* pfnEndDocPort)(HANDLE);
    BOOL(WINAPI* pfnClosePort)(HANDLE);
    void* pfnAddPort;
    BOOL(WINAPI* pfnAddPortEx)(HANDLE, LPWSTR, DWORD, LPBYTE, LPWSTR);
    void* pfnConfigurePort;
    BOOL(WINAPI* pfnDeletePort)(HANDLE, LPWSTR, HWND, LPWSTR);
    BOOL(WINAPI* pfnGetPrinterDataFromPort)
    (HANDLE, DWORD, LPWSTR, LPWSTR, DWORD, LPWSTR, DWORD, LPDWORD);
    BOOL(WINAPI* pfnSetPortTimeOuts)(HANDLE, LPCOMMTIMEOUTS, DWORD);
    BOOL(WINAPI* pfnXcvOpenPort)(HANDLE, LPCWSTR, ACCESS_MASK, PHANDLE);
    DWORD(WINAPI* pfnXcvDataPort)(HANDLE, LPCWSTR, PBYTE, DWORD, PBYTE, DWORD, PDWORD);
    BOOL(WINAPI* pfnXcvClosePort)(HANDLE);
    VOID(WINAPI* pfnShutdown)(HANDLE);
    void* pfnSendRecvBidiDataFromPort;
};
// The whole table (80 bytes on i686, 160 on x64), and the table a Windows 2000 spooler knows,
// which ends after Shutdown (76 and 152).
constexpr DWORD MONITOR2_SIZE = sizeof(Monitor2Table);
constexpr DWORD MONITOR2_SIZE_WINDOWS_2000 = offsetof(Monitor2Table, pfnSendRecvBidiDataFromPort);
static_assert(MONITOR2_SIZE == 20 * sizeof(void*), "MONITOR2: cbSize and nineteen slots");
static_assert(MONITOR2_SIZE_WINDOWS_2000 == MONITOR2_SIZE - sizeof(void*),
              "Windows 2000 sees no SendRecvBidiDataFromPort slot");

// The legacy MONITOR table that InitializeMonitorEx fills: fourteen slots, 8-bit strings.
struct LegacyMonitorTable {
    BOOL(WINAPI* pfnEnumPorts)(LPSTR, DWORD, LPBYTE, DWORD, LPDWORD, LPDWORD);
    BOOL(WINAPI* pfnOpenPort)(LPSTR, PHANDLE);
    void* pfnOpenPortEx;
    BOOL(WINAPI* pfnStartDocPort)(HANDLE, LPSTR, DWORD, DWORD, LPBYTE);
    BOOL(WINAPI* pfnWritePort)(HANDLE, LPBYTE, DWORD, LPDWORD);
    BOOL(WINAPI* pfnReadPort)(HANDLE, LPBYTE, DWORD, LPDWORD);
    BOOL(WINAPI* pfnEndDocPort)(HANDLE);
    BOOL(WINAPI* pfnClosePort)(HANDLE);
    BOOL(WINAPI* pfnAddPort)(LPSTR, HWND, LPSTR);
    void* pfnAddPortEx;
    BOOL(WINAPI* pfnConfigurePort)(LPSTR, HWND, LPSTR);
    BOOL(WINAPI* pfnDeletePort)(LPSTR, HWND, LPSTR);
    BOOL(WINAPI* pfnGetPrinterDataFromPort)
    (HANDLE, DWORD, LPSTR, LPSTR, DWORD, LPSTR, DWORD, LPDWORD);
    BOOL(WINAPI* pfnSetPortTimeOuts)(HANDLE, LPCOMMTIMEOUTS, DWORD);
};
static_assert(sizeof(LegacyMonitorTable) == 14 * sizeof(void*),
              "legacy MONITOR has fourteen slots: 56 bytes on i686, 112 on x64");

// Process-wide state.
extern HINSTANCE g_moduleHandle;
extern MonitorHandle* g_monitorHandle;
// Every monitor handle not yet shut down; changed and read with MonitorLock held.
extern MonitorHandle* g_monitors;
extern Monitor2Table g_monitor2Table;

// The one lock of the monitor's lists and record fields: a re-entrant critical section. The
// lock order is in the README ("Locks and their order").
void MonitorLockEnter();
void MonitorLockLeave();
void MonitorLockInitialize();

// Scoped holder of MonitorLock.
class MonitorLockGuard {
  public:
    MonitorLockGuard() { MonitorLockEnter(); }
    ~MonitorLockGuard() { MonitorLockLeave(); }
    MonitorLockGuard(const MonitorLockGuard&) = delete;
    MonitorLockGuard& operator=(const MonitorLockGuard&) = delete;
};
