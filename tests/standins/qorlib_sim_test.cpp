// The simulated stack seen from a client through its five operations: it behaves as an HCRP
// printer (answers, credit books, sinks, captures) and fires every fault when asked.

#include <windows.h>

#include <gtest/gtest.h>

#include <atomic>
#include <cstdio>
#include <thread>
#include <string>

#include "sim_client.h"

namespace {

const uint8_t kAddress[6] = {0x00, 0x11, 0x22, 0x33, 0x44, 0x55};
const char kDeviceId[] = "MFG:Acme;MDL:Laser 9;CMD:PCL,PJL;";

class SimStackTest : public ::testing::Test {
  protected:
    void SetUp() override {
        QorlSim_Reset();
        QorlSim_DefaultPrinterConfig(&config);
        std::memcpy(config.address, kAddress, 6);
        config.deviceId = kDeviceId;
        config.deviceIdLength = sizeof(kDeviceId) - 1;
        config.linkRate = 0;
        config.latencyUs = 100;
    }
    void TearDown() override { QorlSim_Reset(); }

    void Add() { ASSERT_EQ(0, QorlSim_AddPrinter(&config)); }
    void Fault(uint32_t kind, uint32_t value = 0, uint32_t channels = 0, int32_t count = 1,
               uint16_t pdu = 0, uint32_t after = 0) {
        QorlSimFault f{kind, channels, value, count, pdu, 0, after};
        ASSERT_EQ(
            0, QorlSim_SetFault(kind == QORLSIM_FAULT_REGISTER_REFUSED ? nullptr : kAddress, &f));
    }
    // Opens both channels and waits for both connected events.
    void OpenBoth(SimClient* client) {
        SeenEvent e;
        ASSERT_EQ(0, client->Open(QORLSIM_CONTROL));
        ASSERT_TRUE(client->Next(QORLSIM_CONTROL, &e));
        ASSERT_EQ(EVENT_CONNECTED, e.type);
        ASSERT_EQ(0, client->Open(QORLSIM_DATA));
        ASSERT_TRUE(client->Next(QORLSIM_DATA, &e));
        ASSERT_EQ(EVENT_CONNECTED, e.type);
    }
    QorlSimStats Stats() {
        QorlSimStats s{};
        EXPECT_EQ(0, QorlSim_GetStats(kAddress, &s));
        return s;
    }
    uint32_t RequestCredit(SimClient* client, uint16_t txn) {
        std::vector<uint8_t> r = client->Transact(Pdu(2, txn, {}));
        EXPECT_EQ(12u, r.size());
        if (r.size() != 12) {
            return 0;
        }
        EXPECT_EQ(Pdu(2, txn, {0, 1, r[8], r[9], r[10], r[11]}), r);
        return static_cast<uint32_t>(r[8]) << 24 | r[9] << 16 | r[10] << 8 | r[11];
    }

    QorlSimPrinterConfig config;
};

TEST_F(SimStackTest, ConnectedEventArrivesOnAnotherThreadWithTheChannelParameters) {
    config.controlMtu = 700;
    config.dataMtu = 672;
    Add();
    SimClient client(kAddress);
    auto start = std::chrono::steady_clock::now();
    ASSERT_EQ(0, client.Open(QORLSIM_CONTROL));
    SeenEvent e;
    ASSERT_TRUE(client.Next(QORLSIM_CONTROL, &e, 100));
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(100));
    EXPECT_EQ(EVENT_CONNECTED, e.type);
    EXPECT_EQ(0, e.result);
    EXPECT_NE(0, e.handle);
    EXPECT_EQ(0x1001, e.psm);
    EXPECT_EQ(656, e.inMtu);
    EXPECT_EQ(700, e.outMtu);
    EXPECT_EQ(&client, e.context);
    EXPECT_NE(GetCurrentThreadId(), e.threadId);

    ASSERT_EQ(0, client.Open(QORLSIM_DATA));
    ASSERT_TRUE(client.Next(QORLSIM_DATA, &e, 100));
    EXPECT_EQ(0x1003, e.psm);
    EXPECT_EQ(1024, e.inMtu);
    EXPECT_EQ(672, e.outMtu);
    EXPECT_NE(client.handle(QORLSIM_CONTROL), e.handle);
    EXPECT_EQ(QORLSIM_CONTROL | QORLSIM_DATA, Stats().openChannels);

    // A second connect on an open PSM is refused; after a disconnect it is accepted again.
    EXPECT_NE(0, QORL_Connect(&client.control, 0x1001, kAddress));
    EXPECT_EQ(0, QORL_Disconnect(client.handle(QORLSIM_CONTROL)));
    EXPECT_EQ(QORLSIM_DATA, Stats().openChannels);
    EXPECT_NE(0, QORL_Disconnect(client.handle(QORLSIM_CONTROL)));
}

