// Port records and Xcv handles in their lists, the port-name and string utilities, the
// enumeration entries, and the lifetime of records removed while still in use.

#include <gtest/gtest.h>

#include "entry/monitor.h"
#include "ports/port_record.h"

#include <cstring>
#include <string>
#include <vector>

namespace {

class PortRecords : public ::testing::Test {
  protected:
    void TearDown() override {
        for (PortRecord* list : {monitor_.ports, monitor_.retiredPorts}) {
            while (list != nullptr) {
                PortRecord* next = list->next;
                FreePortRecord(list);
                list = next;
            }
        }
        while (monitor_.xcvHandles != nullptr) {
            DeleteXcvHandle(monitor_.xcvHandles);
        }
    }

    std::vector<std::wstring> Names(PortRecord* list) {
        std::vector<std::wstring> names;
        for (PortRecord* record = list; record != nullptr; record = record->next) {
            names.push_back(record->name);
        }
        return names;
    }

    MonitorHandle monitor_ = {};
};

} // namespace

TEST_F(PortRecords, CreateFillsTheRecordAndKeepsTheNameInline) {
    PortRecord* record = CreatePortRecord(&monitor_, L"00:0a:95:12:34:56.1");
    ASSERT_NE(record, nullptr);
    EXPECT_EQ(record->signature, 0x5450u);
    EXPECT_EQ(memcmp(&record->signature, "PT", 2), 0);
    EXPECT_STREQ(record->name, L"00:0a:95:12:34:56.1");
    EXPECT_EQ(record->name, record->nameCharacters);
    EXPECT_EQ(record->size, offsetof(PortRecord, nameCharacters) + 2 * 20);
    EXPECT_LE(record->size, GlobalSize(record));
    EXPECT_EQ(record->monitor, &monitor_);
    EXPECT_EQ(record->next, nullptr);
    EXPECT_EQ(record->flags, 0u);
    EXPECT_EQ(record->printerName, nullptr);
    EXPECT_EQ(record->deviceId, nullptr);
    EXPECT_EQ(record->deviceIdThread, nullptr);
    EXPECT_EQ(record->connection.controlMtu, 656);
    EXPECT_EQ(monitor_.ports, record);
}

TEST_F(PortRecords, NameLengthLimits) {
    std::wstring longest(247, L'n');
    std::wstring tooLong(248, L'n');
    PortRecord* record = CreatePortRecord(&monitor_, longest.c_str());
    ASSERT_NE(record, nullptr);
    EXPECT_EQ(record->name, longest);

    SetLastError(0);
    EXPECT_EQ(CreatePortRecord(&monitor_, tooLong.c_str()), nullptr);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_NAME));
    SetLastError(0);
    EXPECT_EQ(CreatePortRecord(&monitor_, nullptr), nullptr);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_NAME));
    EXPECT_EQ(Names(monitor_.ports), std::vector<std::wstring>{longest});

    PortRecord* empty = CreatePortRecord(&monitor_, L"");
    ASSERT_NE(empty, nullptr);
    EXPECT_STREQ(empty->name, L"");
    EXPECT_EQ(CreatePortRecord(nullptr, L"x"), nullptr);
}

TEST_F(PortRecords, ListKeepsCreationOrder) {
    CreatePortRecord(&monitor_, L"A");
    CreatePortRecord(&monitor_, L"B");
    CreatePortRecord(&monitor_, L"C");
    EXPECT_EQ(Names(monitor_.ports), (std::vector<std::wstring>{L"A", L"B", L"C"}));
}

TEST_F(PortRecords, FindIsCaseSensitiveDeleteByNameIsNot) {
    PortRecord* abc = CreatePortRecord(&monitor_, L"abc");
    EXPECT_EQ(FindPortRecord(monitor_.ports, L"abc"), abc);
    EXPECT_EQ(FindPortRecord(monitor_.ports, L"ABC"), nullptr);
    EXPECT_EQ(FindPortRecord(monitor_.ports, nullptr), nullptr);
    EXPECT_EQ(FindPortRecord(nullptr, L"abc"), nullptr);
    EXPECT_TRUE(DeletePortRecordByName(&monitor_, L"ABC"));
    EXPECT_EQ(monitor_.ports, nullptr);
    EXPECT_FALSE(DeletePortRecordByName(&monitor_, L"abc"));
    EXPECT_FALSE(DeletePortRecordByName(&monitor_, nullptr));
}

