// Print jobs on a simulated printer as the spooler sees them: the port status posts, the job
// command, the printer handles, the bytes that reach the printer, and the failure paths.

#include <chrono>
#include <cstdio>

#include "sim_fixture.h"

namespace jobtest {
namespace {

constexpr DWORD kJobId = 42;

class JobPath : public SimJob {
  protected:
    BOOL Start(DWORD jobId = kJobId) {
        return StartDocPort(port_, const_cast<wchar_t*>(kPrinterName), jobId, 1, nullptr);
    }
};

TEST_F(JobPath, WholeJobReachesThePrinterByteForByte) {
    const std::vector<uint8_t> job = JobBytes(1 << 20, 1);
    auto begin = std::chrono::steady_clock::now();
    ASSERT_TRUE(Start());
    EXPECT_NE(port_->flags & PORT_DOC_STARTED, 0u);
    PortStatusPost ready = LastPost();
    EXPECT_EQ(ready.portName, kPortName);
    EXPECT_EQ(ready.status, 0u);
    EXPECT_FALSE(ready.hasText);
    EXPECT_EQ(ready.severity, static_cast<DWORD>(PORT_STATUS_TYPE_ERROR));
    HANDLE printer = port_->printer;
    ASSERT_TRUE(spooler_.IsOpen(printer));

    // The spooler hands data over in pieces of a few kilobytes, not always even.
    ASSERT_TRUE(SpoolerWrite(port_, job, 4093));
    ASSERT_TRUE(EndDocPort(port_));
    double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - begin).count();
    std::printf("1 MiB job: %.2f s, %.0f KiB/s\n", seconds, 1024.0 / seconds);

    EXPECT_TRUE(printer_.Sink() == job) << "sink holds " << printer_.Sink().size() << " bytes";
    QorlSimStats stats = printer_.Stats();
    EXPECT_EQ(stats.creditViolations, 0u);
    EXPECT_EQ(stats.mtuViolations, 0u);
    EXPECT_EQ(stats.openChannels, 0u);

    std::vector<JobCommand> jobs = spooler_.JobCommands();
    ASSERT_EQ(jobs.size(), 1u);
    EXPECT_EQ(jobs[0].printer, printer);
    EXPECT_EQ(jobs[0].printerName, kPrinterName);
    EXPECT_EQ(jobs[0].jobId, kJobId);
    EXPECT_EQ(jobs[0].level, 0u);
    EXPECT_EQ(jobs[0].command, static_cast<DWORD>(JOB_CONTROL_SENT_TO_PRINTER));
    PortStatusPost cleared = LastPost();
    EXPECT_EQ(cleared.portName, kPortName);
    EXPECT_EQ(cleared.status, 0u);
    EXPECT_FALSE(cleared.hasText);
    EXPECT_EQ(cleared.severity, 0u);