TEST_F(SimStackTest, AnswersEveryControlRequestInHcrpFormat) {
    Add();
    SimClient client(kAddress);
    OpenBoth(&client);
    // Credit Grant: Success, no parameters.
    EXPECT_EQ(Pdu(1, 7, {0, 1}), client.Transact(Pdu(1, 7, {0, 0, 2, 0})));
    EXPECT_EQ(512u, Stats().clientCredit);
    // Get LPT Status: Success and the status byte.
    EXPECT_EQ(Pdu(5, 8, {0, 1, 0x18}), client.Transact(Pdu(5, 8, {})));
    QorlSim_SetStatus(kAddress, QORLSIM_LPT_POWERED_OFF);
    EXPECT_EQ(Pdu(5, 9, {0, 1, 0x38}), client.Transact(Pdu(5, 9, {})));
    // Get 1284 ID: the stored ID begins with its own big-endian length.
    size_t idLength = sizeof(kDeviceId) - 1 + 2;
    std::vector<uint8_t> r = client.Transact(Pdu(6, 10, {0, 0, 0x02, 0x90}));
    ASSERT_EQ(8 + idLength, r.size());
    EXPECT_EQ(0, r[8]);
    EXPECT_EQ(idLength, r[9]);
    EXPECT_EQ(std::string(kDeviceId), std::string(r.begin() + 10, r.end()));
    EXPECT_EQ(2 + idLength, static_cast<size_t>(r[4] << 8 | r[5]));
    // Offset and maximum length are honoured.
    r = client.Transact(Pdu(6, 11, {0, 6, 0, 5}));
    EXPECT_EQ(Pdu(6, 11, {0, 1, 'A', 'c', 'm', 'e', ';'}), r);
    r = client.Transact(Pdu(6, 12, {0x10, 0, 0, 5}));
    EXPECT_EQ(Pdu(6, 12, {0, 1}), r);
    // Requests a printer does not support: Feature Unsupported.
    for (uint16_t id : {3, 4, 7, 8, 9, 10, 0, 0x8000}) {
        EXPECT_EQ(Pdu(id, 13, {0, 0}), client.Transact(Pdu(id, 13, {0, 0, 0, 1})));
    }
    // Malformed: a parameter length that disagrees with the packet gets Generic Failure; a
    // packet shorter than a header gets nothing.
    EXPECT_EQ(Pdu(2, 14, {0xFF, 0xFF}), client.Transact({0, 2, 0, 14, 0, 4}));
    EXPECT_EQ(Pdu(1, 15, {0xFF, 0xFF}), client.Transact(Pdu(1, 15, {0, 1})));
    EXPECT_TRUE(client.Transact({0, 5, 0}, 200).empty());
    EXPECT_EQ(3u, Stats().malformedRequests);
}

TEST_F(SimStackTest, LongDeviceIdIsServedInSlicesWithinTheClientMtu) {
    std::string id(65533, 'x');
    config.deviceId = id.data();
    config.deviceIdLength = static_cast<uint32_t>(id.size());
    Add();
    SimClient client(kAddress);
    OpenBoth(&client);
    std::vector<uint8_t> all;
    uint16_t txn = 0;
    while (all.size() < 65535) {
        std::vector<uint8_t> r = client.Transact(Pdu(
            6, txn++,
            {static_cast<uint8_t>(all.size() >> 8), static_cast<uint8_t>(all.size()), 0xFF, 0xFF}));
        ASSERT_GE(r.size(), 8u);
        ASSERT_LE(r.size(), 656u); // the client's inMtu
        ASSERT_GT(r.size(), 8u);
        all.insert(all.end(), r.begin() + 8, r.end());
    }
    EXPECT_EQ(0xFF, all[0]);
    EXPECT_EQ(0xFF, all[1]);
    EXPECT_EQ(std::string(all.begin() + 2, all.end()), id);
}

TEST_F(SimStackTest, WindowCreditIsBoundedByTheBufferAndViolationsAreRecorded) {
    config.creditPolicy = QORLSIM_CREDIT_WINDOW;
    config.bufferSize = 4096;
    config.printSpeed = 0; // drains at once
    Add();
    SimClient client(kAddress);
    OpenBoth(&client);
    EXPECT_EQ(4096u, RequestCredit(&client, 1));
    EXPECT_EQ(0u, RequestCredit(&client, 2)); // window full: nothing outstanding spare
    std::vector<uint8_t> piece(672, 0xAB);
    for (int i = 0; i < 6; i++) {
        ASSERT_EQ(0, QORL_SendData(client.handle(QORLSIM_DATA), piece.data(), 672));
    }
    EXPECT_EQ(0u, Stats().creditViolations);
    EXPECT_EQ(4032u, RequestCredit(&client, 3)); // 64 still outstanding
    // Beyond the credit: accepted, counted.
    std::vector<uint8_t> big(672, 1);
    for (int i = 0; i < 7; i++) {
        QORL_SendData(client.handle(QORLSIM_DATA), big.data(), 672);
    }
    QorlSimStats s = Stats();
    EXPECT_EQ(1u, s.creditViolations);
    EXPECT_EQ(7u * 672 - 4096, s.violationBytes);
    EXPECT_EQ(13u * 672, s.creditUsed);
    // A piece larger than the reported MTU is refused.
    std::vector<uint8_t> huge(673);
    EXPECT_NE(0, QORL_SendData(client.handle(QORLSIM_DATA), huge.data(), 673));
    EXPECT_EQ(1u, Stats().mtuViolations);
}

TEST_F(SimStackTest, CreditUnusedWhenTheLinkDropsIsForgottenOnTheNextConnection) {
    config.creditPolicy = QORLSIM_CREDIT_WINDOW;
    config.bufferSize = 4096;
    config.printSpeed = 0;
    Add();
    {
        SimClient client(kAddress);
        OpenBoth(&client);
        EXPECT_EQ(4096u, RequestCredit(&client, 1));
        QorlSim_DropChannel(kAddress, QORLSIM_CONTROL | QORLSIM_DATA, EVENT_DISCONNECTED);
        SeenEvent e;
        ASSERT_TRUE(client.Next(QORLSIM_DATA, &e));
        EXPECT_EQ(EVENT_DISCONNECTED, e.type);
    }
    // A client reconnecting starts with no credit; the printer must not count the credit
    // of the lost connection as still outstanding, or its window never opens again.
    SimClient again(kAddress);
    OpenBoth(&again);
    EXPECT_EQ(4096u, RequestCredit(&again, 1));
    std::vector<uint8_t> piece(512, 0x5A);
    for (int i = 0; i < 8; i++) {
        ASSERT_EQ(0, QORL_SendData(again.handle(QORLSIM_DATA), piece.data(), 512));
    }
    QorlSim_WaitIdle(2000);
    QorlSimStats s = Stats();
    EXPECT_EQ(0u, s.creditViolations);
    EXPECT_EQ(8192u, s.creditGranted); // totals run over both connections
    EXPECT_EQ(4096u, s.creditUsed);
}

