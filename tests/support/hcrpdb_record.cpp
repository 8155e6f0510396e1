// The records of HCRPDB.txt as the service discovery program formats them: plain string
// work, kept apart from the file access so that the native build of the pure tests has it.

#include "support/hcrpdb_writer.h"

namespace testsupport {

std::string FormatRecord(const DeviceEntry& entry, bool upperCase) {
    const char* digits = upperCase ? "0123456789ABCDEF" : "0123456789abcdef";
    std::string record(274, ' ');
    for (int i = 0; i < 6; ++i) {
        record[2 * i] = digits[entry.address[i] >> 4];
        record[2 * i + 1] = digits[entry.address[i] & 15];
    }
    record.replace(12, entry.name.size() < 248 ? entry.name.size() : 248, entry.name, 0, 248);
    const uint16_t values[3] = {entry.controlPsm, entry.dataPsm, entry.thirdValue};
    for (int v = 0; v < 3; ++v) {
        for (int d = 0; d < 4; ++d) {
            record[260 + 4 * v + d] = "0123456789ABCDEF"[(values[v] >> (12 - 4 * d)) & 15];
        }
    }
    return record;
}

DeviceEntry MakeEntry(uint32_t index, const std::string& name, uint16_t controlPsm,
                      uint16_t dataPsm) {
    DeviceEntry entry = {{0x00, 0x0a, 0x95, static_cast<uint8_t>(index >> 16),
                          static_cast<uint8_t>(index >> 8), static_cast<uint8_t>(index)},
                         name,
                         controlPsm,
                         dataPsm,
                         0};
    return entry;
}

} // namespace testsupport