    EXPECT_EQ(spooler_.OpenHandleCount(), 0u);
    EXPECT_EQ(port_->printer, nullptr);
    EXPECT_EQ(port_->printerName, nullptr);
    EXPECT_EQ(port_->flags & PORT_DOC_STARTED, 0u);
    EXPECT_EQ(port_->connection.channelFlags, 0);
    EXPECT_EQ(port_->status.printerInfo, nullptr);
    EXPECT_EQ(g_stackBinding.module, nullptr);
    // One status query for the whole job: the printer record is fetched once.
    EXPECT_EQ(spooler_.StatusPosts().size(), 2u);
}

TEST_F(JobPath, SecondStartChangesNothingAndEndWithoutStartDoesNothing) {
    EXPECT_TRUE(EndDocPort(port_));
    EXPECT_TRUE(spooler_.JobCommands().empty());
    ASSERT_TRUE(Start(5));
    size_t opens = spooler_.Opens().size();
    EXPECT_TRUE(Start(6));
    EXPECT_EQ(spooler_.Opens().size(), opens);
    EXPECT_EQ(port_->jobId, 5u);
    ASSERT_TRUE(EndDocPort(port_));
    ASSERT_EQ(spooler_.JobCommands().size(), 1u);
    EXPECT_EQ(spooler_.JobCommands()[0].jobId, 5u);
}

// Each row of the line-status table as the spooler sees it when a document starts.
TEST_F(JobPath, EveryStatusRowAsTheSpoolerSeesIt) {
    struct Row {
        uint8_t status;
        BOOL started;
        DWORD portStatus;
        const wchar_t* text;
        DWORD printerStatus;
    };
    const Row rows[] = {
        {0x08, FALSE, PORT_STATUS_OFFLINE, nullptr, PRINTER_STATUS_OFFLINE},
        // A higher bit on a selected, fault-free printer: cleared, printer status left.
        {0x98, FALSE, 0, nullptr, PRINTER_STATUS_OFFLINE},
        {0x38, FALSE, 0, L"Not Powered On", PRINTER_STATUS_ERROR},
        {0x58, FALSE, 0, nullptr, PRINTER_STATUS_ERROR},
        {0x30, FALSE, PORT_STATUS_PAPER_OUT, nullptr, PRINTER_STATUS_PAPER_OUT},
        {0x00, FALSE, PORT_STATUS_OFFLINE, nullptr, PRINTER_STATUS_USER_INTERVENTION},
        {0x18, TRUE, 0, nullptr, 0},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(testing::Message() << "status 0x" << std::hex << int(row.status));
        printer_.SetStatus(row.status);
        SetLastError(0xBAD);
        EXPECT_EQ(Start(), row.started);
        if (!row.started) {
            EXPECT_EQ(GetLastError(), 0u);
            // Channels and printer stay open; the port is not started.
            EXPECT_TRUE(port_->connection.IsConnected());
            EXPECT_TRUE(spooler_.IsOpen(port_->printer));
            EXPECT_EQ(port_->flags & PORT_DOC_STARTED, 0u);
            EXPECT_EQ(port_->printerName, nullptr);
        }
        PortStatusPost post = LastPost();
        EXPECT_EQ(post.portName, kPortName);
        EXPECT_EQ(post.status, row.portStatus);
        EXPECT_EQ(post.hasText, row.text != nullptr);
        if (row.text != nullptr) {
            EXPECT_EQ(post.text, row.text);
        }
        EXPECT_EQ(post.severity, static_cast<DWORD>(PORT_STATUS_TYPE_ERROR));
        ASSERT_NE(port_->status.printerInfo, nullptr);
        EXPECT_EQ(port_->status.printerInfo->Status, row.printerStatus);
        EXPECT_EQ(port_->status.portInfo.pszStatus, nullptr);
        if (!row.started) {
            // Back to idle, as the spooler's closing of the port does.
            EXPECT_TRUE(ClosePort(port_));
            EXPECT_FALSE(port_->connection.IsConnected());
        }
    }
    ASSERT_TRUE(EndDocPort(port_));
    // Every printer handle of the failed starts was given back.
    EXPECT_EQ(spooler_.OpenHandleCount(), 0u);
}

TEST_F(JobPath, PaperOutAtStartKeepsTheChannelsUntilTheDeviceIdQueryDisconnects) {
    printer_.SetStatus(QORLSIM_LPT_PAPER_OUT);
    SetLastError(0xBAD);
    EXPECT_FALSE(Start());
    EXPECT_EQ(GetLastError(), 0u);
    EXPECT_EQ(LastPost().status, static_cast<DWORD>(PORT_STATUS_PAPER_OUT));
    EXPECT_TRUE(port_->connection.IsConnected());
    ASSERT_EQ(spooler_.OpenHandleCount(), 1u);

    // Connected without a document: the next start is refused, and the printer handle it
    // opened is given back (as is the one left from the first start).
    printer_.SetStatus(QORLSIM_LPT_READY);
    SetLastError(0);
    EXPECT_FALSE(Start());
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_OPEN_FAILED));
    EXPECT_EQ(spooler_.OpenHandleCount(), 0u);
    EXPECT_EQ(port_->printer, nullptr);
    EXPECT_EQ(port_->printerName, nullptr);

    // The device-ID worker takes the port back to idle; then the document starts.
    char out[128];
    DWORD returned = 0;
    EXPECT_FALSE(GetPrinterDataFromPort(port_, IOCTL_PAR_QUERY_DEVICE_ID, nullptr, nullptr, 0,
                                        reinterpret_cast<LPWSTR>(out), sizeof(out), &returned));
    ASSERT_NE(port_->deviceIdThread, nullptr);
    ASSERT_EQ(WaitForSingleObject(port_->deviceIdThread, 10000), WAIT_OBJECT_0);
    EXPECT_EQ(port_->connection.channelFlags, 0);
    EXPECT_TRUE(Start());
    ASSERT_TRUE(EndDocPort(port_));
}