TEST_F(SimStackTest, FixedAndNeverPoliciesAndASlowPrinter) {
    config.creditPolicy = QORLSIM_CREDIT_FIXED;
    config.creditAmount = 1000;
    Add();
    SimClient client(kAddress);
    OpenBoth(&client);
    EXPECT_EQ(1000u, RequestCredit(&client, 1));
    EXPECT_EQ(1000u, RequestCredit(&client, 2));
    EXPECT_EQ(2000u, Stats().creditGranted);

    uint8_t other[6] = {1, 2, 3, 4, 5, 6};
    std::memcpy(config.address, other, 6);
    config.creditPolicy = QORLSIM_CREDIT_NEVER;
    Add();
    SimClient never(other);
    SeenEvent e;
    ASSERT_EQ(0, never.Open(QORLSIM_CONTROL));
    ASSERT_TRUE(never.Next(QORLSIM_CONTROL, &e));
    EXPECT_EQ(Pdu(2, 1, {0, 1, 0, 0, 0, 0}), never.Transact(Pdu(2, 1, {})));

    // A window printer that prints 10000 bytes/s frees its buffer only as it prints.
    uint8_t slow[6] = {6, 5, 4, 3, 2, 1};
    std::memcpy(config.address, slow, 6);
    config.creditPolicy = QORLSIM_CREDIT_WINDOW;
    config.bufferSize = 2000;
    config.printSpeed = 10000;
    Add();
    SimClient s(slow);
    OpenBoth(&s);
    std::vector<uint8_t> r = s.Transact(Pdu(2, 1, {}));
    ASSERT_EQ(12u, r.size());
    EXPECT_EQ(2000, r[10] << 8 | r[11]);
    std::vector<uint8_t> piece(500);
    for (int i = 0; i < 4; i++) {
        QORL_SendData(s.handle(QORLSIM_DATA), piece.data(), 500);
    }
    Sleep(100); // about 1000 bytes printed
    r = s.Transact(Pdu(2, 2, {}));
    ASSERT_EQ(12u, r.size());
    int granted = r[10] << 8 | r[11];
    EXPECT_GT(granted, 500);
    EXPECT_LT(granted, 2000);
}

TEST_F(SimStackTest, SinkKeepsEveryAcceptedByteAndAFilePerJob) {
    char temp[MAX_PATH];
    GetTempPathA(MAX_PATH, temp);
    std::string dir = std::string(temp) + "qorlib_sink_test";
    CreateDirectoryA(dir.c_str(), nullptr);
    std::string job1 = dir + "\\001122334455-1.prn";
    std::string job2 = dir + "\\001122334455-2.prn";
    std::string pcap1 = dir + "\\001122334455-1.pcap";
    WIN32_FIND_DATAA found;
    HANDLE search = FindFirstFileA((dir + "\\*.*").c_str(), &found);
    while (search != INVALID_HANDLE_VALUE) {
        DeleteFileA((dir + "\\" + found.cFileName).c_str());
        if (!FindNextFileA(search, &found)) {
            FindClose(search);
            search = INVALID_HANDLE_VALUE;
        }
    }
    QorlSim_SetOutputDirectories(dir.c_str(), dir.c_str(), nullptr);
    config.creditPolicy = QORLSIM_CREDIT_FIXED;
    Add();
    for (int job = 0; job < 2; job++) {
        SimClient client(kAddress);
        OpenBoth(&client);
        std::string text = "job " + std::to_string(job) + " payload";
        // A whole exchange, so that the capture shows every kind of control PDU.
        client.Transact(Pdu(1, 1, {0, 0, 2, 0}));
        client.Transact(Pdu(5, 2, {}));
        client.Transact(Pdu(6, 3, {0, 0, 2, 0x90}));
        client.Transact(Pdu(2, 4, {}));
        ASSERT_EQ(0, QORL_SendData(client.handle(QORLSIM_DATA), text.data(),
                                   static_cast<uint16_t>(text.size())));
        QORL_Disconnect(client.handle(QORLSIM_DATA));
        QORL_Disconnect(client.handle(QORLSIM_CONTROL));
    }
    char sink[64] = {};
    ASSERT_EQ(26, QorlSim_GetSink(kAddress, 0, sink, sizeof(sink)));
    EXPECT_EQ("job 0 payloadjob 1 payload", std::string(sink));
    auto readFile = [](const std::string& path) {
        std::string out;
        if (FILE* f = std::fopen(path.c_str(), "rb")) {
            char b[256];
            size_t n;
            while ((n = std::fread(b, 1, sizeof(b), f)) > 0) {
                out.append(b, n);
            }
            std::fclose(f);
        }
        return out;
    };
    EXPECT_EQ("job 0 payload", readFile(job1));
    EXPECT_EQ("job 1 payload", readFile(job2));
    std::string pcap = readFile(pcap1);
    ASSERT_GT(pcap.size(), 24u);
    EXPECT_EQ(201, static_cast<uint8_t>(pcap[20]));
    EXPECT_EQ(2u, Stats().jobs);
    // The PDU log has both jobs' control exchanges (both directions, whole) and the data
    // packets (length only).
    ASSERT_EQ(18, QorlSim_GetLogCount(kAddress));
    QorlSimLogEntry entry;
    uint8_t bytes[16] = {};
    ASSERT_EQ(0, QorlSim_GetLogEntry(kAddress, 3, &entry, bytes, sizeof(bytes)));
    EXPECT_EQ(1, entry.fromPrinter);
    EXPECT_EQ(QORLSIM_CONTROL, entry.channel);
    EXPECT_EQ(9, entry.length);
    EXPECT_EQ(Pdu(5, 2, {0, 1, 0x18}), std::vector<uint8_t>(bytes, bytes + 9));
    ASSERT_EQ(0, QorlSim_GetLogEntry(kAddress, 8, &entry, bytes, sizeof(bytes)));
    EXPECT_EQ(QORLSIM_DATA, entry.channel);
    EXPECT_EQ(13, entry.length);
    EXPECT_EQ(0u, entry.stored);
}

