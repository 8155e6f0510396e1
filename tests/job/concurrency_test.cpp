// Four ports printing at once on eight spooler threads: one thread per port printing its
// jobs, and others asking for device IDs, enumerating the ports and making Xcv calls, while
// one printer's links drop, one is slow to give credit, one answers late and one goes silent
// once. Every job ends complete, byte for byte; the failures on the way carry the documented
// errors; every status post names the port whose thread made it; nothing hangs or leaks.

#include <atomic>
#include <cstdio>
#include <functional>
#include <map>
#include <mutex>
#include <set>

#include "ports/spooler_ports.h"
#include "sim_fixture.h"
#include "support/handle_count.h"
#include "support/hcrpdb_writer.h"

namespace jobtest {
namespace {

std::atomic<uint32_t> g_ticks{0};
// A clock that moves four seconds on every reading, so the cache goes stale every third
// request and refreshes run on both the calling threads and workers.
time_t FastClock(time_t* out) {
    time_t now = 2000000 + 4 * static_cast<time_t>(g_ticks.fetch_add(1));
    if (out != nullptr) {
        *out = now;
    }
    return now;
}

DWORD WINAPI RunFunction(LPVOID parameter) {
    (*static_cast<std::function<void()>*>(parameter))();
    return 0;
}

HANDLE g_enumMonitor = nullptr;
Monitor2Table* g_enumTable = nullptr;

// The spooler's port list as Xcv "PortExists" asks it: this monitor's EnumPorts.
BOOL WINAPI SpoolerEnumPorts(LPWSTR name, DWORD level, LPBYTE ports, DWORD size, LPDWORD needed,
                             LPDWORD returned) {
    return g_enumTable->pfnEnumPorts(g_enumMonitor, name, level, ports, size, needed, returned);
}

class Concurrency : public SimJob {
  protected:
    static constexpr int kPorts = 4;
    static constexpr int kJobsPerPort = 2;
    static constexpr size_t kJobSize = 96 * 1024;
    enum Behaviour { kDropsLinks, kSlowCredit, kAnswersLate, kGoesSilent };

    struct Lane {
        std::unique_ptr<SimPrinter> printer;
        PortRecord* port = nullptr;
        std::wstring printerName;
        std::vector<uint8_t> expected;
        bool completed = true;
        std::atomic<DWORD> threadId{0};
        // Where the lane's spooler thread is, for the report when it does not finish.
        std::atomic<const char*> phase{"not started"};
        std::atomic<int> job{0};
        std::atomic<size_t> offset{0};
        std::atomic<int> calls{0};
        std::atomic<DWORD> lastError{0};
    };

    void SetUp() override {
        SimJob::SetUp();
        savedEnumPorts_ = g_spoolerPortList.enumPorts;
        g_enumMonitor = handle_;
        g_enumTable = table_;
        g_spoolerPortList.enumPorts = SpoolerEnumPorts;
    }

    void TearDown() override {
        g_spoolerPortList.enumPorts = savedEnumPorts_;
        testsupport::RemoveDatabase();
        SimJob::TearDown();
    }

    // What each lane was doing, for a run whose spooler threads did not finish.
    static void ReportLanes(Lane* lanes, int count) {
        for (int i = 0; i < count; ++i) {
            QorlSimStats stats = lanes[i].printer->Stats();
            std::printf("lane %d: %s, job %d, offset %u, flags %u, channels %ld, printer "
                        "channels %u, sink %u, calls %d, last error %lu\n",
                        i, lanes[i].phase.load(), lanes[i].job.load(),
                        static_cast<unsigned>(lanes[i].offset.load()),
                        static_cast<unsigned>(lanes[i].port->flags),
                        lanes[i].port->connection.channelFlags, stats.openChannels,
                        stats.creditUsed, lanes[i].calls.load(), lanes[i].lastError.load());
        }
        std::fflush(stdout);
    }

    // Errors a spooler thread may see on the way; anything else is a fault.
    void Note(const char* where, DWORD error) {
        std::lock_guard<std::mutex> lock(errorsLock_);
        errors_.insert(std::string(where) + " " + std::to_string(error));
    }

