// The monitor in Wine's own spooler: registered with AddMonitorW, its ports appear in
// EnumPortsW beside those of the other monitors and follow HCRPDB.txt.

#include <gtest/gtest.h>

#include <windows.h>
#include <winspool.h>

#include <algorithm>
#include <string>
#include <vector>

#include "support/hcrpdb_writer.h"
#include "support/spooler_monitor.h"

using testsupport::MakeEntry;

namespace {

class SpoolerPortsTest : public ::testing::Test {
  protected:
    void SetUp() override {
        testsupport::RemoveDatabase();
        std::string error;
        ASSERT_TRUE(testsupport::RegisterMonitor(&error)) << error;
    }
    void TearDown() override {
        testsupport::UnregisterMonitor();
        testsupport::RemoveDatabase();
    }
};

std::vector<BYTE> EnumAll(DWORD level, DWORD* returned) {
    DWORD needed = 0;
    *returned = 0;
    EnumPortsW(nullptr, level, nullptr, 0, &needed, returned);
    std::vector<BYTE> buffer(needed);
    if (!EnumPortsW(nullptr, level, buffer.data(), needed, &needed, returned)) {
        ADD_FAILURE() << "EnumPortsW level " << level << " failed: " << GetLastError();
        *returned = 0;
    }
    return buffer;
}

// The names of the ports that this monitor reports, in the spooler's order.
std::vector<std::wstring> Level1Names(const std::vector<std::wstring>& candidates) {
    DWORD returned = 0;
    std::vector<BYTE> buffer = EnumAll(1, &returned);
    auto* entries = reinterpret_cast<PORT_INFO_1W*>(buffer.data());
    std::vector<std::wstring> names;
    for (DWORD i = 0; i < returned; ++i) {
        std::wstring name = entries[i].pName;
        if (std::find(candidates.begin(), candidates.end(), name) != candidates.end()) {
            names.push_back(name);
        }
    }
    return names;
}

struct Port2 {
    std::wstring name, monitor, description;
    DWORD type;
};

std::vector<Port2> OurLevel2Ports() {
    DWORD returned = 0;
    std::vector<BYTE> buffer = EnumAll(2, &returned);
    auto* entries = reinterpret_cast<PORT_INFO_2W*>(buffer.data());
    std::vector<Port2> ports;
    for (DWORD i = 0; i < returned; ++i) {
        if (entries[i].pDescription != nullptr &&
            std::wstring(entries[i].pDescription) == L"Bluetooth Port") {
            ports.push_back({entries[i].pPortName,
                             entries[i].pMonitorName ? entries[i].pMonitorName : L"",
                             entries[i].pDescription, entries[i].fPortType});
        }
    }
    return ports;
}

} // namespace

TEST_F(SpoolerPortsTest, EnumPortsWShowsOnePortPerDatabaseRecord) {
    const std::vector<std::wstring> all = {L"Kitchen printer", L"Office  2nd floor", L"Lab"};
    ASSERT_TRUE(testsupport::WriteDatabase(
        {MakeEntry(1, "Kitchen printer"), MakeEntry(2, "Office, 2nd floor")}));
    EXPECT_EQ(Level1Names(all),
              (std::vector<std::wstring>{L"Kitchen printer", L"Office  2nd floor"}));
    std::vector<Port2> ports = OurLevel2Ports();
    ASSERT_EQ(ports.size(), 2u);
    EXPECT_EQ(ports[0].name, L"Kitchen printer");
    EXPECT_EQ(ports[1].name, L"Office  2nd floor");
    for (const Port2& port : ports) {
        EXPECT_EQ(port.monitor, L"Bluetooth Monitor");
        EXPECT_EQ(port.type & PORT_TYPE_WRITE, static_cast<DWORD>(PORT_TYPE_WRITE));
    }

    // A record added, then one removed: the spooler's list follows.
    ASSERT_TRUE(testsupport::AppendRecord(MakeEntry(3, "Lab")));
    EXPECT_EQ(Level1Names(all), all);
    EXPECT_EQ(OurLevel2Ports().size(), 3u);
    ASSERT_TRUE(testsupport::WriteDatabase({MakeEntry(3, "Lab"), MakeEntry(1, "Kitchen printer")}));
    // Whether Wine kept the monitor loaded between the calls decides the order (a kept
    // list keeps Kitchen printer first); the set is what the file says.
    std::vector<std::wstring> names = Level1Names(all);
    std::sort(names.begin(), names.end());
    EXPECT_EQ(names, (std::vector<std::wstring>{L"Kitchen printer", L"Lab"}));
    testsupport::RemoveDatabase();
    EXPECT_EQ(Level1Names(all), std::vector<std::wstring>());
    EXPECT_EQ(OurLevel2Ports().size(), 0u);
}
