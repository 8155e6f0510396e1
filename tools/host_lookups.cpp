// What the spooler host answers when the monitor looks a function up by name at run time:
// SPOOLSS.DLL's EnumPortsW (the host's port list) and the Bluetooth library's QORL_SendData
// (timed, for the figures of the link's pace).

#include "spooler_host_parts.h"

#include "hcrp/qorlib_abi.h"

#include <cstring>

namespace prnlink {

namespace {

FARPROC(WINAPI* g_realGetProcAddress)(HMODULE, LPCSTR) = GetProcAddress;
QorlSendDataFn g_realSendData;
volatile LONGLONG g_sendTicks;
volatile LONGLONG g_sendBytes;
volatile LONG g_sendObserved;

// The spooler's port list, as SPOOLSS.DLL's EnumPortsW gives it: here the host serves one
// monitor, so the list is that monitor's.
BOOL WINAPI HostEnumPortsW(LPWSTR server, DWORD level, LPBYTE buffer, DWORD size, LPDWORD needed,
                           LPDWORD returned) {
    const Monitor2Table* table = Monitor();
    if (table == nullptr || table->pfnEnumPorts == nullptr) {
        SetLastError(ERROR_INVALID_FUNCTION);
        return FALSE;
    }
    DWORD count = 0;
    BOOL ok =
        table->pfnEnumPorts(MonitorHandleValue(), server, level, buffer, size, needed, &count);
    if (returned != nullptr) {
        *returned = ok ? count : 0;
    }
    return ok;
}

int __cdecl HostSendData(uint16_t handle, const void* data, uint16_t length) {
    LARGE_INTEGER before;
    LARGE_INTEGER after;
    QueryPerformanceCounter(&before);
    int result = g_realSendData(handle, data, length);
    QueryPerformanceCounter(&after);
    InterlockedExchangeAdd64(&g_sendTicks, after.QuadPart - before.QuadPart);
    InterlockedExchangeAdd64(&g_sendBytes, length);
    InterlockedExchange(&g_sendObserved, 1);
    return result;
}

} // namespace

void SetRealGetProcAddress(FARPROC(WINAPI* real)(HMODULE, LPCSTR)) {
    g_realGetProcAddress = real;
}

// The monitor finds SPOOLSS.DLL's EnumPortsW and the Bluetooth library's operations by name
// at run time; the host hands out its port list and a timed send in their place.
FARPROC WINAPI HostGetProcAddress(HMODULE module, LPCSTR name) {
    FARPROC real = g_realGetProcAddress(module, name);
    if (real == nullptr || HIWORD(reinterpret_cast<uintptr_t>(name)) == 0) {
        return real;
    }
    if (std::strcmp(name, "EnumPortsW") == 0 && module == GetModuleHandleA("spoolss.dll")) {
        return FunctionCast<FARPROC>(HostEnumPortsW);
    }
    if (std::strcmp(name, "QORL_SendData") == 0) {
        g_realSendData = FunctionCast<QorlSendDataFn>(real);
        return FunctionCast<FARPROC>(HostSendData);
    }
    return real;
}

double LinkSendSeconds() {
    LARGE_INTEGER frequency;
    QueryPerformanceFrequency(&frequency);
    LONGLONG ticks = InterlockedCompareExchange64(&g_sendTicks, 0, 0);
    return static_cast<double>(ticks) / static_cast<double>(frequency.QuadPart);
}
uint64_t LinkSendBytes() {
    return static_cast<uint64_t>(InterlockedCompareExchange64(&g_sendBytes, 0, 0));
}
bool LinkSendObserved() {
    return g_sendObserved != 0;
}

} // namespace prnlink