    // One spooler thread: its port's jobs one after the other, retrying as the spooler
    // does until each completes.
    void PrintJobs(Lane* lane, int laneIndex) {
        lane->threadId = GetCurrentThreadId();
        for (int job = 0; job < kJobsPerPort; ++job) {
            lane->job = job;
            lane->phase = "StartDocPort";
            std::vector<uint8_t> bytes = JobBytes(kJobSize, 100 + laneIndex * 10 + job);
            int tries = 0;
            while (!StartDocPort(lane->port, &lane->printerName[0], 10 + job, 1, nullptr)) {
                DWORD error = GetLastError();
                Note("StartDocPort", error);
                // 0: not ready; 110: no link; 1460: no answer to the status query.
                EXPECT_TRUE(error == 0 || error == ERROR_OPEN_FAILED || error == ERROR_TIMEOUT)
                    << error;
                // Channels left without a document: the spooler closes the port.
                ClosePort(lane->port);
                Sleep(10);
                if (++tries > 200) {
                    lane->completed = false;
                    return;
                }
            }
            size_t offset = 0;
            tries = 0;
            lane->phase = "WritePort";
            while (offset < bytes.size()) {
                DWORD size = static_cast<DWORD>(std::min<size_t>(4096, bytes.size() - offset));
                DWORD written = 0;
                SetLastError(0);
                BOOL ok = WritePort(lane->port, bytes.data() + offset, size, &written);
                offset += written;
                lane->offset = offset;
                ++lane->calls;
                if (!ok) {
                    DWORD error = GetLastError();
                    lane->lastError = error;
                    Note("WritePort", error);
                    // The link went (1167), no reconnection (110), no answer (1460), or the
                    // status could not be read while the link went (left unset).
                    EXPECT_TRUE(error == ERROR_DEVICE_NOT_CONNECTED || error == ERROR_OPEN_FAILED ||
                                error == ERROR_TIMEOUT || error == 0)
                        << error;
                    Sleep(5);
                    if (++tries > 500) {
                        lane->completed = false;
                        return;
                    }
                }
            }
            tries = 0;
            lane->phase = "EndDocPort";
            while (!EndDocPort(lane->port)) {
                DWORD error = GetLastError();
                Note("EndDocPort", error);
                EXPECT_EQ(error, static_cast<DWORD>(ERROR_INVALID_HANDLE));
                // The link went: a write of nothing reconnects, then the document can end.
                DWORD written = 0;
                WritePort(lane->port, bytes.data(), 0, &written);
                if (++tries > 200) {
                    lane->completed = false;
                    return;
                }
            }
            lane->expected.insert(lane->expected.end(), bytes.begin(), bytes.end());
        }
        lane->phase = "done";
    }

    // The Printers folder: every port listed, at levels 1 and 2.
    void Enumerate(Lane* lanes) {
        std::vector<BYTE> buffer(16 * 1024);
        for (DWORD level : {1u, 2u}) {
            DWORD needed = 0;
            DWORD returned = 0;
            ASSERT_TRUE(EnumPorts(handle_, nullptr, level, buffer.data(),
                                  static_cast<DWORD>(buffer.size()), &needed, &returned));
            std::set<std::wstring> names;
            for (DWORD i = 0; i < returned; ++i) {
                names.insert(level == 1
                                 ? reinterpret_cast<PORT_INFO_1W*>(buffer.data())[i].pName
                                 : reinterpret_cast<PORT_INFO_2W*>(buffer.data())[i].pPortName);
            }
            for (int i = 0; i < kPorts; ++i) {
                EXPECT_EQ(names.count(lanes[i].port->name), 1u) << "level " << level;
            }
        }
    }