TEST_F(SimStackTest, BackChannelDataStaysWithinTheClientsCredit) {
    Add();
    SimClient client(kAddress);
    OpenBoth(&client);
    std::vector<uint8_t> back(3000);
    for (size_t i = 0; i < back.size(); i++) {
        back[i] = static_cast<uint8_t>(i);
    }
    ASSERT_EQ(0, QorlSim_QueueBackChannel(kAddress, back.data(), 3000));
    SeenEvent e;
    EXPECT_FALSE(client.Next(QORLSIM_DATA, &e, 100)); // no credit yet
    client.Transact(Pdu(1, 1, {0, 0, 0x05, 0xDC}));   // 1500
    std::vector<uint8_t> got;
    while (client.Next(QORLSIM_DATA, &e, 200)) {
        EXPECT_LE(e.bytes.size(), 1024u); // the client's data inMtu
        got.insert(got.end(), e.bytes.begin(), e.bytes.end());
    }
    EXPECT_EQ(1500u, got.size());
    client.Transact(Pdu(1, 2, {0, 0, 0x10, 0}));
    while (client.Next(QORLSIM_DATA, &e, 200)) {
        got.insert(got.end(), e.bytes.begin(), e.bytes.end());
    }
    EXPECT_EQ(back, got);
    EXPECT_EQ(4096u - 1500, Stats().clientCredit);
}

TEST_F(SimStackTest, ConnectionFaultsFireWhenAsked) {
    Add();
    SimClient client(kAddress);
    SeenEvent e;
    Fault(QORLSIM_FAULT_REGISTER_REFUSED, 9);
    EXPECT_EQ(9, QORL_Register(&client.control));
    Fault(QORLSIM_FAULT_CONNECT_REFUSED, 0, QORLSIM_CONTROL);
    EXPECT_NE(0, client.Open(QORLSIM_CONTROL));
    EXPECT_FALSE(client.Next(QORLSIM_CONTROL, &e, 50));
    Fault(QORLSIM_FAULT_NO_CONNECTED_EVENT, 0, QORLSIM_CONTROL);
    EXPECT_EQ(0, client.Open(QORLSIM_CONTROL));
    EXPECT_FALSE(client.Next(QORLSIM_CONTROL, &e, 100));
    // The channel exists nevertheless (the handle just never reached the client).
    EXPECT_EQ(QORLSIM_CONTROL, Stats().openChannels);
    QorlSim_DropChannel(kAddress, QORLSIM_CONTROL, EVENT_CLOSED);
    ASSERT_TRUE(client.Next(QORLSIM_CONTROL, &e));
    EXPECT_EQ(EVENT_CLOSED, e.type);

    Fault(QORLSIM_FAULT_CONNECTED_RESULT, 0x0004, QORLSIM_DATA);
    EXPECT_EQ(0, client.Open(QORLSIM_DATA));
    ASSERT_TRUE(client.Next(QORLSIM_DATA, &e));
    EXPECT_EQ(EVENT_CONNECTED, e.type);
    EXPECT_EQ(4, e.result);
    EXPECT_EQ(0u, Stats().openChannels);

    // Unknown printer, unknown PSM, unregistered descriptor.
    uint8_t nobody[6] = {9, 9, 9, 9, 9, 9};
    EXPECT_NE(0, QORL_Connect(&client.control, 0x1001, nobody));
    EXPECT_NE(0, QORL_Connect(&client.control, 0x2001, kAddress));
    ChannelDescriptor stranger{};
    EXPECT_NE(0, QORL_Connect(&stranger, 0x1001, kAddress));
}

TEST_F(SimStackTest, ChannelDropAndSendRefusalFireAfterTheirByteCounts) {
    config.creditPolicy = QORLSIM_CREDIT_FIXED;
    Add();
    SimClient client(kAddress);
    OpenBoth(&client);
    Fault(QORLSIM_FAULT_SEND_REFUSED, 7, QORLSIM_DATA, 1, 0, 1000);
    std::vector<uint8_t> piece(500);
    uint16_t data = client.handle(QORLSIM_DATA);
    EXPECT_EQ(0, QORL_SendData(data, piece.data(), 500));
    EXPECT_EQ(0, QORL_SendData(data, piece.data(), 500));
    EXPECT_EQ(7, QORL_SendData(data, piece.data(), 500));
    EXPECT_EQ(0, QORL_SendData(data, piece.data(), 500));
    Fault(QORLSIM_FAULT_CHANNEL_DROP, EVENT_DISCONNECTED, 0, 1, 0, 2000);
    EXPECT_EQ(0, QORL_SendData(data, piece.data(), 500));
    SeenEvent e;
    ASSERT_TRUE(client.Next(QORLSIM_DATA, &e));
    EXPECT_EQ(EVENT_DISCONNECTED, e.type);
    ASSERT_TRUE(client.Next(QORLSIM_CONTROL, &e));
    EXPECT_EQ(EVENT_DISCONNECTED, e.type);
    EXPECT_EQ(0u, Stats().openChannels);
    EXPECT_NE(0, QORL_SendData(data, piece.data(), 500));
    EXPECT_EQ(2000u, Stats().creditUsed);
}

