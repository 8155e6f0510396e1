// The device-ID query against a simulated printer: the pending first answer and its one
// worker, the cache and its 10-second life on a clock the test sets, growth for long IDs,
// the cache kept whole when a query fails, output sizes, and the legacy table's adapter.

#include <cstring>
#include <string>

#include "sim_fixture.h"

namespace jobtest {
namespace {

time_t g_now = 1000000;
time_t TestClock(time_t* out) {
    if (out != nullptr) {
        *out = g_now;
    }
    return g_now;
}

std::string IdOfLength(size_t length, char first) {
    std::string id = "MFG:Acme;MDL:";
    while (id.size() < length) {
        id += static_cast<char>(first + id.size() % 20);
    }
    id.resize(length);
    return id;
}

class DeviceId : public SimJob {
  protected:
    void SetUp() override {
        SimJob::SetUp();
        g_now = 1000000;
        g_deviceIdClock = TestClock;
    }

    BOOL Request(DWORD size, DWORD* returned, std::string* text = nullptr) {
        std::vector<char> out(size + 16, 'x');
        *returned = 0xDEADBEEF;
        SetLastError(0);
        BOOL ok = GetPrinterDataFromPort(port_, IOCTL_PAR_QUERY_DEVICE_ID, nullptr, nullptr, 0,
                                         reinterpret_cast<LPWSTR>(out.data()), size, returned);
        // Nothing beyond the size given is ever written.
        for (size_t i = size; i < out.size(); ++i) {
            EXPECT_EQ(out[i], 'x') << "byte " << i << " written past the output size";
        }
        if (text != nullptr) {
            *text = ok && *returned > 0 ? std::string(out.data(), *returned - 1) : "";
            if (ok && *returned > 0) {
                EXPECT_EQ(out[*returned - 1], '\0');
            }
        }
        return ok;
    }

    void WaitWorker() {
        if (port_->deviceIdThread != nullptr) {
            ASSERT_EQ(WaitForSingleObject(port_->deviceIdThread, 20000), WAIT_OBJECT_0);
        }
    }

    // The first request starts the worker; the ID is cached once it has run.
    std::string Fill() {
        DWORD returned = 0;
        EXPECT_FALSE(Request(2000, &returned));
        EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_IO_PENDING));
        WaitWorker();
        std::string text;
        EXPECT_TRUE(Request(2000, &returned, &text));
        return text;
    }

    // Back to a port that never had a cache (the last worker ended and forgotten).
    void ForgetCache() {
        WaitWorker();
        MonitorLockGuard lock;
        if (port_->deviceIdThread != nullptr) {
            CloseHandle(port_->deviceIdThread);
            port_->deviceIdThread = nullptr;
        }
        if (port_->deviceId != nullptr) {
            GlobalFree(port_->deviceId);
        }
        port_->deviceId = nullptr;
        port_->deviceIdSize = 0;
        port_->deviceIdTime = 0;
    }

    void ExpectTerminatedCache() {
        MonitorLockGuard lock;
        ASSERT_NE(port_->deviceId, nullptr);
        EXPECT_LT(strnlen(port_->deviceId, port_->deviceIdSize), port_->deviceIdSize);
    }
};

TEST_F(DeviceId, FirstRequestPendsWithOneWorkerThenTheCacheAnswers) {
    DWORD returned = 0;
    HANDLE worker = nullptr;
    {
        // The worker cannot run while the test holds the port's exchange lock.
        ExchangeLock exchange(port_->connection);
        EXPECT_FALSE(Request(200, &returned));
        EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_IO_PENDING));
        EXPECT_EQ(returned, 0u);
        worker = port_->deviceIdThread;
        ASSERT_NE(worker, nullptr);
        EXPECT_FALSE(Request(200, &returned));
        EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_IO_PENDING));
        EXPECT_EQ(port_->deviceIdThread, worker);
    }
    WaitWorker();
    std::string text;
    ASSERT_TRUE(Request(200, &returned, &text));
    EXPECT_EQ(text, printer_.deviceId);
    EXPECT_EQ(returned, printer_.deviceId.size() + 1);
    EXPECT_EQ(port_->deviceIdSize, DEVICE_ID_INITIAL_SIZE);
    EXPECT_EQ(port_->deviceIdTime, static_cast<int32_t>(g_now));
    // The worker connected, fetched, disconnected and released the stack.
    EXPECT_EQ(port_->connection.channelFlags, 0);
    EXPECT_EQ(g_stackBinding.module, nullptr);
    EXPECT_EQ(printer_.Stats().connections, 1u);
    // Answered from the cache: no exchange, no new worker.
    uint32_t requests = printer_.Stats().controlRequests;
    ASSERT_TRUE(Request(200, &returned, &text));
    EXPECT_EQ(printer_.Stats().controlRequests, requests);
    EXPECT_EQ(port_->deviceIdThread, worker);
}

