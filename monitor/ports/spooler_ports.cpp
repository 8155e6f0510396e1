// The spooler's own port list, reached through SPOOLSS.DLL's EnumPortsW, loaded at run
// time and kept for the life of the process.

#include "ports/spooler_ports.h"
#include "ports/port_admin.h"
#include "ports/port_record.h"

SpoolerPortList g_spoolerPortList;

namespace {

// Two threads that race here both load the library; the first function stored is kept.
EnumPortsWFunction LoadSpoolerEnumPorts(DWORD* error) {
    EnumPortsWFunction known = g_spoolerPortList.enumPorts;
    if (known != nullptr) {
        return known;
    }
    HMODULE module = g_portAdminCalls.loadLibrary("SPOOLSS.DLL");
    if (module == nullptr) {
        *error = GetLastError();
        return nullptr;
    }
    FARPROC found = g_portAdminCalls.getProcAddress(module, "EnumPortsW");
    if (found == nullptr) {
        *error = GetLastError();
        FreeLibrary(module);
        return nullptr;
    }
    auto function = reinterpret_cast<EnumPortsWFunction>(reinterpret_cast<void*>(found));
    PVOID previous = InterlockedCompareExchangePointer(
        reinterpret_cast<PVOID volatile*>(&g_spoolerPortList.enumPorts),
        reinterpret_cast<PVOID>(function), nullptr);
    if (previous != nullptr) {
        // Another thread got there first: its copy stays, this reference goes.
        FreeLibrary(module);
        return reinterpret_cast<EnumPortsWFunction>(previous);
    }
    g_spoolerPortList.module = module;
    return function;
}

} // namespace

BOOL PortExistsInSpooler(LPWSTR serverName, LPCWSTR portName, DWORD* error) {
    DWORD unused = 0;
    if (error == nullptr) {
        error = &unused;
    }
    *error = 0;
    EnumPortsWFunction enumPorts = LoadSpoolerEnumPorts(error);
    if (enumPorts == nullptr) {
        if (*error == 0) {
            *error = ERROR_MOD_NOT_FOUND;
        }
        return FALSE;
    }
    if (portName == nullptr) {
        return TRUE;
    }
    DWORD needed = 0;
    DWORD returned = 0;
    if (enumPorts(serverName, 1, nullptr, 0, &needed, &returned)) {
        return FALSE; // the spooler has no ports at all
    }
    if (GetLastError() != ERROR_INSUFFICIENT_BUFFER || needed == 0) {
        return TRUE; // unknown: the name is taken as used
    }
    auto* buffer = static_cast<BYTE*>(AllocZeroedMemory(needed));
    if (buffer == nullptr) {
        return TRUE;
    }
    returned = 0;
    if (!enumPorts(serverName, 1, buffer, needed, &needed, &returned)) {
        GlobalFree(buffer);
        return TRUE;
    }
    BOOL exists = FALSE;
    const auto* entries = reinterpret_cast<const PORT_INFO_1W*>(buffer);
    DWORD capacity = needed / sizeof(PORT_INFO_1W);
    for (DWORD i = 0; i < returned && i < capacity; ++i) {
        if (entries[i].pName != nullptr && lstrcmpiW(entries[i].pName, portName) == 0) {
            exists = TRUE;
        }
    }
    GlobalFree(buffer);
    return exists;
}
