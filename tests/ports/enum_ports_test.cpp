#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "devicedb/device_database.h"
#include "entry/monitor.h"
#include "ports/enum_ports.h"
#include "ports/port_record.h"
#include "support/hcrpdb_writer.h"
#include "support/monitor_fixture.h"

using testsupport::DeviceEntry;
using testsupport::MakeEntry;
using testsupport::WriteDatabase;

namespace {

const wchar_t kTestKey[] = L"Software\\Prnlink Tests\\Ports";
HANDLE const kSpooler = reinterpret_cast<HANDLE>(0x5eed);
int g_queries = 0;
int g_stores = 0;
bool g_spoolerPassed = true;

// The spooler's registry functions, over the wide registry API on a key of the test's own.
LONG WINAPI TestQueryValue(HANDLE key, LPCWSTR name, PDWORD type, PBYTE data, PDWORD size,
                           HANDLE spooler) {
    ++g_queries;
    g_spoolerPassed = g_spoolerPassed && spooler == kSpooler;
    return RegQueryValueExW(static_cast<HKEY>(key), name, nullptr, type, data, size);
}

LONG WINAPI TestSetValue(HANDLE key, LPCWSTR name, DWORD type, const BYTE* data, DWORD size,
                         HANDLE spooler) {
    ++g_stores;
    g_spoolerPassed = g_spoolerPassed && spooler == kSpooler;
    return RegSetValueExW(static_cast<HKEY>(key), name, 0, type, data, size);
}

class PortsTest : public testsupport::MonitorTest {
  protected:
    void SetUp() override {
        testsupport::RemoveDatabase();
        RegDeleteKeyW(HKEY_CURRENT_USER, kTestKey);
        ASSERT_EQ(RegCreateKeyExW(HKEY_CURRENT_USER, kTestKey, 0, nullptr, 0, KEY_ALL_ACCESS,
                                  nullptr, &key_, nullptr),
                  ERROR_SUCCESS);
        MonitorTest::SetUp();
        reg_.cbSize = sizeof(reg_);
        reg_.fpQueryValue = TestQueryValue;
        reg_.fpSetValue = TestSetValue;
        UseRegistry(&reg_, key_, kSpooler);
        g_queries = g_stores = 0;
        g_spoolerPassed = true;
    }
    void TearDown() override {
        MonitorTest::TearDown();
        RegCloseKey(key_);
        RegDeleteKeyW(HKEY_CURRENT_USER, kTestKey);
        testsupport::RemoveDatabase();
    }

    void SetTimeout(const std::wstring& text) {
        RegSetValueExW(key_, L"TransmissionRetryTimeout", 0, REG_SZ,
                       reinterpret_cast<const BYTE*>(text.c_str()),
                       static_cast<DWORD>((text.size() + 1) * 2));
    }
    std::wstring StoredTimeout(DWORD* type = nullptr, DWORD* size = nullptr) {
        wchar_t text[64] = {};
        DWORD bytes = sizeof(text) - 2;
        DWORD valueType = 0;
        if (RegQueryValueExW(key_, L"TransmissionRetryTimeout", nullptr, &valueType,
                             reinterpret_cast<BYTE*>(text), &bytes) != ERROR_SUCCESS) {
            return L"<none>";
        }
        if (type != nullptr) {
            *type = valueType;
        }
        if (size != nullptr) {
            *size = bytes;
        }
        return text;
    }

    // EnumPorts with a buffer of exactly the size asked for.
    std::vector<BYTE> Enumerate(DWORD level, DWORD* returned) {
        DWORD needed = 0;
        *returned = 0xDEAD;
        EnumPorts(monitor_, nullptr, level, nullptr, 0, &needed, returned);
        std::vector<BYTE> buffer(needed);
        EXPECT_TRUE(EnumPorts(monitor_, nullptr, level, buffer.data(), needed, &needed, returned))
            << GetLastError();
        return buffer;
    }
    std::vector<std::wstring> Level1Names() {
        DWORD returned = 0;
        std::vector<BYTE> buffer = Enumerate(1, &returned);
        std::vector<std::wstring> names;
        auto* entries = reinterpret_cast<PORT_INFO_1W*>(buffer.data());
        for (DWORD i = 0; i < returned; ++i) {
            names.push_back(entries[i].pName);
        }
        return names;
    }
    size_t ListLength(PortRecord* list) {
        size_t length = 0;
        for (; list != nullptr; list = list->next) {
            ++length;
        }
        return length;
    }