TEST_F(SimStackTest, ResponseFaultsFireWhenAsked) {
    Add();
    SimClient client(kAddress);
    OpenBoth(&client);
    Fault(QORLSIM_FAULT_RESPONSE_LOST, 0, 0, 1, 5);
    EXPECT_TRUE(client.Transact(Pdu(5, 1, {}), 200).empty());
    EXPECT_EQ(Pdu(2, 2, {0, 1, 0, 1, 0, 0}), client.Transact(Pdu(2, 2, {}))); // pdu filter
    Fault(QORLSIM_FAULT_RESPONSE_DUPLICATED);
    EXPECT_EQ(Pdu(5, 3, {0, 1, 0x18}), client.Transact(Pdu(5, 3, {})));
    SeenEvent e;
    ASSERT_TRUE(client.Next(QORLSIM_CONTROL, &e));
    EXPECT_EQ(Pdu(5, 3, {0, 1, 0x18}), e.bytes);
    Fault(QORLSIM_FAULT_RESPONSE_WRONG_TRANSACTION);
    EXPECT_EQ(Pdu(5, 5, {0, 1, 0x18}), client.Transact(Pdu(5, 4, {})));
    Fault(QORLSIM_FAULT_RESPONSE_TOO_SHORT, 3);
    EXPECT_EQ(std::vector<uint8_t>({0, 5, 0}), client.Transact(Pdu(5, 5, {})));
    Fault(QORLSIM_FAULT_RESPONSE_BAD_PARAM_LENGTH, 1);
    EXPECT_EQ(std::vector<uint8_t>({0, 5, 0, 6, 0, 1, 0, 1, 0x18}), client.Transact(Pdu(5, 6, {})));
    Fault(QORLSIM_FAULT_RESPONSE_STATUS, 2);
    EXPECT_EQ(Pdu(5, 7, {0, 2, 0x18}), client.Transact(Pdu(5, 7, {})));
    Fault(QORLSIM_FAULT_RESPONSE_DELAY, 300);
    EXPECT_TRUE(client.Transact(Pdu(5, 8, {}), 150).empty());
    ASSERT_TRUE(client.Next(QORLSIM_CONTROL, &e, 500));
    EXPECT_EQ(Pdu(5, 8, {0, 1, 0x18}), e.bytes);
    // Unsolicited packets arrive as they are.
    ASSERT_EQ(0, QorlSim_SendUnsolicited(kAddress, QORLSIM_CONTROL, "\x00\x0a\x00\x63", 4));
    ASSERT_TRUE(client.Next(QORLSIM_CONTROL, &e));
    EXPECT_EQ(std::vector<uint8_t>({0, 0x0a, 0, 0x63}), e.bytes);
    // Faults with a count fire that often, then stop.
    EXPECT_EQ(Pdu(5, 9, {0, 1, 0x18}), client.Transact(Pdu(5, 9, {})));
}

TEST_F(SimStackTest, PaperRunsOutAfterTheConfiguredBytes) {
    config.paperOutAfter = 1000;
    config.creditPolicy = QORLSIM_CREDIT_FIXED;
    Add();
    SimClient client(kAddress);
    OpenBoth(&client);
    std::vector<uint8_t> piece(600);
    QORL_SendData(client.handle(QORLSIM_DATA), piece.data(), 600);
    EXPECT_EQ(Pdu(5, 1, {0, 1, 0x18}), client.Transact(Pdu(5, 1, {})));
    QORL_SendData(client.handle(QORLSIM_DATA), piece.data(), 600);
    EXPECT_EQ(Pdu(5, 2, {0, 1, 0x30}), client.Transact(Pdu(5, 2, {})));
    EXPECT_EQ(0u, RequestCredit(&client, 3)); // no paper, no credit
}

TEST_F(SimStackTest, OddInputFromTheClientNeverCrashes) {
    Add();
    EXPECT_NE(0, QORL_Register(nullptr));
    ChannelDescriptor noCallback{};
    EXPECT_NE(0, QORL_Register(&noCallback));
    EXPECT_NE(0, QORL_Unregister(nullptr));
    EXPECT_NE(0, QORL_Connect(nullptr, 0x1001, kAddress));
    SimClient client(kAddress);
    QORL_Register(&client.control);
    EXPECT_NE(0, QORL_Connect(&client.control, 0x1001, nullptr));
    EXPECT_NE(0, QORL_Disconnect(0));
    EXPECT_NE(0, QORL_Disconnect(0xFFFF));
    EXPECT_NE(0, QORL_SendData(0, "x", 1));
    EXPECT_NE(0, QORL_SendData(1234, nullptr, 10));
    OpenBoth(&client);
    EXPECT_NE(0, QORL_SendData(client.handle(QORLSIM_DATA), nullptr, 10));
    EXPECT_EQ(0, QORL_SendData(client.handle(QORLSIM_DATA), nullptr, 0));
    EXPECT_EQ(0, QORL_Unregister(&client.data));
    EXPECT_EQ(-1, QorlSim_AddPrinter(nullptr));
    EXPECT_EQ(-1, QorlSim_GetSink(nullptr, 0, nullptr, 0));
    EXPECT_EQ(-1, QorlSim_SetFault(kAddress, nullptr));
    EXPECT_EQ(-1, QorlSim_SendUnsolicited(kAddress, 7, "x", 1));
    EXPECT_EQ(-1, QorlSim_LoadConfig(nullptr));
    EXPECT_EQ(-1, QorlSim_LoadConfig("C:\\no\\such\\file.conf"));
}

} // namespace

