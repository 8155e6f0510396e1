#include "hcrp/channel_event.h"

#include <cstring>

namespace {

uint16_t Read16(const uint8_t* record, size_t offset) {
    uint16_t value;
    memcpy(&value, record + offset, sizeof(value)); // little-endian, as the library writes it
    return value;
}

} // namespace

bool ReadChannelEvent(const uint8_t* record, size_t recordSize, ChannelEventFields* out) {
    *out = ChannelEventFields{};
    if (record == nullptr || recordSize < CHANNEL_EVENT_HEADER_SIZE) {
        return false;
    }
    out->type = record[offsetof(ChannelEvent, type)];
    out->result = Read16(record, offsetof(ChannelEvent, result));
    out->handle = Read16(record, offsetof(ChannelEvent, handle));
    memcpy(&out->context, record + offsetof(ChannelEvent, context), sizeof(out->context));
    out->psm = Read16(record, offsetof(ChannelEvent, psm));
    out->inMtu = Read16(record, offsetof(ChannelEvent, inMtu));
    out->outMtu = Read16(record, offsetof(ChannelEvent, outMtu));
    if (out->type != EVENT_DATA) {
        return true;
    }
    const uint16_t length = Read16(record, offsetof(ChannelEvent, length));
    if (length > recordSize - CHANNEL_EVENT_HEADER_SIZE) {
        return false;
    }
    out->length = length;
    out->data = record + CHANNEL_EVENT_HEADER_SIZE;
    return true;
}

size_t ChannelEventRecordSize(const ChannelEvent* event) {
    if (event == nullptr) {
        return 0;
    }
    return CHANNEL_EVENT_HEADER_SIZE + (event->type == EVENT_DATA ? event->length : 0);
}