    HKEY key_ = nullptr;
    MONITORREG reg_ = {};
};

// A port as AddPortEx makes it: named by its address, no channel numbers.
PortRecord* AddHandMadePort(MonitorHandle* monitor, const DeviceEntry& entry) {
    wchar_t name[32];
    swprintf(name, 32, L"%02x:%02x:%02x:%02x:%02x:%02x.1", entry.address[0], entry.address[1],
             entry.address[2], entry.address[3], entry.address[4], entry.address[5]);
    PortRecord* record = CreatePortRecord(monitor, name);
    memcpy(record->connection.deviceAddress, entry.address, 6);
    return record;
}

} // namespace

TEST_F(PortsTest, Level1ReportsOnePortPerPrinterInFileOrderPackedFromBothEnds) {
    ASSERT_TRUE(WriteDatabase({MakeEntry(1, "Alpha"), MakeEntry(2, "Beta printer")}));
    DWORD needed = 0, returned = 0xDEAD;
    EXPECT_FALSE(EnumPorts(monitor_, nullptr, 1, nullptr, 0, &needed, &returned));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER));
    // Two entries, "Alpha" and "Beta printer" with their terminators.
    const DWORD exact = 2 * sizeof(PORT_INFO_1W) + 2 * 6 + 2 * 13;
    EXPECT_EQ(needed, exact);
    EXPECT_EQ(returned, 0xDEADu);

    std::vector<BYTE> buffer(needed - 1, 0xCC);
    EXPECT_FALSE(EnumPorts(monitor_, nullptr, 1, buffer.data(), needed - 1, &needed, &returned));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER));
    EXPECT_EQ(needed, exact);
    EXPECT_EQ(returned, 0xDEADu);
    EXPECT_EQ(buffer, std::vector<BYTE>(needed - 1, 0xCC));

    buffer.assign(needed, 0xCC);
    ASSERT_TRUE(EnumPorts(monitor_, nullptr, 1, buffer.data(), needed, &needed, &returned));
    ASSERT_EQ(returned, 2u);
    auto* entries = reinterpret_cast<PORT_INFO_1W*>(buffer.data());
    EXPECT_STREQ(entries[0].pName, L"Alpha");
    EXPECT_STREQ(entries[1].pName, L"Beta printer");
    // Entries upward from the start; strings downward from the end, the first entry's
    // highest, filling the buffer without a gap.
    BYTE* end = buffer.data() + buffer.size();
    EXPECT_EQ(reinterpret_cast<BYTE*>(entries[0].pName), end - 12);
    EXPECT_EQ(reinterpret_cast<BYTE*>(entries[1].pName), end - 12 - 26);
    EXPECT_EQ(reinterpret_cast<BYTE*>(entries[1].pName), buffer.data() + 2 * sizeof(PORT_INFO_1W));

    // The ports carry their device records' fields.
    PortRecord* first = monitor_->ports;
    ASSERT_NE(first, nullptr);
    EXPECT_EQ(memcmp(first->connection.deviceAddress, MakeEntry(1, "").address, 6), 0);
    EXPECT_EQ(first->connection.controlPsm, 0x1001);
    EXPECT_EQ(first->connection.dataPsm, 0x1003);
}

TEST_F(PortsTest, Level2EntriesCarryMonitorNameAndDescription) {
    ASSERT_TRUE(WriteDatabase({MakeEntry(1, "X"), MakeEntry(2, "Second")}));
    DWORD returned = 0;
    std::vector<BYTE> buffer = Enumerate(2, &returned);
    // Each entry carries "Bluetooth Monitor" (36 bytes) and "Bluetooth Port" (30), then "X"
    // (4) and "Second" (14).
    EXPECT_EQ(buffer.size(), 2 * (sizeof(PORT_INFO_2W) + 36 + 30) + 4 + 14);
    ASSERT_EQ(returned, 2u);
    auto* entries = reinterpret_cast<PORT_INFO_2W*>(buffer.data());
    EXPECT_STREQ(entries[0].pPortName, L"X");
    EXPECT_STREQ(entries[1].pPortName, L"Second");
    for (DWORD i = 0; i < 2; ++i) {
        EXPECT_STREQ(entries[i].pMonitorName, L"Bluetooth Monitor");
        EXPECT_STREQ(entries[i].pDescription, L"Bluetooth Port");
        EXPECT_EQ(entries[i].fPortType, static_cast<DWORD>(PORT_TYPE_WRITE));
        EXPECT_EQ(entries[i].Reserved, 0u);
    }
    BYTE* end = buffer.data() + buffer.size();
    EXPECT_EQ(reinterpret_cast<BYTE*>(entries[0].pPortName), end - 4);
    EXPECT_EQ(reinterpret_cast<BYTE*>(entries[1].pDescription),
              buffer.data() + 2 * sizeof(PORT_INFO_2W));
}

