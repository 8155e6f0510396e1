// Sizing and packing of PORT_INFO_1 and PORT_INFO_2 entries: fixed entries grow upward
// from the start of the caller's buffer, their strings downward from its end.

#include "ports/port_record.h"
#include "resources/resource_ids.h"

#include <cstddef>
#include <cstring>
#include <cwchar>

namespace {

constexpr DWORD END_OF_OFFSETS = static_cast<DWORD>(-1);
// Where each entry's string pointers lie, in the order its strings are given.
const DWORD PortInfo1Offsets[] = {offsetof(PORT_INFO_1W, pName), END_OF_OFFSETS};
const DWORD PortInfo2Offsets[] = {offsetof(PORT_INFO_2W, pPortName),
                                  offsetof(PORT_INFO_2W, pMonitorName),
                                  offsetof(PORT_INFO_2W, pDescription), END_OF_OFFSETS};

// The monitor name and port description from the library's string table.
struct PortInfoStrings {
    wchar_t monitorName[64];
    wchar_t description[64];

    PortInfoStrings() {
        if (LoadStringW(g_moduleHandle, IDS_MONITOR_NAME, monitorName, 64) <= 0) {
            monitorName[0] = 0;
        }
        if (LoadStringW(g_moduleHandle, IDS_PORT_DESCRIPTION, description, 64) <= 0) {
            description[0] = 0;
        }
    }
};

} // namespace

DWORD GetPortInfoSize(PortRecord* record, DWORD level) {
    // The fixed entry (4 or 20 bytes on i686, 8 or 32 on x64) and each string with its
    // terminator.
    const size_t nameBytes = sizeof(wchar_t) * (wcslen(record->name) + 1);
    if (level == 1) {
        return static_cast<DWORD>(sizeof(PORT_INFO_1W) + nameBytes);
    }
    if (level == 2) {
        PortInfoStrings strings;
        return static_cast<DWORD>(sizeof(PORT_INFO_2W) + nameBytes +
                                  sizeof(wchar_t) * (wcslen(strings.monitorName) + 1) +
                                  sizeof(wchar_t) * (wcslen(strings.description) + 1));
    }
    return 0;
}

LPBYTE PackStrings(const wchar_t* const* strings, LPBYTE entry, const DWORD* offsets, LPBYTE end) {
    for (size_t i = 0; offsets[i] != END_OF_OFFSETS; ++i) {
        wchar_t* stored = nullptr;
        if (strings[i] != nullptr) {
            size_t bytes = 2 * (wcslen(strings[i]) + 1);
            end -= bytes;
            memcpy(end, strings[i], bytes);
            stored = reinterpret_cast<wchar_t*>(end);
        }
        memcpy(entry + offsets[i], &stored, sizeof(stored));
    }
    return end;
}

LPBYTE PackPortInfo(PortRecord* record, DWORD level, LPBYTE entry, LPBYTE end) {
    const DWORD* offsets;
    if (level == 1) {
        offsets = PortInfo1Offsets;
    } else if (level == 2) {
        offsets = PortInfo2Offsets;
    } else {
        return nullptr;
    }
    size_t count = 0;
    while (offsets[count] != END_OF_OFFSETS) {
        ++count;
    }
    auto* strings = static_cast<const wchar_t**>(AllocZeroedMemory(count * sizeof(wchar_t*)));
    if (strings == nullptr) {
        return nullptr;
    }
    PortInfoStrings names;
    strings[0] = record->name;
    if (level == 2) {
        strings[1] = names.monitorName;
        strings[2] = names.description;
        auto* info = reinterpret_cast<PORT_INFO_2W*>(entry);
        info->fPortType = PORT_TYPE_WRITE;
        info->Reserved = 0;
    }
    LPBYTE result = PackStrings(strings, entry, offsets, end);
    GlobalFree(strings);
    return result;
}
