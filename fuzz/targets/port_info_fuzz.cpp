// The port-info packing, level 1 and 2: the input makes a port list (names split at UTF-16
// NULs, at most 247 characters each), packed the way enumeration packs it into a buffer of
// exactly the size reported: entries from the start, strings from the end.
//
// Input: byte 0 the level (1, 2, or anything else), the rest the names.

#include <cstring>
#include <vector>

#include "check.h"
#include "ports/port_record.h"

namespace {

PortRecord* MakeRecord(const std::vector<wchar_t>& name) {
    const size_t bytes = sizeof(PortRecord) + name.size() * sizeof(wchar_t);
    auto* record = static_cast<PortRecord*>(AllocZeroedMemory(bytes));
    if (!name.empty()) {
        memcpy(record->nameCharacters, name.data(), name.size() * sizeof(wchar_t));
    }
    record->nameCharacters[name.size()] = L'\0';
    record->name = record->nameCharacters;
    return record;
}

bool Inside(const void* pointer, const BYTE* start, const BYTE* end) {
    const auto* byte = static_cast<const BYTE*>(pointer);
    return byte >= start && byte < end;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 1) {
        return 0;
    }
    const DWORD level = data[0] % 4;
    std::vector<PortRecord*> records;
    std::vector<wchar_t> name;
    for (size_t i = 1; i + 1 < size && records.size() < 64; i += 2) {
        wchar_t c;
        memcpy(&c, data + i, sizeof(c));
        if (c == L'\0' || name.size() == MAX_PORT_NAME_LENGTH) {
            records.push_back(MakeRecord(name));
            name.clear();
        }
        if (c != L'\0') {
            name.push_back(c);
        }
    }
    if (records.size() < 64) {
        records.push_back(MakeRecord(name));
    }

    const size_t entrySize = level == 1 ? sizeof(PORT_INFO_1W) : sizeof(PORT_INFO_2W);
    DWORD total = 0;
    for (PortRecord* record : records) {
        const DWORD needed = GetPortInfoSize(record, level);
        if (level != 1 && level != 2) {
            FUZZ_CHECK(needed == 0);
        } else {
            FUZZ_CHECK(needed >= entrySize + sizeof(wchar_t) * (wcslen(record->name) + 1));
        }
        total += needed;
    }
    if (level == 1 || level == 2) {
        std::vector<BYTE> buffer(total);
        BYTE* const start = buffer.data();
        BYTE* const end = start + total;
        BYTE* stringEnd = end;
        for (size_t i = 0; i < records.size(); ++i) {
            BYTE* entry = start + i * entrySize;
            stringEnd = PackPortInfo(records[i], level, entry, stringEnd);
            FUZZ_CHECK(stringEnd != nullptr);
            // The strings never reach down into the entries.
            FUZZ_CHECK(stringEnd >= entry + entrySize);
        }
        // The reported size is exactly what the list takes.
        FUZZ_CHECK(stringEnd == start + records.size() * entrySize);
        for (size_t i = 0; i < records.size(); ++i) {
            const BYTE* entry = start + i * entrySize;
            wchar_t* strings[3] = {};
            memcpy(strings, entry, (level == 1 ? 1 : 3) * sizeof(wchar_t*));
            FUZZ_CHECK(Inside(strings[0], start, end));
            FUZZ_CHECK(wcscmp(strings[0], records[i]->name) == 0);
            if (level == 2) {
                const auto* info = reinterpret_cast<const PORT_INFO_2W*>(entry);
                FUZZ_CHECK(Inside(strings[1], start, end) && Inside(strings[2], start, end));
                FUZZ_CHECK(wcscmp(strings[1], L"Bluetooth Monitor") == 0);
                FUZZ_CHECK(wcscmp(strings[2], L"Bluetooth Port") == 0);
                FUZZ_CHECK(info->fPortType == PORT_TYPE_WRITE && info->Reserved == 0);
            }
        }
    } else {
        BYTE entry[sizeof(PORT_INFO_2W)];
        FUZZ_CHECK(PackPortInfo(records[0], level, entry, entry + sizeof(entry)) == nullptr);
    }
    for (PortRecord* record : records) {
        GlobalFree(record);
    }
    return 0;
}
