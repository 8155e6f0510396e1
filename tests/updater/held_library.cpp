// A library with nothing in it, loaded by the tests in place of the installed monitor
// library to hold its file the way the spooler does.
#include <windows.h>

BOOL WINAPI DllMain(HINSTANCE, DWORD, LPVOID) {
    return TRUE;
}
