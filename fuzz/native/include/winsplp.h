#pragma once
// The monitor-initialisation record that the monitor's handle embeds (native build).

#include <windows.h>

struct MONITORREG;
struct MONITORINIT {
    DWORD cbSize;
    HANDLE hSpooler;
    HKEY hckRegistryRoot;
    MONITORREG* pMonitorReg;
    BOOL bLocal;
    LPCWSTR pszServerName;
};
static_assert(sizeof(MONITORINIT) == 24, "MONITORINIT is 24 bytes");
