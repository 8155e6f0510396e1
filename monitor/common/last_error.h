#pragma once
// The thread's error after a call that failed, for passing on: some system calls fail
// without setting one, and a failure must never be reported as error 0.

#include <windows.h>

inline DWORD LastErrorOr(DWORD fallback) {
    const DWORD error = GetLastError();
    return error != ERROR_SUCCESS ? error : fallback;
}
