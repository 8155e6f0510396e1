#pragma once
// The records and operations shared with the vendor Bluetooth library QORLIB.DLL.
// Layouts are fixed by the library: 32-bit, little-endian, byte offsets checked below.

#include <cstddef>
#include <cstdint>

struct ChannelEvent;

// Called by the library on a thread of its own, C calling convention.
typedef void(__cdecl* ChannelCallback)(const ChannelEvent* event);

// The record whose address the monitor hands to QORL_Register and QORL_Connect. It stays in
// place for as long as the channel exists; the library reports the channel's events through it.
struct ChannelDescriptor {
    ChannelCallback callback; // 0
    void* context;            // 4: the owning HcrpConnection
    uint16_t psm;             // 8
    uint16_t inMtu;           // 10
    uint16_t outMtu;          // 12
    uint16_t reserved14;      // 14
    volatile uint16_t handle; // 16: the library's handle of the open channel, 0 while closed
    uint16_t reserved18;      // 18
};

enum ChannelEventType : uint8_t {
    EVENT_CONNECTED = 2,
    EVENT_CLOSED = 3,
    EVENT_DISCONNECTED = 4,
    EVENT_DATA = 5,
};

// The record that the library passes to a channel callback. Data follows the header.
struct ChannelEvent {
    uint8_t type;          // 0: ChannelEventType
    uint8_t reserved1;     // 1
    uint16_t result;       // 2: EVENT_CONNECTED: 0 = success
    uint8_t reserved4[4];  // 4
    uint16_t handle;       // 8
    uint8_t reserved10[6]; // 10
    void* context;         // 16: the descriptor's context
    uint16_t psm;          // 20
    uint16_t inMtu;        // 22
    uint16_t outMtu;       // 24
    uint16_t reserved26;   // 26
    uint16_t length;       // 28: EVENT_DATA: number of bytes in data
    uint8_t data[2];       // 30: the received L2CAP payload (length bytes)
};

constexpr size_t CHANNEL_EVENT_HEADER_SIZE = 30;

static_assert(sizeof(void*) == 4, "the library's records are 32-bit");
static_assert(sizeof(ChannelDescriptor) == 20, "ChannelDescriptor is 20 bytes");
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
static_assert(offsetof(ChannelEvent, data) == CHANNEL_EVENT_HEADER_SIZE, "ChannelEvent.data");

// The five operations, C calling convention, one 32-bit stack slot per argument.
// Every result: 0 = success.
extern "C" {
typedef int(__cdecl* QorlRegisterFn)(ChannelDescriptor* descriptor);
typedef int(__cdecl* QorlUnregisterFn)(ChannelDescriptor* descriptor);
typedef int(__cdecl* QorlConnectFn)(ChannelDescriptor* descriptor, uint16_t psm,
                                    const uint8_t* deviceAddress);
typedef int(__cdecl* QorlDisconnectFn)(uint16_t handle);
typedef int(__cdecl* QorlSendDataFn)(uint16_t handle, const void* data, uint16_t length);
}