    // The Ports tab: Xcv commands on a handle of the monitor.
    void Administer(HANDLE xcv, Lane* lanes, int round) {
        std::wstring name = lanes[round % kPorts].port->name;
        DWORD needed = 0;
        DWORD exists = 0;
        EXPECT_EQ(XcvDataPort(xcv, L"PortExists", reinterpret_cast<BYTE*>(&name[0]),
                              static_cast<DWORD>((name.size() + 1) * sizeof(wchar_t)),
                              reinterpret_cast<BYTE*>(&exists), sizeof(exists), &needed),
                  static_cast<DWORD>(ERROR_SUCCESS));
        EXPECT_EQ(exists, 1u);
        EXPECT_EQ(XcvDataPort(xcv, L"PortIsValid", reinterpret_cast<BYTE*>(&name[0]),
                              static_cast<DWORD>((name.size() + 1) * sizeof(wchar_t)), nullptr, 0,
                              &needed),
                  static_cast<DWORD>(ERROR_SUCCESS));
        DWORD timeout = 0;
        EXPECT_EQ(XcvDataPort(xcv, L"GetTransmissionRetryTimeout", nullptr, 0,
                              reinterpret_cast<BYTE*>(&timeout), sizeof(timeout), &needed),
                  static_cast<DWORD>(ERROR_SUCCESS));
    }

    EnumPortsWFunction savedEnumPorts_ = nullptr;
    std::mutex errorsLock_;
    std::set<std::string> errors_;
};

TEST_F(Concurrency, JobsDeviceIdsEnumerationAndXcvWhilePrintersMisbehave) {
    g_deviceIdClock = FastClock;
    Lane lanes[kPorts];
    std::vector<testsupport::DeviceEntry> records;
    for (int i = 0; i < kPorts; ++i) {
        uint8_t last = static_cast<uint8_t>(0x60 + i);
        lanes[i].printer.reset(new SimPrinter(last));
        SimPrinter& printer = *lanes[i].printer;
        printer.deviceId = "MFG:Acme;MDL:Unit " + std::to_string(i) + ";";
        if (i == kSlowCredit) {
            // A small buffer drained slowly: its port keeps waiting for credit.
            printer.config.bufferSize = 16384;
            printer.config.printSpeed = 100000;
        }
        ASSERT_TRUE(printer.Add());
        if (i == kAnswersLate) {
            printer.Fault(QORLSIM_FAULT_RESPONSE_DELAY, 400, 12);
        }
        if (i == kGoesSilent) {
            // One line-status request never answered: that call waits out the response
            // time-out. (A credit response lost would leave the printer's books holding
            // credit the port never got, until the next connection.)
            printer.Fault(QORLSIM_FAULT_RESPONSE_LOST, 0, 1, 0x0005);
        }
        wchar_t name[32];
        swprintf(name, 32, L"00:11:22:33:44:%02x.1", last);
        lanes[i].port = AddPort(name, last);
        ASSERT_NE(lanes[i].port, nullptr);
        // The events a port's first connection makes and keeps for the port's life, made
        // here so that the handle count below compares like with like.
        lanes[i].port->connection.CreateEvents();
        lanes[i].printerName = L"Printer " + std::to_wstring(i);
        spooler_.AddPrinter(lanes[i].printerName, name);
        testsupport::DeviceEntry record = testsupport::MakeEntry(0, std::string(name, name + 19));
        memcpy(record.address, printer.address, 6);
        records.push_back(record);
    }
    // The ports are the file's printers, so enumeration keeps them (the fixture's own too).
    testsupport::DeviceEntry fixturePort = testsupport::MakeEntry(0, "00:11:22:33:44:55.1");
    memcpy(fixturePort.address, printer_.address, 6);
    records.push_back(fixturePort);
    ASSERT_TRUE(testsupport::WriteDatabase(records));
    HANDLE xcv = nullptr;
    ASSERT_TRUE(XcvOpenPort(handle_, L"", SERVER_ACCESS_ADMINISTER, &xcv));

    std::atomic<bool> printing{true};
    std::vector<std::function<void()>> work;
    for (int i = 0; i < kPorts; ++i) {
        work.push_back([this, &lanes, i] { PrintJobs(&lanes[i], i); });
    }
    std::atomic<int> answered{0};
    work.push_back([&] {
        char out[256];
        while (printing) {
            for (Lane& lane : lanes) {
                DWORD returned = 0;
                if (GetPrinterDataFromPort(lane.port, IOCTL_PAR_QUERY_DEVICE_ID, nullptr, nullptr,
                                           0, reinterpret_cast<LPWSTR>(out), sizeof(out),
                                           &returned)) {
                    if (returned > 0) {
                        EXPECT_EQ(std::string(out), lane.printer->deviceId);
                        ++answered;
                    }
                } else {
                    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_IO_PENDING));
                }
            }
            Sleep(15);
        }
    });
    std::atomic<int> enumerations{0};
    work.push_back([&] {
        while (printing) {
            Enumerate(lanes);
            ++enumerations;
            Sleep(20);
        }
    });
    std::atomic<int> administered{0};
    work.push_back([&] {
        for (int round = 0; printing; ++round) {
            Administer(xcv, lanes, round);
            ++administered;
            Sleep(25);
        }
    });
    std::atomic<int> drops{0};
    work.push_back([&] {
        for (int n = 0; printing && n < 8; ++n) {
            Sleep(150);
            lanes[kDropsLinks].printer->DropLink();
            ++drops;
        }
    });

