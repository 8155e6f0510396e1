// Several ports printing at once from several spooler threads while device-ID requests
// arrive on another thread and printers drop their links: every job ends complete, byte for
// byte, the failures on the way carry the documented errors, and nothing hangs.

#include <atomic>
#include <cstdio>
#include <functional>
#include <mutex>
#include <set>

#include "sim_fixture.h"

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

class Concurrency : public SimJob {
  protected:
    static constexpr int kPorts = 3;
    static constexpr int kJobsPerPort = 2;
    static constexpr size_t kJobSize = 96 * 1024;

    struct Lane {
        std::unique_ptr<SimPrinter> printer;
        PortRecord* port = nullptr;
        std::wstring printerName;
        std::vector<uint8_t> expected;
        bool completed = true;
        // Where the lane's spooler thread is, for the report when it does not finish.
        std::atomic<const char*> phase{"not started"};
        std::atomic<int> job{0};
        std::atomic<size_t> offset{0};
        std::atomic<int> calls{0};
        std::atomic<DWORD> lastError{0};
    };

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
        for (int job = 0; job < kJobsPerPort; ++job) {
            lane->job = job;
            lane->phase = "StartDocPort";
            std::vector<uint8_t> bytes = JobBytes(kJobSize, 100 + laneIndex * 10 + job);
            int tries = 0;
            while (!StartDocPort(lane->port, &lane->printerName[0], 10 + job, 1, nullptr)) {
                DWORD error = GetLastError();
                Note("StartDocPort", error);
                EXPECT_TRUE(error == 0 || error == ERROR_OPEN_FAILED) << error;
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

    std::mutex errorsLock_;
    std::set<std::string> errors_;
};

TEST_F(Concurrency, JobsDeviceIdRequestsAndDroppedLinksTogether) {
    g_deviceIdClock = FastClock;
    Lane lanes[kPorts];
    for (int i = 0; i < kPorts; ++i) {
        uint8_t last = static_cast<uint8_t>(0x60 + i);
        lanes[i].printer.reset(new SimPrinter(last));
        lanes[i].printer->deviceId = "MFG:Acme;MDL:Unit " + std::to_string(i) + ";";
        if (i == kPorts - 1) {
            // A slow printer with a small buffer: its port waits for credit, with the lock
            // held, while the other ports' links drop and come back.
            lanes[i].printer->config.bufferSize = 16384;
            lanes[i].printer->config.printSpeed = 100000;
        }
        ASSERT_TRUE(lanes[i].printer->Add());
        wchar_t name[32];
        swprintf(name, 32, L"00:11:22:33:44:%02x.1", last);
        lanes[i].port = AddPort(name, last);
        ASSERT_NE(lanes[i].port, nullptr);
        lanes[i].printerName = L"Printer " + std::to_wstring(i);
        spooler_.AddPrinter(lanes[i].printerName, name);
    }

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
                if (GetPrinterDataFromPort(lane.port, IOCTL_QUERY_DEVICE_ID, nullptr, nullptr, 0,
                                           reinterpret_cast<LPWSTR>(out), sizeof(out), &returned)) {
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
    std::atomic<int> drops{0};
    work.push_back([&] {
        for (int n = 0; printing && n < 12; ++n) {
            Sleep(150);
            lanes[n % kPorts].printer->DropLink();
            ++drops;
        }
    });

    std::vector<HANDLE> threads;
    for (auto& function : work) {
        threads.push_back(CreateThread(nullptr, 0, RunFunction, &function, 0, nullptr));
    }
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
    for (Lane& lane : lanes) {
        if (lane.port->deviceIdThread != nullptr) {
            WaitForSingleObject(lane.port->deviceIdThread, 20000);
        }
    }

    for (int i = 0; i < kPorts; ++i) {
        SCOPED_TRACE(testing::Message() << "port " << i);
        EXPECT_TRUE(lanes[i].completed);
        EXPECT_EQ(lanes[i].expected.size(), kJobSize * kJobsPerPort);
        std::vector<uint8_t> sink = lanes[i].printer->Sink();
        EXPECT_EQ(sink.size(), lanes[i].expected.size());
        EXPECT_TRUE(sink == lanes[i].expected);
        EXPECT_EQ(lanes[i].printer->Stats().creditViolations, 0u);
    }
    std::vector<JobCommand> jobs = spooler_.JobCommands();
    EXPECT_EQ(jobs.size(), static_cast<size_t>(kPorts * kJobsPerPort));
    for (const JobCommand& job : jobs) {
        EXPECT_EQ(job.command, static_cast<DWORD>(JOB_CONTROL_SENT_TO_PRINTER));
    }
    EXPECT_EQ(spooler_.OpenHandleCount(), 0u);
    std::printf("links dropped: %d, device IDs answered: %d\n", drops.load(), answered.load());
    for (const std::string& error : errors_) {
        std::printf("seen on the way: %s\n", error.c_str());
    }
}

} // namespace
} // namespace jobtest
