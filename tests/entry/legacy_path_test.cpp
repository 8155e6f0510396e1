// The legacy table end to end: InitializeMonitorEx over a real registry root, then ports
// enumerated and opened with 8-bit names through the adapters, the retry time-out read and
// written through the registry shim.

#include <gtest/gtest.h>

#include "entry/monitor.h"
#include "ports/port_record.h"
#include "support/hcrpdb_writer.h"

#include <cstring>
#include <string>
#include <vector>

namespace {

const char ROOT[] = "Software\\Prnlink Tests\\Legacy Path";

class LegacyPath : public ::testing::Test {
  protected:
    void SetUp() override {
        testsupport::RemoveDatabase();
        RegDeleteKeyA(HKEY_LOCAL_MACHINE, ROOT);
        HKEY key = nullptr;
        ASSERT_EQ(RegCreateKeyExA(HKEY_LOCAL_MACHINE, ROOT, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr,
                                  &key, nullptr),
                  ERROR_SUCCESS);
        RegCloseKey(key);
    }
    void TearDown() override {
        if (g_monitorHandle != nullptr) {
            Shutdown(g_monitorHandle);
        }
        RegDeleteKeyA(HKEY_LOCAL_MACHINE, ROOT);
        testsupport::RemoveDatabase();
    }

    void Initialize() {
        char root[sizeof(ROOT)];
        memcpy(root, ROOT, sizeof(root));
        ASSERT_TRUE(InitializeMonitorEx(root, &table_));
    }

    std::string StoredTimeout() {
        HKEY key = nullptr;
        char text[32] = {};
        DWORD size = sizeof(text), type = 0;
        RegOpenKeyExA(HKEY_LOCAL_MACHINE, ROOT, 0, KEY_READ, &key);
        LONG status = RegQueryValueExA(key, "TransmissionRetryTimeout", nullptr, &type,
                                       reinterpret_cast<BYTE*>(text), &size);
        RegCloseKey(key);
        if (status != ERROR_SUCCESS || type != REG_SZ) {
            return "(none)";
        }
        return std::string(text, size);
    }

    LegacyMonitorTable table_ = {};
};

} // namespace

TEST_F(LegacyPath, EnumeratesAndOpensPortsWithEightBitNames) {
    ASSERT_TRUE(testsupport::WriteDatabase(
        {testsupport::MakeEntry(1, "Office"), testsupport::MakeEntry(2, "Lab")}));
    Initialize();

    DWORD needed = 0, returned = 0;
    EXPECT_FALSE(table_.pfnEnumPorts(nullptr, 1, nullptr, 0, &needed, &returned));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER));
    ASSERT_GT(needed, 0u);
    std::vector<BYTE> buffer(needed);
    ASSERT_TRUE(table_.pfnEnumPorts(nullptr, 1, buffer.data(), needed, &needed, &returned));
    ASSERT_EQ(returned, 2u);
    auto* ports = reinterpret_cast<PORT_INFO_1W*>(buffer.data());
    EXPECT_EQ(std::wstring(ports[0].pName), testsupport::PortNameFor("Office"));
    EXPECT_EQ(std::wstring(ports[1].pName), testsupport::PortNameFor("Lab"));

    // The retry time-out is missing: opening stores the default through the shim, as
    // 8-bit text with its terminator, and the port takes it.
    char name[] = "Lab";
    HANDLE port = nullptr;
    ASSERT_TRUE(table_.pfnOpenPort(name, &port));
    ASSERT_NE(port, nullptr);
    EXPECT_STREQ(static_cast<PortRecord*>(port)->name, testsupport::PortNameFor("Lab").c_str());
    EXPECT_EQ(static_cast<PortRecord*>(port)->connection.retryTimeoutMs, 45000u);
    EXPECT_EQ(StoredTimeout(), std::string("45", 3));
}

TEST_F(LegacyPath, OpenPortReadsTheRetryTimeoutThroughTheShim) {
    ASSERT_TRUE(testsupport::WriteDatabase({testsupport::MakeEntry(1, "Office")}));
    HKEY key = nullptr;
    ASSERT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, ROOT, 0, KEY_ALL_ACCESS, &key), ERROR_SUCCESS);
    RegSetValueExA(key, "TransmissionRetryTimeout", 0, REG_SZ, reinterpret_cast<const BYTE*>("30"),
                   3);
    RegCloseKey(key);
    Initialize();

    DWORD needed = 0, returned = 0;
    table_.pfnEnumPorts(nullptr, 1, nullptr, 0, &needed, &returned);
    char name[] = "Office";
    HANDLE port = nullptr;
    ASSERT_TRUE(table_.pfnOpenPort(name, &port));
    EXPECT_EQ(static_cast<PortRecord*>(port)->connection.retryTimeoutMs, 30000u);
    EXPECT_EQ(StoredTimeout(), std::string("30", 3));

    // A name the adapter cannot hold is refused before any port is looked at.
    std::string overlong(250, 'O');
    port = nullptr;
    EXPECT_FALSE(table_.pfnOpenPort(&overlong[0], &port));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_NAME));
    EXPECT_EQ(port, nullptr);
}