TEST_F(DeviceId, OutputOfExactlyTheLengthPlusOneAndOneLess) {
    printer_.deviceId = IdOfLength(40, 'a');
    ASSERT_TRUE(printer_.Add());
    ASSERT_EQ(Fill(), printer_.deviceId);
    DWORD returned = 0;
    std::string text;
    EXPECT_TRUE(Request(41, &returned, &text));
    EXPECT_EQ(returned, 41u);
    EXPECT_EQ(text, printer_.deviceId);
    EXPECT_FALSE(Request(40, &returned));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER));
    EXPECT_EQ(returned, 0u);
    EXPECT_FALSE(Request(0, &returned));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER));
}

TEST_F(DeviceId, TenSecondsOldIsFreshElevenIsStale) {
    ASSERT_EQ(Fill(), printer_.deviceId);
    const std::string old = printer_.deviceId;
    HANDLE ended = port_->deviceIdThread;
    printer_.deviceId = "MFG:Acme;MDL:Laser 10;";
    ASSERT_TRUE(printer_.Add());

    g_now += 10;
    DWORD returned = 0;
    std::string text;
    ASSERT_TRUE(Request(200, &returned, &text));
    EXPECT_EQ(text, old);
    EXPECT_EQ(port_->deviceIdThread, ended);
    EXPECT_EQ(printer_.Stats().connections, 0u);

    // Stale on an idle port: the old ID now, a worker fetches the new one.
    g_now += 1;
    ASSERT_TRUE(Request(200, &returned, &text));
    EXPECT_EQ(text, old);
    // (The ended worker's handle was closed first; the new one may reuse its value.)
    ASSERT_NE(port_->deviceIdThread, nullptr);
    WaitWorker();
    EXPECT_EQ(printer_.Stats().connections, 1u);
    ASSERT_TRUE(Request(200, &returned, &text));
    EXPECT_EQ(text, printer_.deviceId);
    EXPECT_EQ(port_->connection.channelFlags, 0);
}

TEST_F(DeviceId, StaleCacheWhilePrintingIsRefreshedOnTheCallingThread) {
    ASSERT_EQ(Fill(), printer_.deviceId);
    ASSERT_TRUE(StartDocPort(port_, const_cast<wchar_t*>(kPrinterName), 3, 1, nullptr));
    uint32_t requests = printer_.Stats().controlRequests;
    g_now += 11;
    DWORD returned = 0;
    std::string text;
    ASSERT_TRUE(Request(200, &returned, &text));
    EXPECT_EQ(text, printer_.deviceId);
    EXPECT_GT(printer_.Stats().controlRequests, requests);
    EXPECT_EQ(port_->deviceIdTime, static_cast<int32_t>(g_now));
    // No worker thread: the ended one was closed and none started.
    EXPECT_EQ(port_->deviceIdThread, nullptr);
    EXPECT_TRUE(port_->connection.IsConnected());
    EXPECT_NE(g_stackBinding.module, nullptr);
    const std::vector<uint8_t> job = JobBytes(5000, 9);
    ASSERT_TRUE(SpoolerWrite(port_, job, 4096));
    ASSERT_TRUE(EndDocPort(port_));
    EXPECT_TRUE(printer_.Sink() == job);
}

// IDs around and beyond the first buffer of 263 bytes (length field included).
TEST_F(DeviceId, LongIdsGrowTheCacheAndArriveWhole) {
    struct Case {
        size_t textLength;
        uint32_t cacheSize;
    };
    const Case cases[] = {
        {261, 263},   // 263 with its length field: fits exactly
        {262, 265},   // 264: one byte too many for 263, grown rather than cut
        {300, 303},   // longer than the first buffer
        {1000, 1003}, // longer than one control reply
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << "ID of " << c.textLength << " characters");
        ForgetCache();
        printer_.deviceId = IdOfLength(c.textLength, 'A');
        ASSERT_TRUE(printer_.Add());
        EXPECT_EQ(Fill(), printer_.deviceId);
        EXPECT_EQ(port_->deviceIdSize, c.cacheSize);
        ExpectTerminatedCache();
    }
    // A grown cache is refreshed like any other.
    printer_.deviceId = IdOfLength(1000, 'a');
    ASSERT_TRUE(printer_.Add());
    g_now += 11;
    DWORD returned = 0;
    std::string text;
    ASSERT_TRUE(Request(2000, &returned, &text));
    WaitWorker();
    ASSERT_TRUE(Request(2000, &returned, &text));
    EXPECT_EQ(text, printer_.deviceId);
    ExpectTerminatedCache();
}