TEST_F(PortsTest, OtherLevelsAreRefusedOnlyWhenThereArePorts) {
    DWORD needed = 77, returned = 0xDEAD;
    BYTE buffer[64];
    EXPECT_TRUE(EnumPorts(monitor_, nullptr, 3, buffer, sizeof(buffer), &needed, &returned));
    EXPECT_EQ(needed, 0u);
    EXPECT_EQ(returned, 0u);

    ASSERT_TRUE(WriteDatabase({MakeEntry(1, "X")}));
    returned = 0xDEAD;
    EXPECT_FALSE(EnumPorts(monitor_, nullptr, 3, buffer, sizeof(buffer), &needed, &returned));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_LEVEL));
    EXPECT_EQ(needed, 0u);
    EXPECT_EQ(ListLength(monitor_->ports), 1u); // the reconciliation stays
}

TEST_F(PortsTest, CommasInRecordNamesBecomeSpaces) {
    std::string longName;
    while (longName.size() < 247) {
        longName += "ab,";
    }
    longName.resize(247);
    ASSERT_TRUE(WriteDatabase({MakeEntry(1, "Office, 2nd floor"), MakeEntry(2, longName)}));
    std::vector<std::wstring> names = Level1Names();
    ASSERT_EQ(names.size(), 2u);
    EXPECT_EQ(names[0], L"Office  2nd floor");
    EXPECT_EQ(names[1], testsupport::PortNameFor(longName));
    EXPECT_EQ(names[1].find(L','), std::wstring::npos);
    EXPECT_EQ(names[1].size(), 247u);
}

TEST_F(PortsTest, PortsFollowTheFileAsRecordsComeAndGo) {
    DeviceEntry a = MakeEntry(1, "A"), b = MakeEntry(2, "B"), c = MakeEntry(3, "C");
    ASSERT_TRUE(WriteDatabase({a, b}));
    EXPECT_EQ(Level1Names(), (std::vector<std::wstring>{L"A", L"B"}));
    PortRecord* portB = monitor_->ports->next;

    // A goes, C comes: A is not reported in that same call, B keeps its record, C is last.
    ASSERT_TRUE(WriteDatabase({c, b}));
    EXPECT_EQ(Level1Names(), (std::vector<std::wstring>{L"B", L"C"}));
    EXPECT_EQ(monitor_->ports, portB);
    EXPECT_EQ(monitor_->retiredPorts, nullptr); // A was not held: freed at once

    testsupport::RemoveDatabase();
    EXPECT_EQ(Level1Names(), std::vector<std::wstring>());
    EXPECT_TRUE(testsupport::DatabaseExists()); // created empty by the look
}

TEST_F(PortsTest, OfTwoPortsWithOneAddressTheEarlierStays) {
    DeviceEntry a = MakeEntry(1, "A");
    ASSERT_TRUE(WriteDatabase({a}));
    PortRecord* first = AddHandMadePort(monitor_, a);
    AddHandMadePort(monitor_, a);
    Level1Names();
    EXPECT_EQ(monitor_->ports, first);
    EXPECT_EQ(ListLength(monitor_->ports), 1u);

    // Listed twice in the file, the address keeps a second port.
    ASSERT_TRUE(WriteDatabase({a, a}));
    EXPECT_EQ(ListLength(monitor_->ports), 1u);
    std::vector<std::wstring> names = Level1Names();
    EXPECT_EQ(names.size(), 2u);
}

