// Placeholder until port enumeration is built.
#include "ports/enum_ports.h"

BOOL WINAPI EnumPorts(HANDLE, LPWSTR, DWORD, LPBYTE, DWORD, LPDWORD, LPDWORD) {
    SetLastError(ERROR_CALL_NOT_IMPLEMENTED);
    return FALSE;
}
BOOL WINAPI OpenPort(HANDLE, LPWSTR, PHANDLE) {
    SetLastError(ERROR_CALL_NOT_IMPLEMENTED);
    return FALSE;
}
BOOL ReadRetryTimeout(MonitorHandle*, DWORD* timeoutMs) {
    *timeoutMs = 45000;
    return TRUE;
}