    // The stand-in's printers start threads of their own, which may still be starting here.
    const size_t handlesBefore = testsupport::SteadyOpenHandleCount();
    std::vector<HANDLE> threads;
    for (auto& function : work) {
        threads.push_back(CreateThread(nullptr, 0, RunFunction, &function, 0, nullptr));
    }
    ASSERT_EQ(threads.size(), 8u);
    DWORD waited = WaitForMultipleObjects(kPorts, threads.data(), TRUE, 120000);
    printing = false;
    if (waited == WAIT_TIMEOUT) {
        ReportLanes(lanes, kPorts);
        // The threads still use this frame: leave the process rather than return from it,
        // and take the stack process along, which the suite's tear-down would have ended.
        ADD_FAILURE() << "spooler threads did not finish";
        std::fflush(stdout);
        StackProcess::Stop();
        ExitProcess(1);
    }
    ASSERT_EQ(
        WaitForMultipleObjects(static_cast<DWORD>(threads.size()), threads.data(), TRUE, 30000),
        WAIT_OBJECT_0);
    for (HANDLE thread : threads) {
        CloseHandle(thread);
    }
    // The last workers end without MonitorLock held here (they take it to store an ID).
    for (Lane& lane : lanes) {
        if (lane.port->deviceIdThread != nullptr) {
            EXPECT_EQ(WaitForSingleObject(lane.port->deviceIdThread, 20000), WAIT_OBJECT_0);
            MonitorLockGuard lock;
            CloseHandle(lane.port->deviceIdThread);
            lane.port->deviceIdThread = nullptr;
        }
    }
    EXPECT_TRUE(XcvClosePort(xcv));
    const size_t handlesAfter = testsupport::CountOpenHandles();

    std::map<DWORD, std::wstring> portOfThread;
    for (int i = 0; i < kPorts; ++i) {
        SCOPED_TRACE(testing::Message() << "port " << i);
        EXPECT_TRUE(lanes[i].completed);
        EXPECT_EQ(lanes[i].expected.size(), kJobSize * kJobsPerPort);
        std::vector<uint8_t> sink = lanes[i].printer->Sink();
        EXPECT_EQ(sink.size(), lanes[i].expected.size());
        EXPECT_TRUE(sink == lanes[i].expected);
        EXPECT_EQ(lanes[i].printer->Stats().creditViolations, 0u);
        portOfThread[lanes[i].threadId] = lanes[i].port->name;
    }
    std::vector<PortStatusPost> posts = spooler_.StatusPosts();
    EXPECT_FALSE(posts.empty());
    for (const PortStatusPost& post : posts) {
        ASSERT_EQ(portOfThread.count(post.threadId), 1u) << "a post from a thread of no port";
        EXPECT_EQ(post.portName, portOfThread[post.threadId]);
    }
    std::vector<JobCommand> jobs = spooler_.JobCommands();
    EXPECT_EQ(jobs.size(), static_cast<size_t>(kPorts * kJobsPerPort));
    for (const JobCommand& job : jobs) {
        EXPECT_EQ(job.command, static_cast<DWORD>(JOB_CONTROL_SENT_TO_PRINTER));
    }
    EXPECT_EQ(spooler_.OpenHandleCount(), 0u);
    // The run makes thousands of calls; what stays open is a few handles of the simulated
    // stack's and the spooler library's own (4 in every run seen), never one per call.
    EXPECT_LE(handlesAfter, handlesBefore + 8);
    EXPECT_GT(enumerations.load(), 0);
    EXPECT_GT(administered.load(), 0);
    std::printf("links dropped: %d, device IDs answered: %d, enumerations: %d, Xcv rounds: %d, "
                "handles %u -> %u\n",
                drops.load(), answered.load(), enumerations.load(), administered.load(),
                static_cast<unsigned>(handlesBefore), static_cast<unsigned>(handlesAfter));
    for (const std::string& error : errors_) {
        std::printf("seen on the way: %s\n", error.c_str());
    }
}