// A file held by another program cannot tell which printers left: the list stays as it was
// and the call fails with the reason, instead of reporting every printer gone.
TEST_F(PortsTest, AnUnreadableFileLeavesThePortsAsTheyWere) {
    ASSERT_TRUE(WriteDatabase({MakeEntry(1, "A")}));
    EXPECT_EQ(Level1Names().size(), 1u);
    HANDLE holder = CreateFileW(testsupport::DatabasePath().c_str(), GENERIC_READ, 0, nullptr,
                                OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(holder, INVALID_HANDLE_VALUE);
    DWORD needed = 5, returned = 5;
    EXPECT_FALSE(EnumPorts(monitor_, nullptr, 1, nullptr, 0, &needed, &returned));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_SHARING_VIOLATION));
    EXPECT_EQ(returned, 5u);
    EXPECT_EQ(ListLength(monitor_->ports), 1u);
    CloseHandle(holder);
    EXPECT_EQ(Level1Names().size(), 1u);
}

TEST_F(PortsTest, EnumeratedPortsTakeTheConfiguredRetryTimeout) {
    SetTimeout(L"30");
    ASSERT_TRUE(WriteDatabase({MakeEntry(1, "A"), MakeEntry(2, "B")}));
    Level1Names();
    ASSERT_EQ(ListLength(monitor_->ports), 2u);
    EXPECT_EQ(monitor_->ports->connection.retryTimeoutMs, 30000u);
    EXPECT_EQ(monitor_->ports->next->connection.retryTimeoutMs, 30000u);
    EXPECT_EQ(g_queries, 1); // once per call, not per port
    EXPECT_TRUE(g_spoolerPassed);

    // OpenPort of such a port hands it out as enumeration left it.
    SetTimeout(L"7");
    HANDLE handle = nullptr;
    ASSERT_TRUE(OpenPort(monitor_, const_cast<LPWSTR>(L"A"), &handle));
    EXPECT_EQ(static_cast<PortRecord*>(handle), monitor_->ports);
    EXPECT_EQ(static_cast<PortRecord*>(handle)->connection.retryTimeoutMs, 30000u);
    EXPECT_EQ(static_cast<PortRecord*>(handle)->openCount, 1);
    MonitorLockGuard lock;
    ReleasePortHandle(static_cast<PortRecord*>(handle));
}

TEST_F(PortsTest, ReadRetryTimeoutConvertsTheTextAndWritesTheDefault) {
    DWORD ms = 0;
    EXPECT_TRUE(ReadRetryTimeout(monitor_, &ms));
    EXPECT_EQ(ms, 45000u);
    DWORD type = 0, size = 0;
    EXPECT_EQ(StoredTimeout(&type, &size), L"45");
    EXPECT_EQ(type, static_cast<DWORD>(REG_SZ));
    EXPECT_EQ(size, 6u);
    EXPECT_TRUE(g_spoolerPassed);

    struct Case {
        const wchar_t* text;
        DWORD ms;
    } cases[] = {{L"10", 10000},       {L"  12abc", 12000}, {L"abc", 0},
                 {L"-5", 4294962296u}, {L"4294968", 704},   {L"0019", 19000}};
    for (const Case& c : cases) {
        SetTimeout(c.text);
        ms = 1;
        EXPECT_TRUE(ReadRetryTimeout(monitor_, &ms));
        EXPECT_EQ(ms, c.ms) << std::string(c.text, c.text + wcslen(c.text));
        EXPECT_EQ(StoredTimeout(), c.text); // read, never rewritten
    }
    // Text that does not fit 20 characters cannot be read: the default replaces it.
    SetTimeout(L"123456789012345678901234");
    EXPECT_TRUE(ReadRetryTimeout(monitor_, &ms));
    EXPECT_EQ(ms, 45000u);
    EXPECT_EQ(StoredTimeout(), L"45");

    // Without registry functions (none installed): the default, and nothing to crash on.
    reg_.fpQueryValue = nullptr;
    reg_.fpSetValue = nullptr;
    EXPECT_TRUE(ReadRetryTimeout(monitor_, &ms));
    EXPECT_EQ(ms, 45000u);
}

TEST_F(PortsTest, OpenPortMatchesNamesExactly) {
    ASSERT_TRUE(WriteDatabase({MakeEntry(1, "Printer")}));
    Level1Names();
    HANDLE handle = reinterpret_cast<HANDLE>(0x77);
    SetLastError(1234);
    EXPECT_FALSE(OpenPort(monitor_, const_cast<LPWSTR>(L"PRINTER"), &handle));
    EXPECT_EQ(GetLastError(), 1234u);
    EXPECT_FALSE(OpenPort(monitor_, nullptr, &handle));
    EXPECT_EQ(handle, reinterpret_cast<HANDLE>(0x77));
}

