// Each spooler operation that fails leaves one debug line naming the operation, the port and
// the error code; answers that are not failures (a size query's 122) and successes leave none.

#include <gtest/gtest.h>

#include "support/debug_capture.h"
#include "support/monitor_fixture.h"

#include "ports/port_record.h"

#include <functional>
#include <string>
#include <vector>

namespace {

class ReportedOperations : public testsupport::MonitorTest {};

TEST_F(ReportedOperations, EachFailureLeavesOneLineNamingOperationPortAndCode) {
    HANDLE notAPort = reinterpret_cast<HANDLE>(static_cast<uintptr_t>(0x5000));
    PortRecord* office = nullptr;
    {
        MonitorLockGuard lock;
        office = CreatePortRecord(monitor_, L"Office Printer");
    }
    ASSERT_NE(office, nullptr);
    HANDLE xcv = nullptr;
    ASSERT_TRUE(table_->pfnXcvOpenPort(handle_, L"", SERVER_ACCESS_ADMINISTER, &xcv));
    DWORD needed = 0;
    DWORD returned = 0;
    BYTE buffer[64];
    struct Case {
        const char* line; // null: none expected
        std::function<void()> call;
    };
    const Case cases[] = {
        {"Prnlink: OpenPort of port \"Nowhere\" failed with error 2\n",
         [&] {
             HANDLE port = nullptr;
             SetLastError(ERROR_FILE_NOT_FOUND); // OpenPort leaves the caller's error
             table_->pfnOpenPort(handle_, const_cast<LPWSTR>(L"Nowhere"), &port);
         }},
        {"Prnlink: StartDocPort of port handle \"(not a port)\" failed with error 6\n",
         [&] { table_->pfnStartDocPort(notAPort, nullptr, 1, 1, nullptr); }},
        {"Prnlink: WritePort of port handle \"(not a port)\" failed with error 6\n",
         [&] {
             DWORD written = 0;
             table_->pfnWritePort(notAPort, buffer, 4, &written);
         }},
        {"Prnlink: EndDocPort of port handle \"(not a port)\" failed with error 6\n",
         [&] { table_->pfnEndDocPort(notAPort); }},
        {nullptr, [&] { table_->pfnClosePort(notAPort); }}, // succeeds: nothing is open
        {"Prnlink: SetPortTimeOuts of port \"Office Printer\" failed with error 87\n",
         [&] { table_->pfnSetPortTimeOuts(office, nullptr, 0); }},
        {"Prnlink: AddPortEx failed with error 124\n",
         [&] {
             PORT_INFO_1W info = {const_cast<LPWSTR>(L"00:0a:95:12:34:56.1")};
             table_->pfnAddPortEx(handle_, nullptr, 2, reinterpret_cast<BYTE*>(&info), nullptr);
         }},
        {"Prnlink: DeletePort of port \"Nowhere\" failed with error 2\n",
         [&] { table_->pfnDeletePort(handle_, nullptr, nullptr, const_cast<LPWSTR>(L"Nowhere")); }},
        {"Prnlink: XcvDataPort of command \"NoSuchCommand\" failed with error 87\n",
         [&] { table_->pfnXcvDataPort(xcv, L"NoSuchCommand", nullptr, 0, buffer, 64, &needed); }},
        {nullptr,
         [&] { table_->pfnXcvDataPort(xcv, L"MonitorUI", nullptr, 0, buffer, 4, &needed); }},
        {nullptr,
         [&] { table_->pfnXcvDataPort(xcv, L"MonitorUI", nullptr, 0, buffer, 64, &needed); }},
        // Last: enumeration drops the port above, whose address the database lacks.
        {"Prnlink: EnumPorts failed with error 87\n",
         [&] { table_->pfnEnumPorts(handle_, nullptr, 1, buffer, 64, nullptr, &returned); }},
        {nullptr,
         [&] { table_->pfnEnumPorts(handle_, nullptr, 1, nullptr, 0, &needed, &returned); }},
    };
    for (const Case& c : cases) {
        testsupport::DebugCapture capture;
        c.call();
        std::vector<std::string> lines = capture.LinesOfThisThread();
        if (c.line == nullptr) {
            EXPECT_TRUE(lines.empty()) << lines.front();
        } else {
            ASSERT_EQ(lines.size(), 1u) << c.line;
            EXPECT_EQ(lines[0], c.line);
        }
    }
    table_->pfnXcvClosePort(xcv);
}

// The line leaves the operation's error as the operation set it.
TEST_F(ReportedOperations, TheErrorCodeSurvivesTheLine) {
    testsupport::DebugCapture capture;
    SetLastError(0);
    EXPECT_FALSE(table_->pfnEndDocPort(reinterpret_cast<HANDLE>(static_cast<uintptr_t>(0x5000))));
    EXPECT_EQ(GetLastError(), DWORD{ERROR_INVALID_HANDLE});
    EXPECT_EQ(capture.LinesOfThisThread().size(), 1u);
}

} // namespace