TEST_F(PortRecords, DeleteByNameRemovesOnlyTheFirstMatch) {
    CreatePortRecord(&monitor_, L"first");
    CreatePortRecord(&monitor_, L"Port");
    CreatePortRecord(&monitor_, L"PORT");
    EXPECT_TRUE(DeletePortRecordByName(&monitor_, L"port"));
    EXPECT_EQ(Names(monitor_.ports), (std::vector<std::wstring>{L"first", L"PORT"}));
}

TEST_F(PortRecords, DeleteRemovesOnlyARecordOfTheList) {
    PortRecord* a = CreatePortRecord(&monitor_, L"A");
    PortRecord* b = CreatePortRecord(&monitor_, L"B");
    PortRecord* c = CreatePortRecord(&monitor_, L"C");
    b->deviceId = static_cast<char*>(AllocZeroedMemory(8));
    EXPECT_TRUE(DeletePortRecord(&monitor_, b));
    EXPECT_EQ(Names(monitor_.ports), (std::vector<std::wstring>{L"A", L"C"}));
    EXPECT_EQ(monitor_.retiredPorts, nullptr);
    EXPECT_TRUE(DeletePortRecord(&monitor_, c));
    EXPECT_EQ(a->next, nullptr);
    // A record of another list, or none, changes nothing.
    MonitorHandle other = {};
    PortRecord* foreign = CreatePortRecord(&other, L"A");
    EXPECT_FALSE(DeletePortRecord(&monitor_, foreign));
    EXPECT_FALSE(DeletePortRecord(&monitor_, nullptr));
    EXPECT_EQ(Names(monitor_.ports), std::vector<std::wstring>{L"A"});
    EXPECT_TRUE(DeletePortRecord(&other, foreign));
}

TEST(PortAddress, ParsesSixOrSevenFields) {
    const uint8_t expected[6] = {0x00, 0x0A, 0x95, 0x12, 0x34, 0x56};
    uint8_t address[6] = {};
    ASSERT_TRUE(ParsePortAddress(L"00:0a:95:12:34:56.1", address));
    EXPECT_EQ(memcmp(address, expected, 6), 0);
    memset(address, 0, 6);
    ASSERT_TRUE(ParsePortAddress(L"00:0A:95:12:34:56", address));
    EXPECT_EQ(memcmp(address, expected, 6), 0);
    // Text after the last field is ignored; single digits are whole fields.
    memset(address, 0, 6);
    ASSERT_TRUE(ParsePortAddress(L"00:0a:95:12:34:56.1 trailing", address));
    EXPECT_EQ(memcmp(address, expected, 6), 0);
    const uint8_t small[6] = {1, 2, 3, 4, 5, 0xF};
    ASSERT_TRUE(ParsePortAddress(L"1:2:3:4:5:f", address));
    EXPECT_EQ(memcmp(address, small, 6), 0);
}

TEST(PortAddress, FailuresLeaveTheAddressAlone) {
    uint8_t address[6] = {9, 9, 9, 9, 9, 9};
    const uint8_t untouched[6] = {9, 9, 9, 9, 9, 9};
    EXPECT_FALSE(ParsePortAddress(L"00:0a:95:12:34", address));
    EXPECT_FALSE(ParsePortAddress(nullptr, address));
    EXPECT_FALSE(ParsePortAddress(L"", address));
    EXPECT_FALSE(ParsePortAddress(L"Bluetooth", address));
    // Three digits: the field reads two and the separator is missing.
    EXPECT_FALSE(ParsePortAddress(L"000:0a:95:12:34:56", address));
    EXPECT_EQ(memcmp(address, untouched, 6), 0);
}

