// The initialisation entries, the two function tables and Shutdown.

#include <gtest/gtest.h>

#include "support/table_sizes.h"

#include "entry/legacy_adapters.h"
#include "entry/monitor.h"
#include "entry/reported_operations.h"
#include "entry/registry_shim.h"
#include "ports/port_record.h"

#include <cstring>

namespace {

// Stand-in for the spooler's own registry functions: a table the monitor must not replace
// on Windows 2000 and must replace elsewhere.
MONITORREG g_spoolerRegistry = {};
const HANDLE SPOOLER_HANDLE = reinterpret_cast<HANDLE>(0x5678);

MONITORINIT SpoolerInit(BOOL local) {
    MONITORINIT init = {};
    init.cbSize = sizeof(init);
    init.hSpooler = SPOOLER_HANDLE;
    init.pMonitorReg = &g_spoolerRegistry;
    init.bLocal = local;
    return init;
}

// The monitor's operations share their names with spooler declarations of other
// signatures: compare through the slot's own type.
#define EXPECT_SLOT(slot, function)                                                                \
    do {                                                                                           \
        decltype(slot) expected = function;                                                        \
        EXPECT_EQ(slot, expected);                                                                 \
    } while (0)

const char LEGACY_ROOT[] = "Software\\Prnlink Tests\\Legacy Root";

} // namespace

TEST(InitializePrintMonitor2, RemoteSpoolerGetsNothing) {
    MONITORINIT init = SpoolerInit(FALSE);
    MONITORINIT before = init;
    HANDLE monitor = reinterpret_cast<HANDLE>(0x1);
    EXPECT_EQ(InitializePrintMonitor2(&init, &monitor), nullptr);
    EXPECT_EQ(memcmp(&init, &before, sizeof(init)), 0);
    EXPECT_EQ(monitor, reinterpret_cast<HANDLE>(0x1));
}

TEST(InitializePrintMonitor2, NullArgumentsGetNothing) {
    MONITORINIT init = SpoolerInit(TRUE);
    HANDLE monitor = nullptr;
    EXPECT_EQ(InitializePrintMonitor2(nullptr, &monitor), nullptr);
    EXPECT_EQ(InitializePrintMonitor2(&init, nullptr), nullptr);
    EXPECT_EQ(init.pMonitorReg, &g_spoolerRegistry);
}

TEST(InitializePrintMonitor2, InstallsTheShimAndReturnsTheFullTable) {
    EXPECT_FALSE(IsWindows2000());
    MONITORINIT init = SpoolerInit(TRUE);
    HANDLE handle = nullptr;
    Monitor2Table* table = InitializePrintMonitor2(&init, &handle);
    ASSERT_EQ(table, &g_monitor2Table);
    EXPECT_EQ(table->cbSize, testsupport::MONITOR2_FULL_BYTES);
    // The shim replaces the spooler's registry functions; the spooler handle is dropped.
    ASSERT_NE(init.pMonitorReg, &g_spoolerRegistry);
    ASSERT_NE(init.pMonitorReg, nullptr);
    EXPECT_EQ(init.pMonitorReg->cbSize, testsupport::MONITORREG_BYTES);
    EXPECT_EQ(init.pMonitorReg->fpQueryValue, ShimQueryValue);
    EXPECT_EQ(init.hSpooler, nullptr);
    auto* monitor = static_cast<MonitorHandle*>(handle);
    ASSERT_NE(monitor, nullptr);
    EXPECT_EQ(memcmp(monitor->signature, "QLK", 4), 0);
    EXPECT_EQ(monitor->ports, nullptr);
    EXPECT_EQ(monitor->xcvHandles, nullptr);
    ASSERT_NE(monitor->monitorInit, nullptr);
    EXPECT_TRUE(monitor->monitorInit->bLocal);
    EXPECT_EQ(g_monitorHandle, monitor);
    // MonitorLock is usable and re-entrant.
    MonitorLockEnter();
    MonitorLockEnter();
    MonitorLockLeave();
    MonitorLockLeave();

    EXPECT_SLOT(table->pfnEnumPorts, ReportedEnumPorts);
    EXPECT_SLOT(table->pfnOpenPort, ReportedOpenPort);
    EXPECT_EQ(table->pfnOpenPortEx, nullptr);
    EXPECT_SLOT(table->pfnStartDocPort, ReportedStartDocPort);
    EXPECT_SLOT(table->pfnWritePort, ReportedWritePort);
    EXPECT_SLOT(table->pfnReadPort, ReportedReadPort);
    EXPECT_SLOT(table->pfnEndDocPort, ReportedEndDocPort);
    EXPECT_SLOT(table->pfnClosePort, ReportedClosePort);
    EXPECT_EQ(table->pfnAddPort, nullptr);
    EXPECT_SLOT(table->pfnAddPortEx, ReportedAddPortEx);
    EXPECT_EQ(table->pfnConfigurePort, nullptr);
    EXPECT_SLOT(table->pfnDeletePort, ReportedDeletePort);
    EXPECT_SLOT(table->pfnGetPrinterDataFromPort, ReportedGetPrinterDataFromPort);
    EXPECT_SLOT(table->pfnSetPortTimeOuts, ReportedSetPortTimeOuts);
    EXPECT_SLOT(table->pfnXcvOpenPort, ReportedXcvOpenPort);
    EXPECT_SLOT(table->pfnXcvDataPort, ReportedXcvDataPort);
    EXPECT_SLOT(table->pfnXcvClosePort, XcvClosePort);
    EXPECT_SLOT(table->pfnShutdown, Shutdown);
    EXPECT_EQ(table->pfnSendRecvBidiDataFromPort, nullptr);

    table->pfnShutdown(handle);
    EXPECT_EQ(g_monitorHandle, nullptr);
}