TEST_F(PortsTest, OpenPortRebuildsAPortWithoutChannelNumbers) {
    SetTimeout(L"20");
    DeviceEntry a = MakeEntry(1, "Office, 2nd floor", 0x1011, 0x1013);
    ASSERT_TRUE(WriteDatabase({a}));
    PortRecord* first = CreatePortRecord(monitor_, L"Other");
    PortRecord* handMade = AddHandMadePort(monitor_, a);
    HANDLE handle = nullptr;
    ASSERT_TRUE(OpenPort(monitor_, handMade->name, &handle));
    auto* rebuilt = static_cast<PortRecord*>(handle);
    EXPECT_NE(rebuilt, handMade);
    // Named after the device record as enumeration names it, at the end, the old one gone.
    EXPECT_STREQ(rebuilt->name, L"Office  2nd floor");
    EXPECT_EQ(monitor_->ports, first);
    EXPECT_EQ(first->next, rebuilt);
    EXPECT_EQ(rebuilt->next, nullptr);
    EXPECT_EQ(monitor_->retiredPorts, nullptr);
    EXPECT_EQ(memcmp(rebuilt->connection.deviceAddress, a.address, 6), 0);
    EXPECT_EQ(rebuilt->connection.controlPsm, 0x1011);
    EXPECT_EQ(rebuilt->connection.dataPsm, 0x1013);
    EXPECT_EQ(rebuilt->connection.retryTimeoutMs, 20000u);
    EXPECT_EQ(rebuilt->openCount, 1);
    MonitorLockGuard lock;
    ReleasePortHandle(rebuilt);
}

// A record without a control PSM makes a port that every OpenPort rebuilds: the rebuilt
// port keeps the name the spooler knows it by, never a name with a comma in it.
TEST_F(PortsTest, APortRebuiltByOpenPortKeepsItsEnumeratedName) {
    struct Case {
        const char* what;
        std::string bytes;
    };
    const std::string record = testsupport::FormatRecord(MakeEntry(1, "Office,2", 0, 0x1003));
    const Case cases[] = {
        {"control PSM 0000", record},
        {"short last record", testsupport::FormatRecord(MakeEntry(2, "Lab")) +
                                  record.substr(0, DEVICE_CONTROL_PSM_OFFSET)},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        ASSERT_TRUE(testsupport::WriteDatabaseBytes(c.bytes));
        // The rebuilt port moves to the end of the list: compare the names as a set.
        std::vector<std::wstring> names = Level1Names();
        std::sort(names.begin(), names.end());
        EXPECT_TRUE(std::binary_search(names.begin(), names.end(), L"Office 2"));
        HANDLE handle = nullptr;
        ASSERT_TRUE(OpenPort(monitor_, const_cast<LPWSTR>(L"Office 2"), &handle));
        auto* rebuilt = static_cast<PortRecord*>(handle);
        EXPECT_STREQ(rebuilt->name, L"Office 2");
        std::vector<std::wstring> after = Level1Names();
        std::sort(after.begin(), after.end());
        EXPECT_EQ(after, names);
        MonitorLockGuard lock;
        ReleasePortHandle(rebuilt);
    }
}

TEST_F(PortsTest, OpenPortFailsQuietlyWithoutADeviceRecord) {
    ASSERT_TRUE(WriteDatabase({MakeEntry(2, "Someone else")}));
    PortRecord* handMade = AddHandMadePort(monitor_, MakeEntry(1, ""));
    std::wstring name = handMade->name;
    HANDLE handle = nullptr;
    SetLastError(1234);
    EXPECT_FALSE(OpenPort(monitor_, const_cast<LPWSTR>(name.c_str()), &handle));
    EXPECT_EQ(GetLastError(), 1234u);
    EXPECT_EQ(monitor_->ports, handMade);
    EXPECT_EQ(handMade->next, nullptr);
    EXPECT_EQ(handMade->openCount, 0);
}

