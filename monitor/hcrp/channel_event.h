#pragma once
// Reading one channel-event record as the library lays it out (qorlib_abi.h), from plain
// bytes: every field by its byte offset, the payload of an EVENT_DATA record only as far as
// the record reaches. No system calls.

#include <cstddef>
#include <cstdint>

#include "hcrp/qorlib_abi.h"

struct ChannelEventFields {
    uint8_t type;
    uint16_t result;
    uint16_t handle;
    void* context;
    uint16_t psm;
    uint16_t inMtu;
    uint16_t outMtu;
    const uint8_t* data; // EVENT_DATA: the payload inside the record; null otherwise
    uint16_t length;     // EVENT_DATA: payload bytes; 0 otherwise
};

// False (nothing to act on) for a null record, one shorter than its header
// (CHANNEL_EVENT_HEADER_SIZE), and an EVENT_DATA record whose length field reaches beyond
// recordSize. Never reads beyond record[recordSize - 1].
bool ReadChannelEvent(const uint8_t* record, size_t recordSize, ChannelEventFields* out);

// The size of the record the library hands a callback: the header, and for EVENT_DATA the
// payload its length field counts.
size_t ChannelEventRecordSize(const ChannelEvent* event);