TEST(PortStrings, WidenStringSignExtendsEachByte) {
    wchar_t* wide = nullptr;
    EXPECT_EQ(WidenString("\x41\xE9", &wide), 2u);
    ASSERT_NE(wide, nullptr);
    EXPECT_EQ(wide[0], 0x0041);
    EXPECT_EQ(wide[1], 0xFFE9);
    EXPECT_EQ(wide[2], 0);
    GlobalFree(wide);

    EXPECT_EQ(WidenString("", &wide), 0u);
    ASSERT_NE(wide, nullptr);
    EXPECT_EQ(wide[0], 0);
    GlobalFree(wide);
    wide = reinterpret_cast<wchar_t*>(1);
    EXPECT_EQ(WidenString(nullptr, &wide), 0u);
    EXPECT_EQ(wide, nullptr);
    EXPECT_EQ(WidenString("x", nullptr), 0u);
}

TEST(PortStrings, DuplicateAndZeroedMemory) {
    EXPECT_EQ(DuplicateWideString(nullptr), nullptr);
    const wchar_t text[] = L"Bluetooth";
    wchar_t* copy = DuplicateWideString(text);
    ASSERT_NE(copy, nullptr);
    EXPECT_NE(copy, text);
    EXPECT_STREQ(copy, text);
    EXPECT_GE(GlobalSize(copy), sizeof(text));
    GlobalFree(copy);

    auto* block = static_cast<unsigned char*>(AllocZeroedMemory(4096));
    ASSERT_NE(block, nullptr);
    for (int i = 0; i < 4096; ++i) {
        ASSERT_EQ(block[i], 0) << i;
    }
    GlobalFree(block);
}

// The strings an entry for the port X carries, with their terminators: "X" 4 bytes,
// "Bluetooth Monitor" 36, "Bluetooth Port" 30. The fixed entries are 4 and 20 bytes on i686,
// 8 and 32 on x64.
constexpr size_t X_NAME_BYTES = 4;
constexpr size_t LEVEL_2_STRING_BYTES = X_NAME_BYTES + 36 + 30;

TEST_F(PortRecords, EntrySizes) {
    PortRecord* x = CreatePortRecord(&monitor_, L"X");
    EXPECT_EQ(GetPortInfoSize(x, 1), sizeof(PORT_INFO_1W) + X_NAME_BYTES);
    EXPECT_EQ(GetPortInfoSize(x, 2), sizeof(PORT_INFO_2W) + LEVEL_2_STRING_BYTES);
    EXPECT_EQ(GetPortInfoSize(x, 3), 0u);
    EXPECT_EQ(GetPortInfoSize(x, 0), 0u);
}

TEST_F(PortRecords, LevelTwoEntryLayout) {
    PortRecord* x = CreatePortRecord(&monitor_, L"X");
    alignas(PORT_INFO_2W) BYTE buffer[sizeof(PORT_INFO_2W) + LEVEL_2_STRING_BYTES];
    memset(buffer, 0xCC, sizeof(buffer));
    LPBYTE end = PackPortInfo(x, 2, buffer, buffer + sizeof(buffer));
    // The strings end exactly at the entry: the port name highest, then the monitor name,
    // then the description.
    const LPBYTE entryEnd = buffer + sizeof(PORT_INFO_2W);
    EXPECT_EQ(end, entryEnd);
    auto* info = reinterpret_cast<PORT_INFO_2W*>(buffer);
    EXPECT_EQ(reinterpret_cast<BYTE*>(info->pPortName), buffer + sizeof(buffer) - X_NAME_BYTES);
    EXPECT_EQ(reinterpret_cast<BYTE*>(info->pMonitorName), entryEnd + 30);
    EXPECT_EQ(reinterpret_cast<BYTE*>(info->pDescription), entryEnd);
    EXPECT_STREQ(info->pPortName, L"X");
    EXPECT_STREQ(info->pMonitorName, L"Bluetooth Monitor");
    EXPECT_STREQ(info->pDescription, L"Bluetooth Port");
    EXPECT_EQ(info->fPortType, static_cast<DWORD>(PORT_TYPE_WRITE));
    EXPECT_EQ(info->Reserved, 0u);
}