// A port the spooler holds open stays usable when enumeration drops it, until ClosePort.
TEST_F(PortsTest, AHeldPortDroppedByEnumerationLivesUntilReleased) {
    DeviceEntry a = MakeEntry(1, "Held", 0x1001, 0x1003), b = MakeEntry(2, "Other");
    ASSERT_TRUE(WriteDatabase({a, b}));
    Level1Names();
    HANDLE handle = nullptr;
    ASSERT_TRUE(OpenPort(monitor_, const_cast<LPWSTR>(L"Held"), &handle));
    auto* held = static_cast<PortRecord*>(handle);

    ASSERT_TRUE(WriteDatabase({b}));
    EXPECT_EQ(Level1Names(), std::vector<std::wstring>{L"Other"});
    EXPECT_EQ(Level1Names(), std::vector<std::wstring>{L"Other"}); // reclaims nothing held
    ASSERT_EQ(monitor_->retiredPorts, held);
    EXPECT_STREQ(held->name, L"Held");
    EXPECT_EQ(memcmp(held->connection.deviceAddress, a.address, 6), 0);
    EXPECT_EQ(held->connection.controlPsm, 0x1001);
    EXPECT_EQ(held->connection.dataPsm, 0x1003);
    {
        MonitorLockGuard lock;
        ReleasePortHandle(held);
    }
    EXPECT_EQ(monitor_->retiredPorts, nullptr);
}

TEST_F(PortsTest, AHeldPortReplacedByOpenPortLivesUntilReleased) {
    // A device record without a control PSM: every OpenPort rebuilds its port.
    DeviceEntry a = MakeEntry(1, "NoPsm", 0, 0x1003);
    ASSERT_TRUE(WriteDatabase({a}));
    Level1Names();
    HANDLE firstHandle = nullptr, secondHandle = nullptr;
    ASSERT_TRUE(OpenPort(monitor_, const_cast<LPWSTR>(L"NoPsm"), &firstHandle));
    auto* first = static_cast<PortRecord*>(firstHandle);
    ASSERT_TRUE(OpenPort(monitor_, const_cast<LPWSTR>(L"NoPsm"), &secondHandle));
    auto* second = static_cast<PortRecord*>(secondHandle);
    EXPECT_NE(first, second);
    EXPECT_EQ(monitor_->ports, second);
    EXPECT_EQ(ListLength(monitor_->ports), 1u);
    ASSERT_EQ(monitor_->retiredPorts, first);
    EXPECT_STREQ(first->name, L"NoPsm");
    EXPECT_EQ(first->connection.dataPsm, 0x1003);
    MonitorLockGuard lock;
    ReleasePortHandle(first);
    EXPECT_EQ(monitor_->retiredPorts, nullptr);
    ReleasePortHandle(second);
    EXPECT_EQ(monitor_->ports, second); // still listed: only its hold is gone
    EXPECT_EQ(second->openCount, 0);
}

TEST_F(PortsTest, BadFileContentMakesPortsWithoutHarm) {
    std::string bytes;
    bytes += std::string(274, '\0');                          // all NULs
    bytes += testsupport::FormatRecord(MakeEntry(1, "Good")); // a good record
    std::string badHex = testsupport::FormatRecord(MakeEntry(2, "Bad hex"));
    badHex.replace(0, 4, "zz!!");
    badHex.replace(260, 8, "xyzw1234");
    bytes += badHex;
    std::string garbage(700, '\0');
    uint32_t seed = 99;
    for (char& c : garbage) {
        seed = seed * 1103515245 + 12345;
        c = static_cast<char>(seed >> 16);
    }
    bytes += garbage;
    bytes += "00"; // a short record at the end
    ASSERT_TRUE(testsupport::WriteDatabaseBytes(bytes));
    DeviceDatabase db;
    int records = db.CountRecords();
    EXPECT_EQ(records, 6); // 5 whole records and 154 bytes
    for (DWORD level : {1u, 2u}) {
        DWORD returned = 0;
        std::vector<BYTE> buffer = Enumerate(level, &returned);
        EXPECT_GE(returned, 4u);
        EXPECT_LE(returned, 6u);
    }
    std::vector<std::wstring> names = Level1Names();
    EXPECT_EQ(names[0], L"");
    EXPECT_EQ(names[1], L"Good");
    EXPECT_EQ(names[2], L"Bad hex");
    PortRecord* bad = monitor_->ports->next->next;
    EXPECT_EQ(bad->connection.deviceAddress[0], 0xFF);
    EXPECT_EQ(bad->connection.deviceAddress[1], 0xFF);
    EXPECT_EQ(bad->connection.controlPsm, 0xFFFF);
    EXPECT_EQ(bad->connection.dataPsm, 0x1234);
}
