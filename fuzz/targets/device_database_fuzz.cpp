// HCRPDB.txt through the database's own reader: the input is the file (records, short last
// records, odd lengths), read from memory by the file stand-ins. Counting, listing, finding
// and deleting must agree with the file's 274-byte slots, and a delete whose write fails
// leaves the file as it was.
//
// Input: byte 0 which WriteFile of the delete fails (0: none), byte 1 which record to
// delete, the rest the file.

#include <cstring>
#include <vector>

#include "check.h"
#include "devicedb/device_database.h"
#include "memory_file.h"

namespace {

// The parsed address of the slot at `index`, as a short last record reads.
void SlotAddress(const std::vector<uint8_t>& file, size_t index, uint8_t address[6]) {
    uint8_t slot[DEVICE_RECORD_SIZE];
    const size_t start = index * DEVICE_RECORD_SIZE;
    const size_t length =
        file.size() - start < DEVICE_RECORD_SIZE ? file.size() - start : DEVICE_RECORD_SIZE;
    memcpy(slot, file.data() + start, length);
    ClearRecordTail(slot, length);
    ParseDeviceAddress(slot, address);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 2 || size > 16 * DEVICE_RECORD_SIZE) {
        return 0;
    }
    const unsigned failingWrite = data[0] % 8;
    const std::vector<uint8_t> original(data + 2, data + size);
    SetMemoryFile(original.data(), original.size());
    const int slots =
        static_cast<int>((original.size() + DEVICE_RECORD_SIZE - 1) / DEVICE_RECORD_SIZE);

    DeviceDatabase database;
    FUZZ_CHECK(database.CountRecords() == slots);
    std::vector<uint8_t> addresses(static_cast<size_t>(slots + 1) * 6, 0xA5);
    auto* listed = reinterpret_cast<uint8_t(*)[6]>(addresses.data());
    FUZZ_CHECK(database.ReadAddresses(slots + 1, listed) == slots);
    for (int i = 0; i < slots; ++i) {
        uint8_t expected[6];
        SlotAddress(original, static_cast<size_t>(i), expected);
        FUZZ_CHECK(memcmp(listed[i], expected, 6) == 0);
    }
    FUZZ_CHECK(memcmp(listed[slots], "\0\0\0\0\0\0", 6) == 0); // no record: zeroed
    if (slots == 0) {
        FUZZ_CHECK(!database.DeleteRecord(listed[0]));
        FUZZ_CHECK(OpenMemoryFileHandles() == 0);
        return 0;
    }

    // The record to delete, and the first slot that carries its address (the one found).
    const int chosen = data[1] % slots;
    int first = 0;
    while (memcmp(listed[first], listed[chosen], 6) != 0) {
        ++first;
    }
    char name[DEVICE_NAME_FIELD_SIZE];
    memset(name, 'q', sizeof(name));
    uint16_t controlPsm = 0;
    uint16_t dataPsm = 0;
    uint16_t thirdValue = 0;
    FUZZ_CHECK(database.FindRecord(listed[chosen], name, &controlPsm, &dataPsm, &thirdValue) ==
               DEVICE_RECORD_FOUND);
    FUZZ_CHECK(memchr(name, 0, sizeof(name)) != nullptr);

    FailMemoryFileWrite(failingWrite);
    const BOOL removed = database.DeleteRecord(listed[chosen]);
    const std::vector<uint8_t>& after = MemoryFile();
    if (removed) {
        const size_t start = static_cast<size_t>(first) * DEVICE_RECORD_SIZE;
        const size_t length = original.size() - start < DEVICE_RECORD_SIZE ? original.size() - start
                                                                           : DEVICE_RECORD_SIZE;
        std::vector<uint8_t> expected(original.begin(), original.begin() + start);
        expected.insert(expected.end(), original.begin() + start + length, original.end());
        FUZZ_CHECK(after == expected);
    } else {
        // Only a failed write refuses a record that is there, and it is undone.
        FUZZ_CHECK(failingWrite != 0);
        FUZZ_CHECK(after == original);
    }
    FUZZ_CHECK(OpenMemoryFileHandles() == 0);
    return 0;
}
