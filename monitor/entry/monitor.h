#pragma once
// The monitor's front door: the exported entry points and the operations the function
// tables hold. It uses the subsystems; no subsystem includes it.

#include "common/monitor_handle.h"
#include "job/device_id.h"
#include "job/job_path.h"
#include "ports/enum_ports.h"
#include "ports/port_admin.h"
#include "ports/xcv.h"

// Exports.
extern "C" {
BOOL WINAPI DllEntryPoint(HINSTANCE instance, DWORD reason, LPVOID reserved);
Monitor2Table* WINAPI InitializePrintMonitor2(MONITORINIT* pMonitorInit, PHANDLE phMonitor);
BOOL WINAPI InitializeMonitorEx(LPSTR pRegistryRoot, LegacyMonitorTable* pMonitor);
}

// Windows 2000 (version 5.0, any service pack).
bool IsWindows2000();

// MONITOR2 operations of this layer; the others are declared by their subsystems.
VOID WINAPI Shutdown(HANDLE hMonitor);
