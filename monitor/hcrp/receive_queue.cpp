#include "hcrp/receive_queue.h"
#include "common/memory.h"

#include <cstring>

void ReceiveQueue::InitializeLock() {
    InitializeCriticalSection(&lock);
}

void ReceiveQueue::DeleteLock() {
    DeleteCriticalSection(&lock);
}

bool ReceiveQueue::Append(const uint8_t* payload, uint16_t length) {
    // Copy before taking the lock: the lock only guards the links and the count.
    auto* node = static_cast<ReceivedPacket*>(AllocWorkMemory(sizeof(ReceivedPacket)));
    if (node == nullptr) {
        return false;
    }
    node->next = nullptr;
    node->length = length;
    // A zero-length packet still gets a block of its own, so that every node has one.
    node->data = static_cast<uint8_t*>(AllocWorkMemory(length));
    if (node->data == nullptr) {
        FreeWorkMemory(node);
        return false;
    }
    if (length > 0) {
        memcpy(node->data, payload, length);
    }
    EnterCriticalSection(&lock);
    if (bytes > RECEIVE_QUEUE_LIMIT_BYTES - length) {
        LeaveCriticalSection(&lock);
        FreePacket(node);
        return false;
    }
    bytes += length;
    if (head == nullptr) {
        head = node;
        tail = node;
    } else {
        tail->next = node;
        tail = node;
    }
    LeaveCriticalSection(&lock);
    return true;
}

void ReceiveQueue::TookFromHead(uint16_t count) {
    EnterCriticalSection(&lock);
    bytes -= count < bytes ? count : bytes;
    LeaveCriticalSection(&lock);
}

ReceivedPacket* ReceiveQueue::Peek() {
    EnterCriticalSection(&lock);
    ReceivedPacket* node = head;
    LeaveCriticalSection(&lock);
    return node;
}

ReceivedPacket* ReceiveQueue::Pop() {
    EnterCriticalSection(&lock);
    ReceivedPacket* node = head;
    if (node != nullptr) {
        head = node->next;
        if (head == nullptr) {
            tail = nullptr;
        }
        bytes -= node->length < bytes ? node->length : bytes;
    }
    LeaveCriticalSection(&lock);
    return node;
}

void ReceiveQueue::Clear() {
    while (ReceivedPacket* node = Pop()) {
        FreePacket(node);
    }
}

void ReceiveQueue::FreePacket(ReceivedPacket* packet) {
    if (packet != nullptr) {
        FreeWorkMemory(packet->data);
        FreeWorkMemory(packet);
    }
}
