#pragma once
// The spooler's own port list, reached through SPOOLSS.DLL's EnumPortsW.

#include "common/monitor_handle.h"

typedef BOOL(WINAPI* EnumPortsWFunction)(LPWSTR, DWORD, LPBYTE, DWORD, LPDWORD, LPDWORD);

// "SPOOLSS.DLL" and its "EnumPortsW", looked up at first use and kept for the life of the
// process (never released).
struct SpoolerPortList {
    HMODULE module;
    EnumPortsWFunction enumPorts;
};
extern SpoolerPortList g_spoolerPortList;

// Asks the spooler whether a port of that name (any letter case) exists. TRUE unless the
// spooler says otherwise; *error is 0, or the error of loading the spooler library.
// The spooler enumerates every monitor's ports, this one's included: never call this with
// MonitorLock held.
BOOL PortExistsInSpooler(LPWSTR serverName, LPCWSTR portName, DWORD* error);
