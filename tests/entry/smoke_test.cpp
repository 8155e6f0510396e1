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