// A port dropped by enumeration while its channels are open is disconnected after
// MonitorLock is released: a stack slow to tear the link down holds up only the thread
// that dropped the port, not another that enumerates and opens another port meanwhile.
TEST_F(Concurrency, DisconnectOfADroppedPortHoldsUpNoOtherCall) {
    constexpr DWORD kLateMs = 1000;
    SimPrinter other(0x66);
    ASSERT_TRUE(other.Add());
    const wchar_t* otherName = L"00:11:22:33:44:66.1";
    ASSERT_NE(AddPort(otherName, 0x66), nullptr);
    testsupport::DeviceEntry otherRecord = testsupport::MakeEntry(0, "Other Printer");
    const uint8_t otherAddress[6] = {0x00, 0x11, 0x22, 0x33, 0x44, 0x66};
    memcpy(otherRecord.address, otherAddress, 6);
    // The database lists only the other printer: the next enumeration drops port_.
    ASSERT_TRUE(testsupport::WriteDatabase({otherRecord}));
    ASSERT_TRUE(StartDocPort(port_, const_cast<wchar_t*>(kPrinterName), 7, 1, nullptr));
    ASSERT_NE(port_->connection.channelFlags, 0u);
    printer_.Fault(QORLSIM_FAULT_DISCONNECT_DELAY, kLateMs, 1, 0, 0, QORLSIM_CONTROL);

    DWORD needed = 0;
    DWORD returned = 0;
    std::atomic<DWORD> droppingMs{0};
    std::function<void()> dropping = [&] {
        DWORD start = GetTickCount();
        EnumPorts(handle_, nullptr, 1, nullptr, 0, &needed, &returned);
        droppingMs = static_cast<DWORD>(GetTickCount() - start);
    };
    HANDLE thread = CreateThread(nullptr, 0, RunFunction, &dropping, 0, nullptr);
    ASSERT_NE(thread, nullptr);
    Sleep(kLateMs / 4); // inside the slow disconnect by now
    DWORD start = GetTickCount();
    DWORD otherNeeded = 0;
    DWORD otherReturned = 0;
    EnumPorts(handle_, nullptr, 1, nullptr, 0, &otherNeeded, &otherReturned);
    const DWORD enumerationMs = static_cast<DWORD>(GetTickCount() - start);
    start = GetTickCount();
    HANDLE opened = nullptr;
    EXPECT_TRUE(OpenPort(handle_, const_cast<wchar_t*>(otherName), &opened));
    const DWORD openMs = static_cast<DWORD>(GetTickCount() - start);
    ASSERT_EQ(WaitForSingleObject(thread, 10000), WAIT_OBJECT_0);
    CloseHandle(thread);
    EXPECT_GE(droppingMs.load(), kLateMs * 3 / 4) << "the disconnect was not slow";
    // Held up, either would have waited for most of the second.
    EXPECT_LT(enumerationMs, kLateMs / 2);
    EXPECT_LT(openMs, kLateMs / 2);
    EXPECT_EQ(FindPortRecord(monitor_->ports, kPortName), nullptr);
    port_ = nullptr; // freed with its connection
    ClosePort(opened);
}

} // namespace
} // namespace jobtest
