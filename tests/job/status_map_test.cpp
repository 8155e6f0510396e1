// The line status table, byte by byte, as a pure function.

#include <gtest/gtest.h>

#include <windows.h>
#include <winspool.h>

#include "job/status_map.h"

namespace {

struct Row {
    uint8_t status;
    DWORD portStatus;
    PortStatusText text;
    bool setsPrinterStatus;
    DWORD printerStatus;
    bool ready;
};

TEST(StatusMap, EveryRowOfTheTable) {
    const Row rows[] = {
        {0x18, 0, PortStatusText::None, true, 0, true},
        {0x38, 0, PortStatusText::NotPoweredOn, true, PRINTER_STATUS_ERROR, false},
        {0x30, PORT_STATUS_PAPER_OUT, PortStatusText::None, true, PRINTER_STATUS_PAPER_OUT, false},
        {0x28, PORT_STATUS_PAPER_OUT, PortStatusText::None, true, PRINTER_STATUS_PAPER_OUT, false},
        {0x00, PORT_STATUS_OFFLINE, PortStatusText::None, true, PRINTER_STATUS_USER_INTERVENTION,
         false},
        {0x10, PORT_STATUS_OFFLINE, PortStatusText::None, true, PRINTER_STATUS_USER_INTERVENTION,
         false},
        {0x08, PORT_STATUS_OFFLINE, PortStatusText::None, true, PRINTER_STATUS_OFFLINE, false},
        {0x98, 0, PortStatusText::None, false, 0, false},
        {0x58, 0, PortStatusText::None, false, 0, false},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(testing::Message() << "status 0x" << std::hex << int(row.status));
        LineStatusMapping mapping = MapLineStatus(row.status);
        EXPECT_EQ(mapping.portStatus, row.portStatus);
        EXPECT_EQ(mapping.text, row.text);
        EXPECT_EQ(mapping.severity, static_cast<uint32_t>(PORT_STATUS_TYPE_ERROR));
        EXPECT_EQ(mapping.setsPrinterStatus, row.setsPrinterStatus);
        if (row.setsPrinterStatus) {
            EXPECT_EQ(mapping.printerStatus, row.printerStatus);
        }
        EXPECT_EQ(mapping.ready, row.ready);
    }
}

TEST(StatusMap, OnlyExactly0x18IsReady) {
    for (int status = 0; status < 256; ++status) {
        EXPECT_EQ(MapLineStatus(static_cast<uint8_t>(status)).ready, status == 0x18)
            << "status " << status;
    }
}

} // namespace
