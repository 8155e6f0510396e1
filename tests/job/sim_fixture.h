#pragma once
// A monitor with one port on a simulated printer, the stack process running.

#include <algorithm>

#include "job_fixture.h"
#include "sim_stack.h"

namespace jobtest {

class SimJob : public MonitorFixture {
  protected:
    static void SetUpTestSuite() { ASSERT_TRUE(StackProcess::Start()); }
    static void TearDownTestSuite() { StackProcess::Stop(); }

    void SetUp() override {
        MonitorFixture::SetUp();
        ASSERT_TRUE(StackProcess::Running());
        QorlSim_Reset();
        printer_.deviceId = "MFG:Acme;MDL:Laser 9;CMD:PCL,PJL;";
        ASSERT_TRUE(printer_.Add());
        port_ = AddPort(kPortName, 0x55);
        ASSERT_NE(port_, nullptr);
        spooler_.AddPrinter(kPrinterName, kPortName);
    }

    void TearDown() override {
        // Every call has returned: the list stands still.
        for (PortRecord* port = monitor_->ports; port != nullptr; port = port->next) {
            ExchangeLock exchange(port->connection);
            port->connection.Disconnect();
        }
        MonitorFixture::TearDown();
        QorlSim_WaitIdle(2000);
        QorlSim_Reset();
    }

    // Writes the way the spooler does: chunk by chunk, going on from what was written after
    // a failure, giving up after maxFailures failed calls.
    bool SpoolerWrite(PortRecord* port, const std::vector<uint8_t>& data, size_t chunk,
                      int maxFailures = 0, DWORD* lastError = nullptr) {
        size_t offset = 0;
        int failures = 0;
        while (offset < data.size()) {
            DWORD size = static_cast<DWORD>(std::min(chunk, data.size() - offset));
            DWORD written = 0;
            BOOL ok = WritePort(port, const_cast<BYTE*>(data.data() + offset), size, &written);
            EXPECT_LE(written, size);
            offset += written;
            if (!ok) {
                if (lastError != nullptr) {
                    *lastError = GetLastError();
                }
                if (++failures > maxFailures) {
                    return false;
                }
            } else {
                EXPECT_EQ(written, size);
            }
        }
        return true;
    }

    PortStatusPost LastPost() {
        std::vector<PortStatusPost> posts = spooler_.StatusPosts();
        return posts.empty() ? PortStatusPost{L"<none>", 0xFFFF, false, L"", 0xFFFF} : posts.back();
    }

    static constexpr const wchar_t* kPortName = L"00:11:22:33:44:55.1";
    static constexpr const wchar_t* kPrinterName = L"Office";
    SimPrinter printer_{0x55};
    PortRecord* port_ = nullptr;
};

} // namespace jobtest