TEST_F(JobPath, PrinterOfflineMidJobHoldsTheDataUntilItIsBack) {
    const std::vector<uint8_t> job = JobBytes(64 * 1024, 2);
    const std::vector<uint8_t> first(job.begin(), job.begin() + 20000);
    const std::vector<uint8_t> rest(job.begin() + 20000, job.end());
    ASSERT_TRUE(Start());
    ASSERT_TRUE(SpoolerWrite(port_, first, 4096));

    // The spooler's read finds the printer offline; from then on every write asks again.
    printer_.SetStatus(QORLSIM_LPT_OFFLINE);
    BYTE back[64];
    DWORD read = 99;
    EXPECT_FALSE(ReadPort(port_, back, sizeof(back), &read));
    EXPECT_EQ(read, 0u);
    EXPECT_EQ(LastPost().status, static_cast<DWORD>(PORT_STATUS_OFFLINE));
    size_t posts = spooler_.StatusPosts().size();
    DWORD written = 99;
    EXPECT_FALSE(WritePort(port_, const_cast<BYTE*>(rest.data()), 4096, &written));
    EXPECT_EQ(written, 0u);
    EXPECT_FALSE(WritePort(port_, const_cast<BYTE*>(rest.data()), 4096, &written));
    EXPECT_EQ(spooler_.StatusPosts().size(), posts + 2);
    EXPECT_EQ(printer_.Sink().size(), first.size());

    printer_.SetStatus(QORLSIM_LPT_READY);
    ASSERT_TRUE(SpoolerWrite(port_, rest, 4096));
    EXPECT_EQ(LastPost().status, 0u);
    ASSERT_TRUE(EndDocPort(port_));
    EXPECT_TRUE(printer_.Sink() == job);
}

TEST_F(JobPath, WriteOfNothingTimesOutAndPostsAFreshStatus) {
    ASSERT_TRUE(Start());
    size_t posts = spooler_.StatusPosts().size();
    printer_.SetStatus(QORLSIM_LPT_POWERED_OFF);
    DWORD written = 99;
    SetLastError(0);
    EXPECT_FALSE(WritePort(port_, nullptr, 0, &written));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_TIMEOUT));
    EXPECT_EQ(written, 0u);
    ASSERT_EQ(spooler_.StatusPosts().size(), posts + 1);
    EXPECT_EQ(LastPost().text, L"Not Powered On");
    ASSERT_TRUE(EndDocPort(port_));
}

