// Port names parsed as device addresses. Input: the name as UTF-16 pairs; its first 7 bytes
// also make an address and channel that are formatted as the monitor names ports and must
// parse back.

#include <cstdio>
#include <cstdint>
#include <cstring>
#include <vector>

#include "check.h"
#include "ports/port_record.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::vector<wchar_t> name(size / 2 + 1);
    memcpy(name.data(), data, size / 2 * 2);
    name.back() = L'\0';
    uint8_t address[6];
    memset(address, 0xA5, sizeof(address));
    if (!ParsePortAddress(name.data(), address)) {
        for (uint8_t byte : address) {
            FUZZ_CHECK(byte == 0xA5); // untouched
        }
    }
    FUZZ_CHECK(!ParsePortAddress(nullptr, address));

    if (size >= 7) {
        char text[40];
        snprintf(text, sizeof(text), "%02x:%02x:%02x:%02x:%02x:%02x.%u", data[0], data[1], data[2],
                 data[3], data[4], data[5], data[6]);
        wchar_t formatted[40];
        size_t i = 0;
        for (; text[i] != '\0'; ++i) {
            formatted[i] = static_cast<wchar_t>(text[i]);
        }
        formatted[i] = L'\0';
        uint8_t parsed[6] = {};
        FUZZ_CHECK(ParsePortAddress(formatted, parsed));
        FUZZ_CHECK(memcmp(parsed, data, 6) == 0);
    }
    return 0;
}
