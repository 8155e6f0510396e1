#pragma once
// Port administration: AddPortEx, DeletePort, SetPortTimeOuts, the adding of a port by name
// that AddPortEx and Xcv "AddPort" share, the "QuillPorts" profile section, and the calls
// out of the monitor that port administration makes.

#include "common/monitor_handle.h"
#include "ports/retry_timeout.h"

// MONITOR2 operations.
BOOL WINAPI AddPortEx(HANDLE hMonitor, LPWSTR pName, DWORD Level, LPBYTE lpBuffer,
                      LPWSTR lpMonitorName);
BOOL WINAPI DeletePort(HANDLE hMonitor, LPWSTR pName, HWND hWnd, LPWSTR pPortName);
BOOL WINAPI SetPortTimeOuts(HANDLE hPort, LPCOMMTIMEOUTS lpCTO, DWORD reserved);

// Who adds a port by name: the two keep their own error codes and steps.
enum class AddPortCaller {
    // A name the spooler has: 87. The name must be a Bluetooth address (else 123); the port
    // gets the configured retry time-out.
    AddPortEx,
    // A name the spooler has: 183, also left as the thread's error. Any name; one that is a
    // Bluetooth address gives the port that address, any other the zero address.
    XcvAddPort,
};
// Adds the port, records it in the profile section, and returns 0 or the Win32 error; a
// failure leaves neither the port nor a profile entry. Takes MonitorLock itself.
DWORD AddPortByName(MonitorHandle* monitor, LPWSTR serverName, const wchar_t* portName,
                    AddPortCaller caller);

// The calls that port administration makes out of the monitor, in one place so that a
// test can see or refuse them. Every member defaults to the system's function.
struct PortAdminCalls {
    BOOL(WINAPI* writeProfileString)(LPCWSTR section, LPCWSTR key, LPCWSTR value);
    HMODULE(WINAPI* loadLibrary)(LPCSTR name);
    FARPROC(WINAPI* getProcAddress)(HMODULE module, LPCSTR name);
    BOOL(WINAPI* setDefaultCommConfig)(LPCWSTR device, LPCOMMCONFIG config, DWORD size);
    BOOL(WINAPI* getDefaultCommConfig)(LPCWSTR device, LPCOMMCONFIG config, LPDWORD size);
};
extern PortAdminCalls g_portAdminCalls;

// The "QuillPorts" profile section: one entry per port added by name.
extern const wchar_t* const QUILL_PORTS_SECTION;
