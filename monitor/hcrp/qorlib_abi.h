#pragma once
// The records and operations shared with the vendor Bluetooth library QORLIB.DLL.
// Layouts are fixed by the library: little-endian, pointers of the architecture's width (a
// 32-bit library for the i686 monitor, a 64-bit one for the x64 monitor), byte offsets checked
// below for each.

#include <cstddef>
#include <cstdint>

struct ChannelEvent;

// Called by the library on a thread of its own, C calling convention.
typedef void(__cdecl* ChannelCallback)(const ChannelEvent* event);

// The record whose address the monitor hands to QORL_Register and QORL_Connect. It stays in
// place for as long as the channel exists; the library reports the channel's events through it.
// Offsets as i686 / x64: the two pointers take the natural width of each architecture.
struct ChannelDescriptor {
    ChannelCallback callback; // 0 / 0
    void* context;            // 4 / 8: the owning HcrpConnection
    uint16_t psm;             // 8 / 16
    uint16_t inMtu;           // 10 / 18
    uint16_t outMtu;          // 12 / 20
    uint16_t reserved14;      // 14 / 22
    volatile uint16_t handle; // 16 / 24: the library's handle of the open channel, 0 while closed
    uint16_t reserved18;      // 18 / 26
};

enum ChannelEventType : uint8_t {
    EVENT_CONNECTED = 2,
    EVENT_CLOSED = 3,
    EVENT_DISCONNECTED = 4,
    EVENT_DATA = 5,
};

// The record that the library passes to a channel callback. Data follows the header.
// Offsets as i686 / x64.
struct ChannelEvent {
    uint8_t type;          // 0: ChannelEventType
    uint8_t reserved1;     // 1
    uint16_t result;       // 2: EVENT_CONNECTED: 0 = success
    uint8_t reserved4[4];  // 4
    uint16_t handle;       // 8
    uint8_t reserved10[6]; // 10
    void* context;         // 16: the descriptor's context
    uint16_t psm;          // 20 / 24
    uint16_t inMtu;        // 22 / 26
    uint16_t outMtu;       // 24 / 28
    uint16_t reserved26;   // 26 / 30
    uint16_t length;       // 28 / 32: EVENT_DATA: number of bytes in data
    uint8_t data[2];       // 30 / 34: the received L2CAP payload (length bytes)
};

// The bytes before an event's payload: 30 on i686, 34 on x64.
constexpr size_t CHANNEL_EVENT_HEADER_SIZE = offsetof(ChannelEvent, data);

// The layouts the library and any peer rely on, checked for each architecture.
#if defined(_WIN64) || defined(__x86_64__)
static_assert(sizeof(void*) == 8, "x64 records");
static_assert(sizeof(ChannelDescriptor) == 32, "ChannelDescriptor is 32 bytes on x64");
static_assert(offsetof(ChannelDescriptor, context) == 8, "ChannelDescriptor.context");
static_assert(offsetof(ChannelDescriptor, psm) == 16, "ChannelDescriptor.psm");
static_assert(offsetof(ChannelDescriptor, inMtu) == 18, "ChannelDescriptor.inMtu");
static_assert(offsetof(ChannelDescriptor, outMtu) == 20, "ChannelDescriptor.outMtu");
static_assert(offsetof(ChannelDescriptor, handle) == 24, "ChannelDescriptor.handle");
static_assert(offsetof(ChannelEvent, result) == 2, "ChannelEvent.result");
static_assert(offsetof(ChannelEvent, handle) == 8, "ChannelEvent.handle");
static_assert(offsetof(ChannelEvent, context) == 16, "ChannelEvent.context");
static_assert(offsetof(ChannelEvent, psm) == 24, "ChannelEvent.psm");
static_assert(offsetof(ChannelEvent, inMtu) == 26, "ChannelEvent.inMtu");
static_assert(offsetof(ChannelEvent, outMtu) == 28, "ChannelEvent.outMtu");
static_assert(offsetof(ChannelEvent, length) == 32, "ChannelEvent.length");
static_assert(CHANNEL_EVENT_HEADER_SIZE == 34, "ChannelEvent.data");
#else
static_assert(sizeof(void*) == 4, "i686 records");
static_assert(sizeof(ChannelDescriptor) == 20, "ChannelDescriptor is 20 bytes on i686");
static_assert(offsetof(ChannelDescriptor, context) == 4, "ChannelDescriptor.context");
static_assert(offsetof(ChannelDescriptor, psm) == 8, "ChannelDescriptor.psm");
static_assert(offsetof(ChannelDescriptor, inMtu) == 10, "ChannelDescriptor.inMtu");
static_assert(offsetof(ChannelDescriptor, outMtu) == 12, "ChannelDescriptor.outMtu");
static_assert(offsetof(ChannelDescriptor, handle) == 16, "ChannelDescriptor.handle");
static_assert(offsetof(ChannelEvent, result) == 2, "ChannelEvent.result");
static_assert(offsetof(ChannelEvent, handle) == 8, "ChannelEvent.handle");
static_assert(offsetof(ChannelEvent, context) == 16, "ChannelEvent.context");
static_assert(offsetof(ChannelEvent, psm) == 20, "ChannelEvent.psm");
static_assert(offsetof(ChannelEvent, inMtu) == 22, "ChannelEvent.inMtu");
static_assert(offsetof(ChannelEvent, outMtu) == 24, "ChannelEvent.outMtu");
static_assert(offsetof(ChannelEvent, length) == 28, "ChannelEvent.length");
static_assert(CHANNEL_EVENT_HEADER_SIZE == 30, "ChannelEvent.data");
#endif

// The five operations: on i686 the C calling convention, one 32-bit stack slot per argument;
// on x64 the x64 calling convention, 16-bit values in the low bits of their register.
// Every result: 0 = success.
extern "C" {
typedef int(__cdecl* QorlRegisterFn)(ChannelDescriptor* descriptor);
typedef int(__cdecl* QorlUnregisterFn)(ChannelDescriptor* descriptor);
typedef int(__cdecl* QorlConnectFn)(ChannelDescriptor* descriptor, uint16_t psm,
                                    const uint8_t* deviceAddress);
typedef int(__cdecl* QorlDisconnectFn)(uint16_t handle);
typedef int(__cdecl* QorlSendDataFn)(uint16_t handle, const void* data, uint16_t length);
}