// The printer switched off in the middle of a job: the link goes, reconnecting fails until
// it is back, EndDocPort refuses with 6 and keeps the job; afterwards the job completes.
TEST_F(JobPath, LinkLostMidJobThenEndDocPortFailsWith6AndTheJobRecovers) {
    const std::vector<uint8_t> job = JobBytes(256 * 1024, 3);
    ASSERT_TRUE(Start());
    HANDLE printer = port_->printer;
    // The link drops after 100000 bytes, inside one of the spooler's writes.
    printer_.Fault(QORLSIM_FAULT_CHANNEL_DROP, 4, 1, 0, 100000, QORLSIM_DATA | QORLSIM_CONTROL);
    DWORD error = 0;
    EXPECT_FALSE(SpoolerWrite(port_, job, 8192, 0, &error));
    EXPECT_EQ(error, static_cast<DWORD>(ERROR_DEVICE_NOT_CONNECTED));
    size_t accepted = printer_.Sink().size();
    EXPECT_GE(accepted, 100000u);
    EXPECT_LT(accepted, job.size());
    QorlSim_WaitIdle(2000);
    EXPECT_EQ(port_->connection.channelFlags, 0);

    // Off: the printer refuses connections.
    printer_.Fault(QORLSIM_FAULT_CONNECT_REFUSED, 1, -1);
    DWORD written = 99;
    SetLastError(0);
    EXPECT_FALSE(WritePort(port_, const_cast<BYTE*>(job.data() + accepted), 4096, &written));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_OPEN_FAILED));
    EXPECT_EQ(written, 0u);

    SetLastError(0);
    EXPECT_FALSE(EndDocPort(port_));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
    EXPECT_TRUE(spooler_.JobCommands().empty());
    EXPECT_NE(port_->flags & PORT_DOC_STARTED, 0u);
    EXPECT_EQ(port_->printer, printer);
    EXPECT_TRUE(spooler_.IsOpen(printer));

    // Back on: the next write reconnects and the job goes on from where it stopped.
    QorlSim_ClearFaults(printer_.address);
    const std::vector<uint8_t> rest(job.begin() + static_cast<ptrdiff_t>(accepted), job.end());
    ASSERT_TRUE(SpoolerWrite(port_, rest, 8192));
    ASSERT_TRUE(EndDocPort(port_));
    EXPECT_TRUE(printer_.Sink() == job);
    ASSERT_EQ(spooler_.JobCommands().size(), 1u);
    EXPECT_EQ(spooler_.JobCommands()[0].jobId, kJobId);
    EXPECT_EQ(spooler_.OpenHandleCount(), 0u);
}

TEST_F(JobPath, CreditThatNeverComesEndsTheWriteAfterTheRetryTimeOut) {
    printer_.config.creditPolicy = QORLSIM_CREDIT_NEVER;
    ASSERT_TRUE(printer_.Add());
    port_->connection.retryTimeoutMs = 0;
    ASSERT_TRUE(Start());
    const std::vector<uint8_t> job = JobBytes(4096, 4);
    DWORD written = 99;
    auto begin = std::chrono::steady_clock::now();
    SetLastError(0);
    EXPECT_FALSE(WritePort(port_, const_cast<BYTE*>(job.data()), 4096, &written));
    auto took = std::chrono::steady_clock::now() - begin;
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_TIMEOUT));
    EXPECT_EQ(written, 0u);
    EXPECT_TRUE(printer_.Sink().empty());
    EXPECT_LT(took, std::chrono::seconds(5));
    // The channels stay open: the document can still be ended.
    EXPECT_TRUE(port_->connection.IsConnected());
    ASSERT_TRUE(EndDocPort(port_));
    EXPECT_EQ(spooler_.JobCommands().size(), 1u);
}

TEST_F(JobPath, StackProcessNotRunningFailsTheStartWith110) {
    StackProcess::Stop();
    ASSERT_FALSE(StackProcess::Running());
    SetLastError(0);
    EXPECT_FALSE(Start());
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_OPEN_FAILED));
    EXPECT_TRUE(spooler_.Opens().empty());
    EXPECT_EQ(g_stackBinding.module, nullptr);
    ASSERT_TRUE(StackProcess::Start());
    EXPECT_TRUE(Start());
    ASSERT_TRUE(EndDocPort(port_));
}