TEST_F(PortRecords, LevelOneEntriesStackDownward) {
    PortRecord* a = CreatePortRecord(&monitor_, L"AB");
    PortRecord* b = CreatePortRecord(&monitor_, L"C");
    const DWORD size = GetPortInfoSize(a, 1) + GetPortInfoSize(b, 1);
    // Two entries, then "C" (4 bytes) below "AB" (6 bytes).
    alignas(PORT_INFO_1W) BYTE buffer[2 * sizeof(PORT_INFO_1W) + 4 + 6];
    ASSERT_EQ(size, sizeof(buffer));
    LPBYTE end = buffer + size;
    end = PackPortInfo(a, 1, buffer, end);
    end = PackPortInfo(b, 1, buffer + sizeof(PORT_INFO_1W), end);
    const LPBYTE entriesEnd = buffer + 2 * sizeof(PORT_INFO_1W);
    EXPECT_EQ(end, entriesEnd);
    auto* entries = reinterpret_cast<PORT_INFO_1W*>(buffer);
    EXPECT_EQ(reinterpret_cast<BYTE*>(entries[0].pName), entriesEnd + 4);
    EXPECT_EQ(reinterpret_cast<BYTE*>(entries[1].pName), entriesEnd);
    EXPECT_STREQ(entries[0].pName, L"AB");
    EXPECT_STREQ(entries[1].pName, L"C");
    EXPECT_EQ(PackPortInfo(a, 3, buffer, buffer + size), nullptr);
}

TEST(PortStrings, PackStringsStoresNullForAMissingString) {
    // Two pointer slots, side by side, then room for more than "ab" and its terminator.
    const DWORD offsets[] = {0, sizeof(wchar_t*), static_cast<DWORD>(-1)};
    const wchar_t* strings[] = {L"ab", nullptr};
    alignas(wchar_t*) BYTE buffer[2 * sizeof(wchar_t*) + 8];
    memset(buffer, 0xCC, sizeof(buffer));
    LPBYTE end = PackStrings(strings, buffer, offsets, buffer + sizeof(buffer));
    EXPECT_EQ(end, buffer + sizeof(buffer) - 6);
    wchar_t* first = nullptr;
    wchar_t* second = reinterpret_cast<wchar_t*>(1);
    memcpy(&first, buffer, sizeof(first));
    memcpy(&second, buffer + sizeof(first), sizeof(second));
    EXPECT_EQ(reinterpret_cast<BYTE*>(first), end);
    EXPECT_STREQ(first, L"ab");
    EXPECT_EQ(second, nullptr);
}

TEST_F(PortRecords, XcvHandleList) {
    XcvHandle* a = CreateXcvHandle(&monitor_, L"00:0a:95:12:34:56.1", SERVER_ACCESS_ADMINISTER);
    XcvHandle* b = CreateXcvHandle(&monitor_, L",XcvMonitor Bluetooth", 0);
    ASSERT_NE(a, nullptr);
    ASSERT_NE(b, nullptr);
    EXPECT_EQ(a->signature, 0x5843u);
    EXPECT_EQ(memcmp(&a->signature, "CX", 2), 0);
    EXPECT_STREQ(a->objectName, L"00:0a:95:12:34:56.1");
    EXPECT_EQ(a->objectName, a->nameCharacters);
    EXPECT_EQ(a->grantedAccess, static_cast<uint32_t>(SERVER_ACCESS_ADMINISTER));
    EXPECT_EQ(a->monitor, &monitor_);
    EXPECT_EQ(a->size, offsetof(XcvHandle, nameCharacters) + 2 * 20);
    EXPECT_EQ(monitor_.xcvHandles, a);
    EXPECT_EQ(a->next, b);

    EXPECT_TRUE(DeleteXcvHandle(a));
    EXPECT_EQ(monitor_.xcvHandles, b);
    XcvHandle* unnamed = CreateXcvHandle(&monitor_, nullptr, 0);
    ASSERT_NE(unnamed, nullptr);
    EXPECT_STREQ(unnamed->objectName, L"");
    EXPECT_EQ(b->next, unnamed);
    EXPECT_TRUE(DeleteXcvHandle(unnamed));
    EXPECT_FALSE(DeleteXcvHandle(nullptr));
    EXPECT_EQ(CreateXcvHandle(nullptr, L"x", 0), nullptr);
}

// Lifetime: records the spooler or a device-ID worker still uses after they left the list.

