// A library named QORLIB.DLL that lacks QORL_Unregister, as an older or damaged vendor
// installation would: the monitor must refuse it. Every operation fails.

#include <cstdint>

#include "qorlib_operations.h"

extern "C" {
__declspec(dllexport) int __cdecl QORL_Register(ChannelDescriptor*) {
    return 1;
}
__declspec(dllexport) int __cdecl QORL_Connect(ChannelDescriptor*, uint16_t, const uint8_t*) {
    return 1;
}
__declspec(dllexport) int __cdecl QORL_Disconnect(uint16_t) {
    return 1;
}
__declspec(dllexport) int __cdecl QORL_SendData(uint16_t, const void*, uint16_t) {
    return 1;
}
}