TEST(InitializeMonitorEx, MissingOrNullRootLeavesTheTableUnwritten) {
    RegDeleteKeyA(HKEY_LOCAL_MACHINE, "Software\\Prnlink Tests\\No Such Key");
    LegacyMonitorTable table;
    memset(&table, 0xAB, sizeof(table));
    LegacyMonitorTable before = table;
    char missing[] = "Software\\Prnlink Tests\\No Such Key";
    EXPECT_FALSE(InitializeMonitorEx(missing, &table));
    EXPECT_EQ(memcmp(&table, &before, sizeof(table)), 0);
    EXPECT_FALSE(InitializeMonitorEx(nullptr, &table));
    EXPECT_EQ(memcmp(&table, &before, sizeof(table)), 0);
    EXPECT_FALSE(InitializeMonitorEx(missing, nullptr));
}

TEST(InitializeMonitorEx, FillsTheLegacyTableOverAShimAndTheRegistryRoot) {
    HKEY key = nullptr;
    ASSERT_EQ(RegCreateKeyExA(HKEY_LOCAL_MACHINE, LEGACY_ROOT, 0, nullptr, 0, KEY_ALL_ACCESS,
                              nullptr, &key, nullptr),
              ERROR_SUCCESS);
    RegCloseKey(key);

    LegacyMonitorTable table;
    memset(&table, 0xAB, sizeof(table));
    char root[sizeof(LEGACY_ROOT)];
    memcpy(root, LEGACY_ROOT, sizeof(root));
    ASSERT_TRUE(InitializeMonitorEx(root, &table));

    EXPECT_SLOT(table.pfnEnumPorts, LegacyEnumPorts);
    EXPECT_SLOT(table.pfnOpenPort, LegacyOpenPort);
    EXPECT_EQ(table.pfnOpenPortEx, nullptr);
    EXPECT_SLOT(table.pfnStartDocPort, LegacyStartDocPort);
    EXPECT_SLOT(table.pfnWritePort, ReportedWritePort);
    EXPECT_SLOT(table.pfnReadPort, ReportedReadPort);
    EXPECT_SLOT(table.pfnEndDocPort, ReportedEndDocPort);
    EXPECT_SLOT(table.pfnClosePort, ReportedClosePort);
    EXPECT_SLOT(table.pfnAddPort, LegacyAddPort);
    EXPECT_EQ(table.pfnAddPortEx, nullptr);
    EXPECT_SLOT(table.pfnConfigurePort, LegacyConfigurePort);
    EXPECT_SLOT(table.pfnDeletePort, LegacyDeletePort);
    EXPECT_SLOT(table.pfnGetPrinterDataFromPort, LegacyGetPrinterDataFromPort);
    EXPECT_SLOT(table.pfnSetPortTimeOuts, ReportedSetPortTimeOuts);

    // The process-wide handle serves the legacy entries; its MONITORINIT reaches the root
    // key through the shim.
    MonitorHandle* monitor = g_monitorHandle;
    ASSERT_NE(monitor, nullptr);
    MONITORINIT* init = monitor->monitorInit;
    ASSERT_NE(init, nullptr);
    EXPECT_TRUE(init->bLocal);
    EXPECT_EQ(init->hSpooler, nullptr);
    ASSERT_NE(init->pMonitorReg, nullptr);
    EXPECT_EQ(init->pMonitorReg->cbSize, testsupport::MONITORREG_BYTES);
    const wchar_t text[] = L"45";
    ASSERT_EQ(init->pMonitorReg->fpSetValue(init->hckRegistryRoot, L"TransmissionRetryTimeout",
                                            REG_SZ, reinterpret_cast<const BYTE*>(text),
                                            sizeof(text), init->hSpooler),
              ERROR_SUCCESS);
    char stored[16] = {};
    DWORD size = sizeof(stored);
    DWORD type = 0;
    ASSERT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, LEGACY_ROOT, 0, KEY_READ, &key), ERROR_SUCCESS);
    EXPECT_EQ(RegQueryValueExA(key, "TransmissionRetryTimeout", nullptr, &type,
                               reinterpret_cast<BYTE*>(stored), &size),
              ERROR_SUCCESS);
    RegCloseKey(key);
    EXPECT_EQ(type, static_cast<DWORD>(REG_SZ));
    EXPECT_STREQ(stored, "45");

    Shutdown(monitor);
    EXPECT_EQ(g_monitorHandle, nullptr);
    RegDeleteKeyA(HKEY_LOCAL_MACHINE, LEGACY_ROOT);
}