// After EndDocPort closed the printer handle, a write without StartDocPort finds it refused
// (6), re-opens the printer by the saved name and marks the handle error; the next ReadPort
// tears the port down.
TEST_F(JobPath, ReplacedPrinterHandleMakesTheNextReadPortResetThePort) {
    const std::vector<uint8_t> job = JobBytes(10000, 5);
    ASSERT_TRUE(Start());
    ASSERT_TRUE(SpoolerWrite(port_, job, 4096));
    ASSERT_TRUE(EndDocPort(port_));
    spooler_.Clear();

    ASSERT_TRUE(SpoolerWrite(port_, job, 4096));
    std::vector<OpenCall> opens = spooler_.Opens();
    ASSERT_EQ(opens.size(), 1u);
    EXPECT_EQ(opens[0].name, kPrinterName);
    EXPECT_EQ(port_->printer, opens[0].handle);
    ASSERT_NE(port_->printerName, nullptr);
    EXPECT_EQ(std::wstring(port_->printerName), kPrinterName);
    EXPECT_EQ(port_->status.printerHandleError, ERROR_INVALID_HANDLE);
    EXPECT_TRUE(port_->connection.IsConnected());

    BYTE back[64];
    DWORD read = 99;
    ReadPort(port_, back, sizeof(back), &read);
    EXPECT_EQ(port_->status.printerHandleError, 0);
    EXPECT_EQ(port_->connection.channelFlags, 0);
    EXPECT_EQ(port_->flags, 0u);
    EXPECT_EQ(port_->printerName, nullptr);
    EXPECT_EQ(spooler_.OpenHandleCount(), 0u);
    EXPECT_EQ(g_stackBinding.module, nullptr);
    EXPECT_EQ(port_->status.printerInfo, nullptr);
    EXPECT_TRUE(spooler_.JobCommands().empty());
    PortStatusPost cleared = LastPost();
    EXPECT_EQ(cleared.portName, kPortName);
    EXPECT_EQ(cleared.severity, 0u);
    std::vector<uint8_t> twice = job;
    twice.insert(twice.end(), job.begin(), job.end());
    EXPECT_TRUE(printer_.Sink() == twice);
}

TEST_F(JobPath, ReadPortDeliversBackChannelData) {
    ASSERT_TRUE(Start());
    const char reply[] = "@PJL INFO STATUS";
    QorlSim_QueueBackChannel(printer_.address, reply, sizeof(reply));
    QorlSim_WaitIdle(2000);
    BYTE back[256] = {};
    DWORD read = 0;
    for (int i = 0; i < 50 && read == 0; ++i) {
        ReadPort(port_, back, sizeof(back), &read);
        if (read == 0) {
            Sleep(20);
        }
    }
    ASSERT_EQ(read, sizeof(reply));
    EXPECT_EQ(memcmp(back, reply, sizeof(reply)), 0);
    ASSERT_TRUE(EndDocPort(port_));
}

TEST_F(JobPath, EndingOnePortsJobKeepsTheStackForAnotherPortStillPrinting) {
    SimPrinter other(0x66);
    ASSERT_TRUE(other.Add());
    PortRecord* second = AddPort(L"00:11:22:33:44:66.1", 0x66);
    ASSERT_NE(second, nullptr);
    spooler_.AddPrinter(L"Lab", L"00:11:22:33:44:66.1");
    const std::vector<uint8_t> a = JobBytes(30000, 6);
    const std::vector<uint8_t> b = JobBytes(30000, 7);
    ASSERT_TRUE(Start());
    ASSERT_TRUE(StartDocPort(second, const_cast<wchar_t*>(L"Lab"), 9, 1, nullptr));
    ASSERT_TRUE(SpoolerWrite(port_, a, 4096));
    ASSERT_TRUE(EndDocPort(port_));
    // The other port still has its channels: the library stays loaded under them.
    EXPECT_NE(g_stackBinding.module, nullptr);
    ASSERT_TRUE(SpoolerWrite(second, b, 4096));
    ASSERT_TRUE(EndDocPort(second));
    EXPECT_EQ(g_stackBinding.module, nullptr);
    EXPECT_TRUE(printer_.Sink() == a);
    EXPECT_TRUE(other.Sink() == b);
}

