// The transport against the simulated printers of the stand-in QORLIB.DLL: bulk transfer
// under a small credit window, back-channel data, and several ports at once on several
// threads while printers misbehave.

#include <gtest/gtest.h>

#include <atomic>
#include <cstdio>
#include <memory>
#include <random>
#include <thread>

#include "entry/monitor.h"
#include "standin_binding.h"

namespace {

const uint8_t kPrinter[6] = {0x00, 0x11, 0x22, 0x33, 0x44, 0x55};

class StandIn : public ::testing::Test {
  protected:
    static void SetUpTestSuite() { MonitorLockInitialize(); }
    void SetUp() override {
        QorlSim_Reset();
        BindStandIn();
    }
    void TearDown() override {
        QorlSim_WaitIdle(2000);
        UnbindStandIn();
        QorlSim_Reset();
    }
};

TEST_F(StandIn, TenMebibytesThroughAFourKilobyteCreditWindow) {
    QorlSimPrinterConfig config = StandInPrinter(kPrinter);
    config.creditPolicy = QORLSIM_CREDIT_WINDOW;
    config.bufferSize = 4096;
    ASSERT_EQ(0, QorlSim_AddPrinter(&config));
    StandInPort port(kPrinter);
    const std::vector<uint8_t> data = Pattern(10u << 20, 1);

    MonitorLockGuard lock;
    ASSERT_EQ(1, port->Connect());
    uint32_t sent = 0;
    const DWORD start = GetTickCount();
    const int result = port->Write(data.data(), static_cast<uint32_t>(data.size()), &sent);
    const DWORD elapsed = GetTickCount() - start;
    EXPECT_EQ(1, result);
    EXPECT_EQ(data.size(), sent);
    port->Disconnect();
    QorlSim_WaitIdle(2000);

    const QorlSimStats stats = StatsOf(kPrinter);
    EXPECT_EQ(0u, stats.creditViolations);
    EXPECT_EQ(0u, stats.mtuViolations);
    EXPECT_EQ(0u, stats.malformedRequests);
    EXPECT_EQ(data.size(), stats.creditUsed);
    const std::vector<uint8_t> sink = SinkOf(kPrinter);
    ASSERT_EQ(data.size(), sink.size());
    EXPECT_TRUE(sink == data);
    printf("10 MiB in %lu ms (%.0f KB/s), %u control requests\n", elapsed,
           elapsed ? data.size() / 1.024 / elapsed : 0.0, stats.controlRequests);
}

TEST_F(StandIn, BackChannelDataReachesReadInOrder) {
    const QorlSimPrinterConfig config = StandInPrinter(kPrinter);
    ASSERT_EQ(0, QorlSim_AddPrinter(&config));
    StandInPort port(kPrinter);
    {
        MonitorLockGuard lock;
        ASSERT_EQ(1, port->Connect());
    }
    // More than the 512 bytes granted at connection: the rest only flows on the credit that
    // each Read grants.
    const std::vector<uint8_t> expected = Pattern(5000, 2);
    ASSERT_EQ(0, QorlSim_QueueBackChannel(kPrinter, expected.data(),
                                          static_cast<uint32_t>(expected.size())));
    std::vector<uint8_t> received;
    uint8_t buffer[300];
    const DWORD start = GetTickCount();
    while (received.size() < expected.size() && GetTickCount() - start < 10000) {
        uint32_t count = 0;
        MonitorLockGuard lock;
        if (port->Read(buffer, sizeof(buffer), &count)) {
            received.insert(received.end(), buffer, buffer + count);
        } else {
            Sleep(1);
        }
    }
    EXPECT_TRUE(received == expected) << received.size() << " bytes read";
    MonitorLockGuard lock;
    port->Disconnect();
    EXPECT_EQ(0u, StatsOf(kPrinter).backChannelPending);
}

// A printer that drops the data channel in the middle of a job: the Write fails and says how
// much went out, and exactly that much reached the printer.
TEST_F(StandIn, ChannelDroppedMidWrite) {
    const QorlSimPrinterConfig config = StandInPrinter(kPrinter);
    ASSERT_EQ(0, QorlSim_AddPrinter(&config));
    QorlSimFault drop{QORLSIM_FAULT_CHANNEL_DROP, QORLSIM_DATA, EVENT_DISCONNECTED, 1, 0, 0, 20000};
    ASSERT_EQ(0, QorlSim_SetFault(kPrinter, &drop));
    StandInPort port(kPrinter);
    const std::vector<uint8_t> data = Pattern(100000, 3);
    MonitorLockGuard lock;
    ASSERT_EQ(1, port->Connect());
    uint32_t sent = 0;
    EXPECT_EQ(0, port->Write(data.data(), static_cast<uint32_t>(data.size()), &sent));
    EXPECT_GE(sent, 20000u);
    EXPECT_LT(sent, data.size());
    QorlSim_WaitIdle(2000);
    EXPECT_EQ(CONTROL_OPEN, static_cast<uint32_t>(port->channelFlags));
    const std::vector<uint8_t> sink = SinkOf(kPrinter);
    ASSERT_EQ(sent, sink.size());
    EXPECT_TRUE(std::equal(sink.begin(), sink.end(), data.begin()));
    // The half-open pair is opened afresh and the rest goes through.
    ASSERT_EQ(1, port->Connect());
    uint32_t rest = 0;
    EXPECT_EQ(1, port->Write(data.data() + sent, static_cast<uint32_t>(data.size() - sent), &rest));
    port->Disconnect();
    EXPECT_TRUE(SinkOf(kPrinter) == data);
}

// Printers that answer twice, answer with a parameter length beyond the packet, or cut an
// answer short: each broken answer fails at most the one request it belongs to, at once, and
// the port goes on working.
TEST_F(StandIn, BrokenAnswersCostOneRequestAtMost) {
    // A fixed grant: a window printer would count the credit of the answer the monitor
    // refuses as outstanding for good.
    QorlSimPrinterConfig config = StandInPrinter(kPrinter);
    config.creditPolicy = QORLSIM_CREDIT_FIXED;
    config.creditAmount = 8192;
    ASSERT_EQ(0, QorlSim_AddPrinter(&config));
    const QorlSimFault duplicated{QORLSIM_FAULT_RESPONSE_DUPLICATED, 0, 0, -1, 0, 0, 0};
    ASSERT_EQ(0, QorlSim_SetFault(kPrinter, &duplicated));
    StandInPort port(kPrinter);
    const std::vector<uint8_t> data = Pattern(50000, 4);
    MonitorLockGuard lock;
    ASSERT_EQ(1, port->Connect());
    uint8_t status = 0;
    EXPECT_EQ(1, port->GetLPTStatus(&status));
    EXPECT_EQ(0x18, status);
    uint32_t sent = 0;
    EXPECT_EQ(1, port->Write(data.data(), 25000, &sent));

    ASSERT_EQ(0, QorlSim_ClearFaults(kPrinter));
    const QorlSimFault overlong{
        QORLSIM_FAULT_RESPONSE_BAD_PARAM_LENGTH, 0, 0x00FF, 1, PDU_CREDIT_REQUEST, 0, 0};
    ASSERT_EQ(0, QorlSim_SetFault(kPrinter, &overlong));
    const QorlSimFault truncated{
        QORLSIM_FAULT_RESPONSE_TOO_SHORT, 0, 5, 1, PDU_GET_LPT_STATUS, 0, 0};
    ASSERT_EQ(0, QorlSim_SetFault(kPrinter, &truncated));
    const DWORD start = GetTickCount();
    port->sendCredit = 0;
    uint32_t none = 0;
    EXPECT_EQ(0, port->Write(data.data() + 25000, 25000, &none));
    EXPECT_EQ(0u, none);
    EXPECT_EQ(0, port->GetLPTStatus(&status));
    EXPECT_LT(GetTickCount() - start, 2000u);
    EXPECT_EQ(1, port->Write(data.data() + 25000, 25000, &sent));
    EXPECT_EQ(1, port->GetLPTStatus(&status));
    port->Disconnect();
    QorlSim_WaitIdle(2000);
    EXPECT_TRUE(SinkOf(kPrinter) == data);
    EXPECT_EQ(0u, StatsOf(kPrinter).creditViolations);
}

// Several ports, each driven by its own thread under MonitorLock, while a further thread
// makes their printers send unsolicited control and data packets and drop channels.
TEST_F(StandIn, SeveralPortsUnderFire) {
    constexpr int kPorts = 4;
    constexpr int kRounds = 120;
    std::vector<std::unique_ptr<StandInPort>> ports;
    for (int i = 0; i < kPorts; ++i) {
        uint8_t address[6] = {0x00, 0x1B, 0xDC, 0x00, 0x00, static_cast<uint8_t>(i + 1)};
        QorlSimPrinterConfig config = StandInPrinter(address);
        // A fixed grant per request: the stand-in's window keeps credit granted on a dropped
        // connection as outstanding, and so would shrink to nothing after a few drops.
        config.creditPolicy = QORLSIM_CREDIT_FIXED;
        config.creditAmount = 4096;
        config.dataMtu = static_cast<uint16_t>(600 + 100 * i);
        ASSERT_EQ(0, QorlSim_AddPrinter(&config));
        ports.emplace_back(new StandInPort(address));
        ports.back()->record->retryTimeoutMs = 2000;
    }

    struct Outcome {
        std::vector<uint8_t> handedOver; // every byte Write reported as sent, in order
        int connects = 0, writes = 0, whole = 0;
        std::vector<uint8_t> backChannel;
    };
    std::vector<Outcome> outcomes(kPorts);
    std::atomic<bool> stop{false};

    auto worker = [&](int index) {
        StandInPort& port = *ports[index];
        Outcome& outcome = outcomes[index];
        std::mt19937 random(index + 100);
        for (int round = 0; round < kRounds; ++round) {
            int connected;
            {
                MonitorLockGuard lock;
                connected = port->Connect();
            }
            if (connected) {
                ++outcome.connects;
                for (int k = 0; k < 3; ++k) {
                    const std::vector<uint8_t> data =
                        Pattern(1 + random() % 20000, index * 1000 + round * 10 + k);
                    uint32_t sent = 0;
                    MonitorLockGuard lock;
                    const int result =
                        port->Write(data.data(), static_cast<uint32_t>(data.size()), &sent);
                    ++outcome.writes;
                    if (result) {
                        ++outcome.whole;
                        EXPECT_EQ(data.size(), sent);
                    }
                    outcome.handedOver.insert(outcome.handedOver.end(), data.begin(),
                                              data.begin() + sent);
                    uint8_t buffer[512];
                    uint32_t count = 0;
                    if (port->Read(buffer, sizeof(buffer), &count)) {
                        outcome.backChannel.insert(outcome.backChannel.end(), buffer,
                                                   buffer + count);
                    }
                }
            }
            MonitorLockGuard lock;
            port->Disconnect();
        }
    };

    auto chaos = [&] {
        std::mt19937 random(7);
        const uint8_t notification[] = {0x00, 0x0A, 0x12, 0x34, 0x00, 0x00};
        const uint8_t vendor[] = {0x80, 0x01, 0x00, 0x00, 0x00, 0x02, 0x00, 0x01};
        const uint8_t stale[] = {0x00, 0x02, 0xFF, 0xF0, 0x00, 0x06, 0x00, 0x01, 0, 0, 0x10, 0};
        const uint8_t fragment[] = {0x00, 0x02};
        while (!stop) {
            StandInPort& port = *ports[random() % kPorts];
            switch (random() % 8) {
            case 0:
                QorlSim_SendUnsolicited(port.address, QORLSIM_CONTROL, notification,
                                        sizeof(notification));
                break;
            case 1:
                QorlSim_SendUnsolicited(port.address, QORLSIM_CONTROL, vendor, sizeof(vendor));
                break;
            case 2:
                QorlSim_SendUnsolicited(port.address, QORLSIM_CONTROL, stale, sizeof(stale));
                break;
            case 3:
                QorlSim_SendUnsolicited(port.address, QORLSIM_CONTROL, fragment, sizeof(fragment));
                break;
            case 4:
                QorlSim_DropChannel(port.address, 1 + random() % 3,
                                    random() % 2 ? EVENT_CLOSED : EVENT_DISCONNECTED);
                break;
            default: {
                const uint8_t back[] = {'o', 'k', static_cast<uint8_t>(random())};
                QorlSim_QueueBackChannel(port.address, back, sizeof(back));
                break;
            }
            }
            Sleep(1 + random() % 4);
        }
    };

    std::vector<std::thread> threads;
    for (int i = 0; i < kPorts; ++i) {
        threads.emplace_back(worker, i);
    }
    std::thread fire(chaos);
    // A deadlock shows up as workers that do not finish.
    std::atomic<int> finished{0};
    std::thread watchdog([&] {
        for (int waited = 0; finished < kPorts; waited += 100) {
            if (waited > 180000) {
                fprintf(stderr, "workers did not finish: deadlock\n");
                fflush(stderr);
                ExitProcess(3);
            }
            Sleep(100);
        }
    });
    for (auto& thread : threads) {
        thread.join();
        ++finished;
    }
    watchdog.join();
    stop = true;
    fire.join();
    ASSERT_EQ(0, QorlSim_WaitIdle(5000));

    for (int i = 0; i < kPorts; ++i) {
        StandInPort& port = *ports[i];
        const Outcome& outcome = outcomes[i];
        EXPECT_EQ(0, port->channelFlags) << "port " << i;
        const QorlSimStats stats = StatsOf(port.address);
        EXPECT_EQ(0u, stats.creditViolations) << "port " << i;
        EXPECT_EQ(0u, stats.mtuViolations) << "port " << i;
        // Nothing lost, nothing extra: the printer holds exactly the bytes handed over.
        const std::vector<uint8_t> sink = SinkOf(port.address);
        EXPECT_EQ(outcome.handedOver.size(), sink.size()) << "port " << i;
        EXPECT_TRUE(sink == outcome.handedOver) << "port " << i;
        EXPECT_GT(outcome.whole, 0) << "port " << i;
        printf("port %d: %d connections, %d of %d writes whole, %zu bytes, %zu back-channel\n", i,
               outcome.connects, outcome.whole, outcome.writes, sink.size(),
               outcome.backChannel.size());
    }

    // The open-channel bits follow every event once the storm is over.
    for (int i = 0; i < kPorts; ++i) {
        StandInPort& port = *ports[i];
        {
            MonitorLockGuard lock;
            ASSERT_EQ(1, port->Connect()) << "port " << i;
            EXPECT_EQ(CONTROL_OPEN | DATA_OPEN, static_cast<uint32_t>(port->channelFlags));
        }
        EXPECT_EQ(QORLSIM_CONTROL | QORLSIM_DATA, StatsOf(port.address).openChannels);
        QorlSim_DropChannel(port.address, QORLSIM_DATA, EVENT_DISCONNECTED);
        QorlSim_WaitIdle(2000);
        EXPECT_EQ(CONTROL_OPEN, static_cast<uint32_t>(port->channelFlags)) << "port " << i;
        QorlSim_DropChannel(port.address, QORLSIM_CONTROL, EVENT_CLOSED);
        QorlSim_WaitIdle(2000);
        EXPECT_EQ(0, port->channelFlags) << "port " << i;
        MonitorLockGuard lock;
        port->Disconnect();
    }
}

} // namespace