namespace {

DWORD WINAPI SlowWorker(LPVOID parameter) {
    Sleep(300);
    InterlockedExchange(static_cast<volatile LONG*>(parameter), 1);
    return 0;
}

} // namespace

TEST(Shutdown, WaitsForWorkersAndFreesEveryRecordAndHandle) {
    MONITORINIT init = SpoolerInit(TRUE);
    HANDLE handle = nullptr;
    ASSERT_NE(InitializePrintMonitor2(&init, &handle), nullptr);
    auto* monitor = static_cast<MonitorHandle*>(handle);

    PortRecord* listed = CreatePortRecord(monitor, L"00:0a:95:12:34:56.1");
    ASSERT_NE(listed, nullptr);
    listed->printerName = DuplicateWideString(L"Printer");
    listed->deviceId = static_cast<char*>(AllocZeroedMemory(16));
    // A record that the spooler still holds after it left the list, with a worker on it.
    PortRecord* held = CreatePortRecord(monitor, L"held");
    ASSERT_NE(held, nullptr);
    AcquirePortHandle(held);
    volatile LONG workerDone = 0;
    held->deviceIdThread =
        CreateThread(nullptr, 0, SlowWorker, const_cast<LONG*>(&workerDone), 0, nullptr);
    ASSERT_NE(held->deviceIdThread, nullptr);
    ASSERT_TRUE(DeletePortRecord(monitor, held));
    ASSERT_EQ(monitor->retiredPorts, held);
    ASSERT_NE(CreateXcvHandle(monitor, L"00:0a:95:12:34:56.1", SERVER_ACCESS_ADMINISTER), nullptr);

    Shutdown(monitor);
    EXPECT_EQ(workerDone, 1);
    EXPECT_EQ(g_monitorHandle, nullptr);
}

TEST(Shutdown, OfAHandleWithoutPortsAndOfNull) {
    MONITORINIT init = SpoolerInit(TRUE);
    HANDLE handle = nullptr;
    ASSERT_NE(InitializePrintMonitor2(&init, &handle), nullptr);
    Shutdown(handle);
    EXPECT_EQ(g_monitorHandle, nullptr);
    Shutdown(nullptr);
}