TEST_F(PortRecords, AHeldRecordOutlivesItsRemovalUntilTheLastRelease) {
    PortRecord* record = CreatePortRecord(&monitor_, L"Held");
    record->printerName = DuplicateWideString(L"Printer");
    AcquirePortHandle(record);
    AcquirePortHandle(record);
    EXPECT_EQ(record->openCount, 2);

    ASSERT_TRUE(DeletePortRecord(&monitor_, record));
    EXPECT_EQ(monitor_.ports, nullptr);
    EXPECT_EQ(FindPortRecord(monitor_.ports, L"Held"), nullptr);
    ASSERT_EQ(monitor_.retiredPorts, record);
    // Still a whole record: the spooler's next call on the handle finds it intact.
    EXPECT_STREQ(record->name, L"Held");
    EXPECT_STREQ(record->printerName, L"Printer");
    EXPECT_EQ(record->connection.controlMtu, 656);

    // A new port of the same name is a new record.
    PortRecord* fresh = CreatePortRecord(&monitor_, L"Held");
    EXPECT_NE(fresh, record);
    ReclaimRetiredPorts(&monitor_);
    EXPECT_EQ(monitor_.retiredPorts, record);

    ReleasePortHandle(record);
    EXPECT_EQ(monitor_.retiredPorts, record);
    ReleasePortHandle(record); // the last hold: freed
    EXPECT_EQ(monitor_.retiredPorts, nullptr);
    EXPECT_EQ(monitor_.ports, fresh);
}

TEST_F(PortRecords, DeleteByNameRetiresAHeldRecordToo) {
    PortRecord* record = CreatePortRecord(&monitor_, L"Held");
    AcquirePortHandle(record);
    ASSERT_TRUE(DeletePortRecordByName(&monitor_, L"HELD"));
    EXPECT_EQ(monitor_.retiredPorts, record);
    // Releasing a record that stayed listed frees nothing.
    PortRecord* listed = CreatePortRecord(&monitor_, L"Listed");
    AcquirePortHandle(listed);
    ReleasePortHandle(listed);
    EXPECT_EQ(monitor_.ports, listed);
    EXPECT_EQ(monitor_.retiredPorts, record);
    ReleasePortHandle(record);
    EXPECT_EQ(monitor_.retiredPorts, nullptr);
}

namespace {

DWORD WINAPI WaitForRelease(LPVOID event) {
    WaitForSingleObject(static_cast<HANDLE>(event), INFINITE);
    return 0;
}

} // namespace

TEST_F(PortRecords, ARecordWithARunningWorkerIsFreedOnlyAfterTheWorkerEnds) {
    PortRecord* record = CreatePortRecord(&monitor_, L"Worker");
    HANDLE release = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    record->deviceIdThread = CreateThread(nullptr, 0, WaitForRelease, release, 0, nullptr);
    ASSERT_NE(record->deviceIdThread, nullptr);
    HANDLE thread = nullptr;
    ASSERT_TRUE(DuplicateHandle(GetCurrentProcess(), record->deviceIdThread, GetCurrentProcess(),
                                &thread, 0, FALSE, DUPLICATE_SAME_ACCESS));

    ASSERT_TRUE(DeletePortRecord(&monitor_, record));
    ASSERT_EQ(monitor_.retiredPorts, record);
    ReclaimRetiredPorts(&monitor_);
    EXPECT_EQ(monitor_.retiredPorts, record);
    EXPECT_STREQ(record->name, L"Worker");

    SetEvent(release);
    ASSERT_EQ(WaitForSingleObject(thread, 5000), WAIT_OBJECT_0);
    ReclaimRetiredPorts(&monitor_);
    EXPECT_EQ(monitor_.retiredPorts, nullptr);
    CloseHandle(thread);
    CloseHandle(release);
}

TEST_F(PortRecords, AFinishedWorkerDoesNotHoldTheRecord) {
    PortRecord* record = CreatePortRecord(&monitor_, L"Done");
    HANDLE release = CreateEventW(nullptr, TRUE, TRUE, nullptr);
    record->deviceIdThread = CreateThread(nullptr, 0, WaitForRelease, release, 0, nullptr);
    ASSERT_EQ(WaitForSingleObject(record->deviceIdThread, 5000), WAIT_OBJECT_0);
    ASSERT_TRUE(DeletePortRecord(&monitor_, record));
    EXPECT_EQ(monitor_.retiredPorts, nullptr);
    CloseHandle(release);
}