namespace {

std::string TempPath(const char* name) {
    char temp[MAX_PATH];
    GetTempPathA(MAX_PATH, temp);
    return std::string(temp) + name;
}

TEST_F(SimStackTest, ConfigurationFileAddsPrintersOutputsAndFaults) {
    std::string dir = TempPath("qorlib_config_test");
    CreateDirectoryA(dir.c_str(), nullptr);
    DeleteFileA((dir + "\\0a0b0c0d0e0f-1.prn").c_str());
    std::string path = dir + "\\printers.conf";
    FILE* f = std::fopen(path.c_str(), "wb");
    ASSERT_NE(nullptr, f);
    std::fprintf(f,
                 "[output]\nsinkdir = %s\n\n"
                 "[printer]\naddress = 0a:0b:0c:0d:0e:0f\nname = Office\n"
                 "deviceid = MFG:Acme;MDL:Office;\ncredit = fixed:100\nlinkrate = 0\n"
                 "fault = response-lost pdu=5 count=1\n"
                 "fault = register-refused value=3 count=1\n"
                 "[printer]\naddress = 0a:0b:0c:0d:0e:10\nstatus = off\n",
                 dir.c_str());
    std::fclose(f);
    ASSERT_EQ(2, QorlSim_LoadConfig(path.c_str())) << QorlSim_LastError();
    const uint8_t office[6] = {0x0a, 0x0b, 0x0c, 0x0d, 0x0e, 0x0f};
    const uint8_t off[6] = {0x0a, 0x0b, 0x0c, 0x0d, 0x0e, 0x10};
    QorlSimStats s{};
    ASSERT_EQ(0, QorlSim_GetStats(off, &s));
    EXPECT_EQ(0x38, s.lptStatus);

    SimClient client(office);
    EXPECT_EQ(3, QORL_Register(&client.control)); // the global fault, once
    SeenEvent e;
    ASSERT_EQ(0, client.Open(QORLSIM_CONTROL));
    ASSERT_TRUE(client.Next(QORLSIM_CONTROL, &e));
    ASSERT_EQ(0, client.Open(QORLSIM_DATA));
    ASSERT_TRUE(client.Next(QORLSIM_DATA, &e));
    EXPECT_TRUE(client.Transact(Pdu(5, 1, {}), 200).empty());
    EXPECT_EQ(Pdu(2, 2, {0, 1, 0, 0, 0, 100}), client.Transact(Pdu(2, 2, {})));
    EXPECT_EQ(0, QORL_SendData(client.handle(QORLSIM_DATA), "hello", 5));
    QORL_Disconnect(client.handle(QORLSIM_DATA));
    char text[8] = {};
    if (FILE* job = std::fopen((dir + "\\0a0b0c0d0e0f-1.prn").c_str(), "rb")) {
        std::fread(text, 1, 5, job);
        std::fclose(job);
    }
    EXPECT_STREQ("hello", text);

    // A bad file is refused with the place of the error, and adds nothing.
    f = std::fopen(path.c_str(), "wb");
    std::fprintf(f, "[printer]\naddress = 01:02:03:04:05:06\nspeed = fast\n");
    std::fclose(f);
    EXPECT_EQ(-1, QorlSim_LoadConfig(path.c_str()));
    EXPECT_NE(nullptr, std::strstr(QorlSim_LastError(), "line 3: bad number 'fast'"));
    const uint8_t absent[6] = {1, 2, 3, 4, 5, 6};
    EXPECT_EQ(-1, QorlSim_GetStats(absent, &s));
}

TEST_F(SimStackTest, TheLinkRateSlowsTheDataChannel) {
    config.linkRate = 210000; // bits per second
    config.creditPolicy = QORLSIM_CREDIT_FIXED;
    Add();
    SimClient client(kAddress);
    OpenBoth(&client);
    std::vector<uint8_t> piece(663); // 672 bytes on the air with the headers
    auto start = std::chrono::steady_clock::now();
    for (int i = 0; i < 25; i++) {
        ASSERT_EQ(0, QORL_SendData(client.handle(QORLSIM_DATA), piece.data(), 663));
    }
    // 25 * 672 * 8 bits at 210000 bit/s take 640 ms at least.
    EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(600));
}

TEST(TarnwickProcess, RunsUntilToldToStop) {
    char path[MAX_PATH];
    GetModuleFileNameA(nullptr, path, MAX_PATH);
    std::string dir(path);
    dir = dir.substr(0, dir.find_last_of('\\') + 1);
    std::string exe = dir + "Tarnwick.exe";
    STARTUPINFOA si{};
    si.cb = sizeof(si);
    PROCESS_INFORMATION running{};
    std::string command = "\"" + exe + "\"";
    ASSERT_TRUE(CreateProcessA(exe.c_str(), &command[0], nullptr, nullptr, FALSE, 0, nullptr,
                               nullptr, &si, &running));
    EXPECT_EQ(static_cast<DWORD>(WAIT_TIMEOUT), WaitForSingleObject(running.hProcess, 500));
    PROCESS_INFORMATION stopper{};
    std::string stopCommand = command + " --stop";
    ASSERT_TRUE(CreateProcessA(exe.c_str(), &stopCommand[0], nullptr, nullptr, FALSE, 0, nullptr,
                               nullptr, &si, &stopper));
    EXPECT_EQ(static_cast<DWORD>(WAIT_OBJECT_0), WaitForSingleObject(running.hProcess, 5000));
    WaitForSingleObject(stopper.hProcess, 5000);
    DWORD code = 99;
    GetExitCodeProcess(running.hProcess, &code);
    EXPECT_EQ(0u, code);
    TerminateProcess(running.hProcess, 1); // in case it did not stop
    for (PROCESS_INFORMATION* pi : {&running, &stopper}) {
        CloseHandle(pi->hThread);
        CloseHandle(pi->hProcess);
    }
}

} // namespace

namespace {

TEST(SimExampleConfiguration, TheShippedExampleLoads) {
    QorlSim_Reset();
    ASSERT_EQ(2, QorlSim_LoadConfig(QORLIB_EXAMPLE_CONFIG)) << QorlSim_LastError();
    const uint8_t paperOut[6] = {0x00, 0x1b, 0xdc, 0x0f, 0x10, 0x02};
    QorlSimStats s{};
    EXPECT_EQ(0, QorlSim_GetStats(paperOut, &s));
    EXPECT_EQ(QORLSIM_LPT_READY, s.lptStatus);
    QorlSim_Reset();
}

} // namespace

