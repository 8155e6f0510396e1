// Placeholder until the legacy adapters are built.
#include "entry/legacy_adapters.h"

BOOL WINAPI LegacyEnumPorts(LPSTR, DWORD, LPBYTE, DWORD, LPDWORD, LPDWORD) {
    SetLastError(ERROR_CALL_NOT_IMPLEMENTED);
    return FALSE;
}
BOOL WINAPI LegacyOpenPort(LPSTR, PHANDLE) {
    SetLastError(ERROR_CALL_NOT_IMPLEMENTED);
    return FALSE;
}
BOOL WINAPI LegacyStartDocPort(HANDLE, LPSTR, DWORD, DWORD, LPBYTE) {
    SetLastError(ERROR_CALL_NOT_IMPLEMENTED);
    return FALSE;
}
BOOL WINAPI LegacyAddPort(LPSTR, HWND, LPSTR) { return FALSE; }
BOOL WINAPI LegacyConfigurePort(LPSTR, HWND, LPSTR) { return FALSE; }
BOOL WINAPI LegacyDeletePort(LPSTR, HWND, LPSTR) {
    SetLastError(ERROR_CALL_NOT_IMPLEMENTED);
    return FALSE;
}
BOOL WINAPI LegacyGetPrinterDataFromPort(HANDLE, DWORD, LPSTR, LPSTR, DWORD, LPSTR, DWORD,
                                         LPDWORD) {
    SetLastError(ERROR_CALL_NOT_IMPLEMENTED);
    return FALSE;
}
