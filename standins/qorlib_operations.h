#pragma once
// The five operations of QORLIB.DLL, for programs linked with its import library (the monitor
// itself finds them with GetProcAddress) and for the library's own definitions. C calling
// convention, undecorated names, the records of monitor/hcrp/qorlib_abi.h.

#include <cstdint>
#include <type_traits>

#include "hcrp/qorlib_abi.h"

extern "C" {
int __cdecl QORL_Register(ChannelDescriptor* descriptor);
int __cdecl QORL_Unregister(ChannelDescriptor* descriptor);
int __cdecl QORL_Connect(ChannelDescriptor* descriptor, uint16_t psm, const uint8_t* deviceAddress);
int __cdecl QORL_Disconnect(uint16_t handle);
int __cdecl QORL_SendData(uint16_t handle, const void* data, uint16_t length);
}

// The signatures the monitor binds.
static_assert(std::is_same<decltype(&QORL_Register), QorlRegisterFn>::value, "QORL_Register");
static_assert(std::is_same<decltype(&QORL_Unregister), QorlUnregisterFn>::value, "QORL_Unregister");
static_assert(std::is_same<decltype(&QORL_Connect), QorlConnectFn>::value, "QORL_Connect");
static_assert(std::is_same<decltype(&QORL_Disconnect), QorlDisconnectFn>::value, "QORL_Disconnect");
static_assert(std::is_same<decltype(&QORL_SendData), QorlSendDataFn>::value, "QORL_SendData");
