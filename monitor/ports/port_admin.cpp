// Placeholder until port administration and the Xcv commands are built.
#include "entry/monitor.h"

BOOL WINAPI AddPortEx(HANDLE, LPWSTR, DWORD, LPBYTE, LPWSTR) {
    SetLastError(ERROR_CALL_NOT_IMPLEMENTED);
    return FALSE;
}
BOOL WINAPI DeletePort(HANDLE, LPWSTR, HWND, LPWSTR) {
    SetLastError(ERROR_CALL_NOT_IMPLEMENTED);
    return FALSE;
}
BOOL WINAPI SetPortTimeOuts(HANDLE, LPCOMMTIMEOUTS, DWORD) {
    SetLastError(ERROR_CALL_NOT_IMPLEMENTED);
    return FALSE;
}
BOOL WINAPI XcvOpenPort(HANDLE, LPCWSTR, ACCESS_MASK, PHANDLE) {
    SetLastError(ERROR_CALL_NOT_IMPLEMENTED);
    return FALSE;
}
DWORD WINAPI XcvDataPort(HANDLE, LPCWSTR, PBYTE, DWORD, PBYTE, DWORD, PDWORD) {
    return ERROR_CALL_NOT_IMPLEMENTED;
}
BOOL WINAPI XcvClosePort(HANDLE) {
    SetLastError(ERROR_CALL_NOT_IMPLEMENTED);
    return FALSE;
}