// Each port keeps its own status record: while one port's job holds its printer record,
// another port's status is posted under that other port's name, and one port's printer
// handle recovery resets only that port.
TEST_F(JobPath, EachPortPostsUnderItsOwnNameAndRecoversOnlyItself) {
    SimPrinter other(0x66);
    ASSERT_TRUE(other.Add());
    const wchar_t* otherName = L"00:11:22:33:44:66.1";
    PortRecord* second = AddPort(otherName, 0x66);
    ASSERT_NE(second, nullptr);
    spooler_.AddPrinter(L"Lab", otherName);
    const std::vector<uint8_t> a = JobBytes(20000, 8);
    const std::vector<uint8_t> b = JobBytes(20000, 9);
    ASSERT_TRUE(Start());
    ASSERT_TRUE(StartDocPort(second, const_cast<wchar_t*>(L"Lab"), 9, 1, nullptr));
    EXPECT_EQ(LastPost().portName, otherName);
    ASSERT_TRUE(SpoolerWrite(port_, a, 4096));
    ASSERT_TRUE(EndDocPort(port_));
    // A write after the end finds the closed handle refused and re-opens the printer.
    ASSERT_TRUE(SpoolerWrite(port_, a, 4096));
    ASSERT_EQ(port_->status.printerHandleError, ERROR_INVALID_HANDLE);
    EXPECT_EQ(second->status.printerHandleError, 0);

    spooler_.Clear();
    BYTE back[64];
    DWORD read = 0;
    ReadPort(second, back, sizeof(back), &read);
    // The other port's document goes on, and its status went out under its own name.
    EXPECT_NE(second->flags & PORT_DOC_STARTED, 0u);
    EXPECT_TRUE(second->connection.IsConnected());
    std::vector<PortStatusPost> posts = spooler_.StatusPosts();
    ASSERT_EQ(posts.size(), 1u);
    EXPECT_EQ(posts[0].portName, otherName);

    ReadPort(port_, back, sizeof(back), &read);
    EXPECT_EQ(port_->status.printerHandleError, 0);
    EXPECT_EQ(port_->connection.channelFlags, 0);
    ASSERT_TRUE(SpoolerWrite(second, b, 4096));
    ASSERT_TRUE(EndDocPort(second));
    EXPECT_TRUE(other.Sink() == b);
    EXPECT_EQ(spooler_.OpenHandleCount(), 0u);
}

struct BackgroundWrite {
    PortRecord* port;
    std::vector<uint8_t>* job;
    BOOL result;
    DWORD error;
    static DWORD WINAPI Run(LPVOID parameter) {
        auto* w = static_cast<BackgroundWrite*>(parameter);
        DWORD written = 0;
        w->result =
            WritePort(w->port, w->job->data(), static_cast<DWORD>(w->job->size()), &written);
        w->error = GetLastError();
        return 0;
    }
};

// A port that waits for credit holds only itself: the monitor's lists stay free, so the port
// can be taken off them meanwhile; its record lives until that write returns, and a handle
// to it is refused afterwards.
TEST_F(JobPath, PortTakenOffTheListWhileItsWriteWaitsLivesUntilTheWriteReturns) {
    printer_.config.creditPolicy = QORLSIM_CREDIT_NEVER;
    ASSERT_TRUE(printer_.Add());
    port_->connection.retryTimeoutMs = 3000;
    ASSERT_TRUE(Start());
    const uint32_t requestsBefore = printer_.Stats().controlRequests;
    std::vector<uint8_t> job = JobBytes(4096, 10);
    BackgroundWrite write = {port_, &job, TRUE, 0};
    HANDLE writer = CreateThread(nullptr, 0, BackgroundWrite::Run, &write, 0, nullptr);
    ASSERT_NE(writer, nullptr);
    for (int i = 0; i < 200 && printer_.Stats().controlRequests == requestsBefore; ++i) {
        Sleep(5);
    }
    ASSERT_GT(printer_.Stats().controlRequests, requestsBefore);
    {
        MonitorLockGuard lock;
        // Taken while the write still waits: nothing holds MonitorLock across the wait.
        EXPECT_EQ(WaitForSingleObject(writer, 0), static_cast<DWORD>(WAIT_TIMEOUT));
        ASSERT_TRUE(DeletePortRecord(monitor_, port_));
        EXPECT_EQ(monitor_->retiredPorts, port_);
    }
    ASSERT_EQ(WaitForSingleObject(writer, 20000), static_cast<DWORD>(WAIT_OBJECT_0));
    CloseHandle(writer);
    EXPECT_FALSE(write.result);
    EXPECT_EQ(write.error, static_cast<DWORD>(ERROR_TIMEOUT));
    // The write was the last use: the record is gone, its channels closed with it.
    EXPECT_EQ(monitor_->retiredPorts, nullptr);
    EXPECT_EQ(printer_.Stats().openChannels, 0u);
    DWORD written = 0;
    EXPECT_FALSE(WritePort(port_, job.data(), 4096, &written));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
}

} // namespace
} // namespace jobtest