TEST_F(DeviceId, QueryThatStoresNothingKeepsTheCachedIdWhole) {
    ASSERT_EQ(Fill(), printer_.deviceId);
    int32_t stored = port_->deviceIdTime;
    // Every Get 1284 ID now answered with a failure status.
    printer_.Fault(QORLSIM_FAULT_RESPONSE_STATUS, 2, -1, 0x0006);
    g_now += 11;
    DWORD returned = 0;
    std::string text;
    ASSERT_TRUE(Request(200, &returned, &text));
    WaitWorker();
    ASSERT_TRUE(Request(200, &returned, &text));
    EXPECT_EQ(text, printer_.deviceId);
    EXPECT_EQ(port_->deviceIdTime, stored);
    ExpectTerminatedCache();

    // A longer ID now, but its replies arrive cut short, then refused: the old ID stays.
    QorlSim_ClearFaults(printer_.address);
    const std::string old = printer_.deviceId;
    printer_.deviceId = IdOfLength(400, 'k');
    ASSERT_TRUE(printer_.Add());
    printer_.Fault(QORLSIM_FAULT_RESPONSE_TOO_SHORT, 20, 1, 0x0006);
    printer_.Fault(QORLSIM_FAULT_RESPONSE_STATUS, 2, -1, 0x0006);
    ASSERT_TRUE(Request(200, &returned, &text));
    WaitWorker();
    ASSERT_TRUE(Request(200, &returned, &text));
    EXPECT_EQ(text, old);
    ExpectTerminatedCache();
}

TEST_F(DeviceId, WorkerThatCannotConnectLeavesNoCache) {
    printer_.Fault(QORLSIM_FAULT_CONNECT_REFUSED, 1, -1);
    DWORD returned = 0;
    EXPECT_FALSE(Request(200, &returned));
    ASSERT_NE(port_->deviceIdThread, nullptr);
    WaitWorker();
    EXPECT_EQ(port_->deviceId, nullptr);
    // The ended worker is noticed, no new one yet; the request after starts one.
    EXPECT_FALSE(Request(200, &returned));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_IO_PENDING));
    EXPECT_EQ(port_->deviceIdThread, nullptr);
    QorlSim_ClearFaults(printer_.address);
    EXPECT_FALSE(Request(200, &returned));
    ASSERT_NE(port_->deviceIdThread, nullptr);
    WaitWorker();
    std::string text;
    EXPECT_TRUE(Request(200, &returned, &text));
    EXPECT_EQ(text, printer_.deviceId);
}

// The legacy table: its adapter brings the 8-bit ID back into the caller's buffer.
TEST_F(DeviceId, LegacyTableReturnsTheIdInTheCallersBuffer) {
    HKEY key = nullptr;
    ASSERT_EQ(RegCreateKeyExA(HKEY_LOCAL_MACHINE, "Software\\PrnlinkJobTest", 0, nullptr, 0,
                              KEY_ALL_ACCESS, nullptr, &key, nullptr),
              ERROR_SUCCESS);
    RegCloseKey(key);
    LegacyMonitorTable legacy = {};
    ASSERT_TRUE(InitializeMonitorEx(const_cast<char*>("Software\\PrnlinkJobTest"), &legacy));
    MonitorHandle* legacyMonitor = g_monitorHandle;
    ASSERT_NE(legacy.pfnGetPrinterDataFromPort, nullptr);
    printer_.deviceId = IdOfLength(40, 'q');
    ASSERT_TRUE(printer_.Add());

    char out[64];
    DWORD returned = 0;
    EXPECT_FALSE(legacy.pfnGetPrinterDataFromPort(port_, IOCTL_PAR_QUERY_DEVICE_ID, nullptr,
                                                  nullptr, 0, out, 41, &returned));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_IO_PENDING));
    WaitWorker();
    memset(out, 'x', sizeof(out));
    ASSERT_TRUE(legacy.pfnGetPrinterDataFromPort(port_, IOCTL_PAR_QUERY_DEVICE_ID, nullptr, nullptr,
                                                 0, out, 41, &returned));
    EXPECT_EQ(returned, 41u);
    EXPECT_EQ(std::string(out), printer_.deviceId);
    EXPECT_EQ(out[41], 'x');

    memset(out, 'x', sizeof(out));
    EXPECT_FALSE(legacy.pfnGetPrinterDataFromPort(port_, IOCTL_PAR_QUERY_DEVICE_ID, nullptr,
                                                  nullptr, 0, out, 40, &returned));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER));
    EXPECT_EQ(returned, 0u);
    EXPECT_EQ(out[0], 'x');
    Shutdown(legacyMonitor);
    RegDeleteKeyA(HKEY_LOCAL_MACHINE, "Software\\PrnlinkJobTest");
}

} // namespace
} // namespace jobtest