namespace {

// Run in a child process with QORLIB_CONFIG set: the library has read the file by the time
// of its first call.
TEST(SimStartupConfiguration, ChildSeesThePrintersOfTheFile) {
    char value[MAX_PATH];
    if (GetEnvironmentVariableA("QORLIB_CONFIG", value, MAX_PATH) == 0) {
        GTEST_SKIP() << "runs only as the child of ReadsTheFileNamedInTheEnvironment";
    }
    const uint8_t healthy[6] = {0x00, 0x1b, 0xdc, 0x0f, 0x10, 0x01};
    QorlSimStats s{};
    EXPECT_EQ(0, QorlSim_GetStats(healthy, &s));
}

TEST(SimStartupConfiguration, ReadsTheFileNamedInTheEnvironment) {
    char path[MAX_PATH];
    GetModuleFileNameA(nullptr, path, MAX_PATH);
    std::string command = std::string("\"") + path +
                          "\" --gtest_filter=SimStartupConfiguration.ChildSeesThePrintersOfTheFile";
    ASSERT_TRUE(SetEnvironmentVariableA("QORLIB_CONFIG", QORLIB_EXAMPLE_CONFIG));
    STARTUPINFOA si{};
    si.cb = sizeof(si);
    PROCESS_INFORMATION child{};
    BOOL started = CreateProcessA(path, &command[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                                  &si, &child);
    SetEnvironmentVariableA("QORLIB_CONFIG", nullptr);
    ASSERT_TRUE(started);
    ASSERT_EQ(static_cast<DWORD>(WAIT_OBJECT_0), WaitForSingleObject(child.hProcess, 30000));
    DWORD code = 99;
    GetExitCodeProcess(child.hProcess, &code);
    EXPECT_EQ(0u, code);
    CloseHandle(child.hThread);
    CloseHandle(child.hProcess);
}

} // namespace

namespace {

// Several clients at once, each with its own printer, while the printers speak first and
// drop channels: no crash, no deadlock, and every byte accepted is in the right sink.
TEST(SimConcurrency, ClientsPrintersAndFaultsTogether) {
    QorlSim_Reset();
    const int kClients = 4;
    std::vector<std::thread> threads;
    std::atomic<bool> stop{false};
    std::atomic<int> rounds{0};
    for (int i = 0; i < kClients; i++) {
        QorlSimPrinterConfig c;
        QorlSim_DefaultPrinterConfig(&c);
        c.address[5] = static_cast<uint8_t>(0x40 + i);
        c.linkRate = 0;
        c.latencyUs = 0;
        c.creditPolicy = QORLSIM_CREDIT_FIXED;
        ASSERT_EQ(0, QorlSim_AddPrinter(&c));
    }
    for (int i = 0; i < kClients; i++) {
        threads.emplace_back([i, &rounds] {
            uint8_t address[6] = {0, 0, 0, 0, 0, static_cast<uint8_t>(0x40 + i)};
            for (int round = 0; round < 30; round++) {
                SimClient client(address);
                SeenEvent e;
                if (client.Open(QORLSIM_CONTROL) != 0 || !client.Next(QORLSIM_CONTROL, &e)) {
                    continue;
                }
                if (client.Open(QORLSIM_DATA) == 0 && client.Next(QORLSIM_DATA, &e)) {
                    client.Transact(Pdu(2, static_cast<uint16_t>(round), {}), 200);
                    uint8_t piece[100];
                    std::memset(piece, i, sizeof(piece));
                    QORL_SendData(client.handle(QORLSIM_DATA), piece, sizeof(piece));
                }
                QORL_Disconnect(client.handle(QORLSIM_DATA));
                QORL_Disconnect(client.handle(QORLSIM_CONTROL));
                rounds++;
            }
        });
    }
    std::thread mischief([&stop] {
        int n = 0;
        while (!stop) {
            uint8_t address[6] = {0, 0, 0, 0, 0, static_cast<uint8_t>(0x40 + n % kClients)};
            QorlSim_SendUnsolicited(address, QORLSIM_CONTROL, "\x00\x05\x12\x34\x00\x00", 6);
            if (n % 7 == 0) {
                QorlSim_DropChannel(address, QORLSIM_DATA, EVENT_CLOSED);
            }
            n++;
            Sleep(1);
        }
    });
    for (std::thread& t : threads) {
        t.join();
    }
    stop = true;
    mischief.join();
    EXPECT_EQ(kClients * 30, rounds.load());
    EXPECT_EQ(0, QorlSim_WaitIdle(5000));
    for (int i = 0; i < kClients; i++) {
        uint8_t address[6] = {0, 0, 0, 0, 0, static_cast<uint8_t>(0x40 + i)};
        std::vector<uint8_t> sink(30 * 100);
        int32_t total = QorlSim_GetSink(address, 0, sink.data(), 30 * 100);
        ASSERT_GE(total, 0);
        ASSERT_LE(total, 30 * 100);
        sink.resize(static_cast<size_t>(total));
        EXPECT_EQ(std::vector<uint8_t>(sink.size(), static_cast<uint8_t>(i)), sink);
        QorlSimStats s{};
        QorlSim_GetStats(address, &s);
        EXPECT_EQ(0u, s.openChannels);
        EXPECT_EQ(static_cast<uint32_t>(total), s.creditUsed);
    }
    QorlSim_Reset();
}

} // namespace

namespace {

// Two printers, each with its own client on its own thread. Orders, not times: each check is
// that B's work is done while A is still held up, by seconds.
class SimFairness : public ::testing::Test {
  protected:
    void SetUp() override {
        QorlSim_Reset();
        for (const uint8_t* address : {kA, kB}) {
            QorlSimPrinterConfig c;
            QorlSim_DefaultPrinterConfig(&c);
            std::memcpy(c.address, address, 6);
            c.latencyUs = 100;
            c.creditPolicy = QORLSIM_CREDIT_FIXED;
            // A's link carries one 663-byte packet (672 bytes on the air) in 2 s.
            c.linkRate = address == kA ? 672 * 8 / 2 : 0;
            ASSERT_EQ(0, QorlSim_AddPrinter(&c));
        }
        // Every packet of both printers goes to the log, the capture and the job files.
        char temp[MAX_PATH];
        GetTempPathA(MAX_PATH, temp);
        dir_ = std::string(temp) + "qorlib-fairness-" + std::to_string(GetCurrentProcessId());
        CreateDirectoryA(dir_.c_str(), nullptr);
        QorlSim_SetOutputDirectories(dir_.c_str(), dir_.c_str(), dir_.c_str());
    }
    void TearDown() override {
        QorlSim_Reset();
        WIN32_FIND_DATAA found;
        HANDLE h = FindFirstFileA((dir_ + "\\*").c_str(), &found);
        while (h != INVALID_HANDLE_VALUE) {
            DeleteFileA((dir_ + "\\" + found.cFileName).c_str());
            if (!FindNextFileA(h, &found)) {
                FindClose(h);
                break;
            }
        }
        RemoveDirectoryA(dir_.c_str());
    }
    static uint32_t Sent(const uint8_t* address) {
        QorlSimStats s{};
        QorlSim_GetStats(address, &s);
        return s.creditUsed;
    }
    static void OpenBoth(SimClient* client) {
        SeenEvent e;
        ASSERT_EQ(0, client->Open(QORLSIM_CONTROL));
        ASSERT_TRUE(client->Next(QORLSIM_CONTROL, &e));
        ASSERT_EQ(0, client->Open(QORLSIM_DATA));
        ASSERT_TRUE(client->Next(QORLSIM_DATA, &e));
    }
    // B connects, is answered and prints 64 KB; returns false at the first thing missing.
    static bool BDoesAJob() {
        SimClient b(kB);
        SeenEvent e;
        if (b.Open(QORLSIM_CONTROL) != 0 || !b.Next(QORLSIM_CONTROL, &e) ||
            b.Open(QORLSIM_DATA) != 0 || !b.Next(QORLSIM_DATA, &e)) {
            return false;
        }
        if (b.Transact(Pdu(5, 1, {})) != Pdu(5, 1, {0, 1, QORLSIM_LPT_READY})) {
            return false;
        }
        std::vector<uint8_t> piece(512, 0xBB);
        for (int i = 0; i < 128; i++) {
            if (QORL_SendData(b.handle(QORLSIM_DATA), piece.data(), 512) != 0) {
                return false;
            }
        }
        return QORL_Disconnect(b.handle(QORLSIM_DATA)) == 0 &&
               QORL_Disconnect(b.handle(QORLSIM_CONTROL)) == 0;
    }

