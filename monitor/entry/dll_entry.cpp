#include "entry/monitor.h"

HINSTANCE g_moduleHandle;

extern "C" BOOL WINAPI DllEntryPoint(HINSTANCE instance, DWORD, LPVOID) {
    g_moduleHandle = instance;
    return TRUE;
}
