// Channel-event records as the library hands them to a callback: fields at their offsets,
// an EVENT_DATA payload only as far as the record reaches.
//
// Input: the record bytes, exactly as long as the input.

#include <cstdint>
#include <cstring>
#include <vector>

#include "check.h"
#include "hcrp/channel_event.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::vector<uint8_t> copy(data, data + size);
    const uint8_t* record = size != 0 ? copy.data() : nullptr;
    ChannelEventFields fields;
    const bool read = ReadChannelEvent(record, size, &fields);
    if (size < CHANNEL_EVENT_HEADER_SIZE) {
        FUZZ_CHECK(!read);
        return 0;
    }
    // The same header through the library's record layout.
    ChannelEvent header;
    memcpy(&header, record, CHANNEL_EVENT_HEADER_SIZE);
    const bool isData = header.type == EVENT_DATA;
    FUZZ_CHECK(read == (!isData || header.length <= size - CHANNEL_EVENT_HEADER_SIZE));
    if (!read) {
        FUZZ_CHECK(fields.data == nullptr && fields.length == 0);
        return 0;
    }
    FUZZ_CHECK(fields.type == header.type);
    FUZZ_CHECK(fields.result == header.result);
    FUZZ_CHECK(fields.handle == header.handle);
    FUZZ_CHECK(fields.context == header.context);
    FUZZ_CHECK(fields.psm == header.psm);
    FUZZ_CHECK(fields.inMtu == header.inMtu);
    FUZZ_CHECK(fields.outMtu == header.outMtu);
    if (isData) {
        FUZZ_CHECK(fields.length == header.length);
        FUZZ_CHECK(fields.data == record + CHANNEL_EVENT_HEADER_SIZE);
        FUZZ_CHECK(fields.data + fields.length <= record + size);
        // The record a callback gets is exactly what the length field counts.
        FUZZ_CHECK(ChannelEventRecordSize(&header) == CHANNEL_EVENT_HEADER_SIZE + header.length);
        volatile uint8_t last = fields.length != 0 ? fields.data[fields.length - 1] : 0;
        (void)last;
    } else {
        FUZZ_CHECK(fields.data == nullptr && fields.length == 0);
        FUZZ_CHECK(ChannelEventRecordSize(&header) == CHANNEL_EVENT_HEADER_SIZE);
    }
    return 0;
}
