#pragma once
// The monitor-initialisation record that the monitor's handle embeds (native build), laid out
// as on 64-bit Windows in a -m64 build and as on 32-bit Windows in a -m32 build.

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
// As mingw-w64's headers lay it out for each architecture.
#ifdef __x86_64__
static_assert(sizeof(MONITORINIT) == 48, "MONITORINIT is 48 bytes on x64");
static_assert(offsetof(MONITORINIT, hSpooler) == 8, "MONITORINIT.hSpooler on x64");
static_assert(offsetof(MONITORINIT, bLocal) == 32, "MONITORINIT.bLocal on x64");
static_assert(offsetof(MONITORINIT, pszServerName) == 40, "MONITORINIT.pszServerName on x64");
#else
static_assert(sizeof(MONITORINIT) == 24, "MONITORINIT is 24 bytes on i686");
static_assert(offsetof(MONITORINIT, hSpooler) == 4, "MONITORINIT.hSpooler on i686");
static_assert(offsetof(MONITORINIT, bLocal) == 16, "MONITORINIT.bLocal on i686");
static_assert(offsetof(MONITORINIT, pszServerName) == 20, "MONITORINIT.pszServerName on i686");
#endif
