#include <gtest/gtest.h>

#include "entry/monitor.h"
#include "ports/port_record.h"

TEST(Smoke, InitializesAndShutsDown) {
    MONITORINIT init = {};
    init.cbSize = sizeof(init);
    init.bLocal = TRUE;
    HANDLE monitor = nullptr;
    Monitor2Table* table = InitializePrintMonitor2(&init, &monitor);
    ASSERT_NE(table, nullptr);
    EXPECT_EQ(table->cbSize, 80u);
    PortRecord* record = CreatePortRecord(static_cast<MonitorHandle*>(monitor), L"X");
    ASSERT_NE(record, nullptr);
    table->pfnShutdown(monitor);
}

#include "support/spooler_monitor.h"

TEST(Smoke, WineSpoolerLoadsTheMonitor) {
    std::string error;
    ASSERT_TRUE(testsupport::RegisterMonitor(&error)) << error;
    DWORD needed = 0, returned = 0;
    BOOL ok = EnumPortsW(nullptr, 1, nullptr, 0, &needed, &returned);
    printf("EnumPortsW ok=%d error=%lu needed=%lu\n", ok, GetLastError(), needed);
    testsupport::UnregisterMonitor();
}