    static const uint8_t kA[6];
    static const uint8_t kB[6];
    std::string dir_;
};

const uint8_t SimFairness::kA[6] = {0x00, 0x11, 0x22, 0x33, 0x44, 0xA0};
const uint8_t SimFairness::kB[6] = {0x00, 0x11, 0x22, 0x33, 0x44, 0xB0};

TEST_F(SimFairness, ASendHeldByItsLinkHoldsUpNoOtherPrinter) {
    SimClient a(kA);
    OpenBoth(&a);
    std::vector<uint8_t> piece(663, 0xAA);
    std::atomic<int> order{0};
    int aReturned = 0;
    std::thread sender([&] {
        QORL_SendData(a.handle(QORLSIM_DATA), piece.data(), 663);
        aReturned = ++order;
    });
    while (Sent(kA) == 0) { // until A's send is on its 2-second link
        Sleep(1);
    }
    EXPECT_TRUE(BDoesAJob());
    int bFinished = ++order;
    sender.join();
    EXPECT_EQ(1, bFinished);
    EXPECT_EQ(2, aReturned);
    EXPECT_EQ(128u * 512, Sent(kB));
}

TEST_F(SimFairness, ADelayedAnswerOrAStalledCallbackHoldsUpNoOtherPrinter) {
    SimClient a(kA);
    OpenBoth(&a);
    // A's answer comes 2 s late: B connects, is answered and prints meanwhile.
    QorlSimFault delay{QORLSIM_FAULT_RESPONSE_DELAY, 0, 2000, 1, 0, 0, 0};
    ASSERT_EQ(0, QorlSim_SetFault(kA, &delay));
    ASSERT_EQ(0, QORL_SendData(a.handle(QORLSIM_CONTROL), Pdu(5, 1, {}).data(), 6));
    EXPECT_TRUE(BDoesAJob());
    SeenEvent e;
    EXPECT_FALSE(a.Next(QORLSIM_CONTROL, &e, 0)); // A's answer is still on its way
    ASSERT_TRUE(a.Next(QORLSIM_CONTROL, &e, 5000));
    EXPECT_EQ(Pdu(5, 1, {0, 1, QORLSIM_LPT_READY}), e.bytes);

    // A's client sits on its next event: B's events reach B all the same.
    HANDLE released = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    a.StallDataEventsUntil(released);
    ASSERT_EQ(0, QORL_SendData(a.handle(QORLSIM_CONTROL), Pdu(5, 2, {}).data(), 6));
    while (!a.holding) { // until A's answer is in A's callback, held there
        Sleep(1);
    }
    EXPECT_TRUE(BDoesAJob());
    EXPECT_FALSE(a.Next(QORLSIM_CONTROL, &e, 0)); // still held
    SetEvent(released);
    ASSERT_TRUE(a.Next(QORLSIM_CONTROL, &e, 5000));
    EXPECT_EQ(Pdu(5, 2, {0, 1, QORLSIM_LPT_READY}), e.bytes);
    a.StallDataEventsUntil(nullptr);
    CloseHandle(released);
}

} // namespace
