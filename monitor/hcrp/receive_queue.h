#pragma once
// FIFO of packets received on one channel. Filled by the library's callback threads,
// emptied by the monitor's threads; a small leaf lock of its own keeps both sides apart
// (it is never held while anything else is called).

#include <windows.h>
#include <cstdint>

struct ReceivedPacket {
    uint8_t* data; // heap copy of the payload (ordinary heap)
    uint16_t length;
    ReceivedPacket* next;
};

// What one queue holds at most, in payload bytes. A printer sends back-channel data only
// against the credit the monitor grants, and control responses one per request, so a
// well-behaved printer stays far below it; what a printer sends beyond it (ignoring its
// credit, or answering what nobody asked, while the spooler never reads) is dropped rather
// than kept for the life of the port.
constexpr uint32_t RECEIVE_QUEUE_LIMIT_BYTES = 1024 * 1024;

struct ReceiveQueue {
    ReceivedPacket* head;
    ReceivedPacket* tail;
    CRITICAL_SECTION lock;
    uint32_t bytes; // payload bytes queued

    void InitializeLock();
    void DeleteLock();
    // Appends a copy of the payload. A packet that cannot be stored for want of memory, or
    // that would take the queue past RECEIVE_QUEUE_LIMIT_BYTES, is dropped; returns false
    // then.
    bool Append(const uint8_t* payload, uint16_t length);
    // The head packet was handed over in part: count bytes fewer as queued. Only the
    // consuming thread calls this, after shortening the head's payload by as many bytes.
    void TookFromHead(uint16_t count);
    // The oldest node, left in place; null when empty.
    ReceivedPacket* Peek();
    // Unlinks and returns the oldest node; the caller frees it with FreePacket.
    ReceivedPacket* Pop();
    // Frees every queued packet.
    void Clear();
    static void FreePacket(ReceivedPacket* packet);
};
