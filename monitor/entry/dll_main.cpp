// The library's entry routine as the C runtime sees it. The runtime's own start-up code
// runs first (constructing StackBinding at load, destroying it at unload) and then calls
// DllMain for every reason; the exported DllEntryPoint does the monitor's part.

#include "entry/monitor.h"

extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID reserved) {
    return DllEntryPoint(instance, reason, reserved);
}
