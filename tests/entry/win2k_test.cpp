// Initialisation on Windows 2000: this program runs with Wine reporting version 5.0.

#include <gtest/gtest.h>

#include "support/table_sizes.h"

#include "entry/monitor.h"
#include "entry/registry_shim.h"

#include <cstring>

namespace {

MONITORREG g_spoolerRegistry = {};
const HANDLE SPOOLER_HANDLE = reinterpret_cast<HANDLE>(0x5678);

} // namespace

TEST(Windows2000, TheSpoolersRegistryFunctionsStayAndTheTableEndsAtShutdown) {
    ASSERT_TRUE(IsWindows2000()) << "Wine must report version 5.0 to this program";
    MONITORINIT init = {};
    init.cbSize = sizeof(init);
    init.hSpooler = SPOOLER_HANDLE;
    init.pMonitorReg = &g_spoolerRegistry;
    init.bLocal = TRUE;
    HANDLE handle = nullptr;
    Monitor2Table* table = InitializePrintMonitor2(&init, &handle);
    ASSERT_NE(table, nullptr);
    EXPECT_EQ(table->cbSize, testsupport::MONITOR2_WINDOWS_2000_BYTES);
    EXPECT_EQ(offsetof(Monitor2Table, pfnSendRecvBidiDataFromPort),
              testsupport::MONITOR2_WINDOWS_2000_BYTES);
    EXPECT_EQ(table->pfnShutdown, Shutdown);
    EXPECT_EQ(init.pMonitorReg, &g_spoolerRegistry);
    EXPECT_EQ(init.hSpooler, SPOOLER_HANDLE);
    auto* monitor = static_cast<MonitorHandle*>(handle);
    ASSERT_NE(monitor, nullptr);
    ASSERT_NE(monitor->monitorInit, nullptr);
    EXPECT_EQ(monitor->monitorInit->pMonitorReg, &g_spoolerRegistry);
    Shutdown(handle);
}

TEST(Windows2000, TheLegacyEntryKeepsItsOwnShim) {
    const char rootName[] = "Software\\Prnlink Tests\\Win2k Root";
    HKEY key = nullptr;
    ASSERT_EQ(RegCreateKeyExA(HKEY_LOCAL_MACHINE, rootName, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr,
                              &key, nullptr),
              ERROR_SUCCESS);
    RegCloseKey(key);
    LegacyMonitorTable legacy = {};
    char root[sizeof(rootName)];
    memcpy(root, rootName, sizeof(root));
    ASSERT_TRUE(InitializeMonitorEx(root, &legacy));
    EXPECT_EQ(g_monitor2Table.cbSize, testsupport::MONITOR2_WINDOWS_2000_BYTES);
    ASSERT_NE(g_monitorHandle, nullptr);
    MONITORINIT* init = g_monitorHandle->monitorInit;
    ASSERT_NE(init->pMonitorReg, nullptr);
    EXPECT_EQ(init->pMonitorReg->cbSize, testsupport::MONITORREG_BYTES);
    EXPECT_EQ(init->pMonitorReg->fpSetValue, ShimSetValue);
    Shutdown(g_monitorHandle);
    RegDeleteKeyA(HKEY_LOCAL_MACHINE, rootName);
}
