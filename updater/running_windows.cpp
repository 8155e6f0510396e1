#include "running_windows.h"

#include <windows.h>

bool WindowsIs64Bit() {
#ifdef _WIN64
    return true;
#else
    // Looked up rather than imported: Windows 2000 and XP before SP2, all 32-bit, lack it.
    typedef BOOL(WINAPI * IsWow64ProcessFunction)(HANDLE, PBOOL);
    const auto isWow64Process = reinterpret_cast<IsWow64ProcessFunction>(reinterpret_cast<void*>(
        GetProcAddress(GetModuleHandleA("kernel32.dll"), "IsWow64Process")));
    BOOL wow64 = FALSE;
    return isWow64Process != nullptr && isWow64Process(GetCurrentProcess(), &wow64) && wow64;
#endif
}
