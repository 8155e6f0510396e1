#pragma once
// FIFO of packets received on one channel. Filled by the library's callback threads,
// emptied by the monitor's threads; a small leaf lock of its own keeps both sides apart
// (it is never held while anything else is called).

#include <windows.h>
#include <cstdint>

struct ReceivedPacket {
    uint8_t* data;  // heap copy of the payload (ordinary heap)
    uint16_t length;
    ReceivedPacket* next;
};

struct ReceiveQueue {
    ReceivedPacket* head;
    ReceivedPacket* tail;
    CRITICAL_SECTION lock;

    void InitializeLock();
    void DeleteLock();
    // Appends a copy of the payload. A packet that cannot be stored for want of memory is
    // dropped; returns false then.
    bool Append(const uint8_t* payload, uint16_t length);
    // The oldest node, left in place; null when empty.
    ReceivedPacket* Peek();
    // Unlinks and returns the oldest node; the caller frees it with FreePacket.
    ReceivedPacket* Pop();
    // Frees every queued packet.
    void Clear();
    static void FreePacket(ReceivedPacket* packet);
};
