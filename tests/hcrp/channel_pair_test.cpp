// Connect, Disconnect and the two channel callbacks of one connection, against the scripted
// library of fake_library.h.

#include <gtest/gtest.h>

#include <cstring>
#include <thread>

#include "fake_library.h"
#include "hcrp/stack_binding.h"

namespace {

using Bytes = std::vector<uint8_t>;

class ChannelPair : public ::testing::Test {
  protected:
    void SetUp() override {
        library = &InstallFakeLibrary();
        library->onControlRequest = [](HcrpConnection* c, const Bytes& request) {
            DeliverControl(c, Response(request, HCRP_STATUS_SUCCESS, {0, 0, 0x10, 0}));
        };
        const uint8_t address[6] = {0x00, 0x11, 0x22, 0x33, 0x44, 0x55};
        memcpy(connection->deviceAddress, address, 6);
        connection->controlPsm = 0x1001;
        connection->dataPsm = 0x1003;
    }
    void TearDown() override { RemoveFakeLibrary(); }

    FakeLibrary* library = nullptr;
    TestConnection connection;
};

TEST_F(ChannelPair, ConnectOpensControlThenDataAndGrantsFirstCredit) {
    connection->sendCredit = 99;
    ASSERT_EQ(1, connection->Connect());
    EXPECT_EQ(CONTROL_OPEN | DATA_OPEN, static_cast<uint32_t>(connection->channelFlags));
    EXPECT_EQ(0u, connection->sendCredit);

    ASSERT_EQ(2u, library->registered.size());
    const ChannelDescriptor& control = library->registered[0];
    EXPECT_EQ(&HcrpConnection::OnControlEvent, control.callback);
    EXPECT_EQ(connection.record, control.context);
    EXPECT_EQ(0x1001, control.psm);
    EXPECT_EQ(656, control.inMtu);
    EXPECT_EQ(128, control.outMtu);
    const ChannelDescriptor& data = library->registered[1];
    EXPECT_EQ(&HcrpConnection::OnDataEvent, data.callback);
    EXPECT_EQ(connection.record, data.context);
    EXPECT_EQ(0x1003, data.psm);
    EXPECT_EQ(1024, data.inMtu);
    EXPECT_EQ(512, data.outMtu);

    ASSERT_EQ(2u, library->connects.size());
    EXPECT_EQ(0x1001, library->connects[0].psm);
    EXPECT_EQ(0x1003, library->connects[1].psm);
    EXPECT_EQ(0, memcmp(connection->deviceAddress, library->connects[1].address, 6));

    // The first control PDU goes out on the handle that the connected event delivered.
    ASSERT_EQ(1u, library->sent.size());
    EXPECT_EQ(FAKE_CONTROL_HANDLE, library->sent[0].handle);
    EXPECT_EQ((Bytes{0x00, 0x01, 0x00, 0x00, 0x00, 0x04, 0x00, 0x00, 0x02, 0x00}),
              library->sent[0].bytes);
    EXPECT_EQ(FAKE_DATA_HANDLE, connection->dataChannel.handle);

    // Connected: nothing more is done.
    EXPECT_EQ(1, connection->Connect());
    EXPECT_EQ(2u, library->connects.size());
    EXPECT_EQ(1u, library->sent.size());

    EXPECT_EQ(1, connection->Disconnect());
    EXPECT_EQ((std::vector<uint16_t>{FAKE_CONTROL_HANDLE, FAKE_DATA_HANDLE}), library->disconnects);
    EXPECT_EQ(0, connection->channelFlags);
    EXPECT_EQ(0u, connection->sendCredit);
}

TEST_F(ChannelPair, HalfOpenPairIsOpenedAfresh) {
    ASSERT_EQ(1, connection->Connect());
    DeliverEvent(connection.record, true, EVENT_DISCONNECTED, 0, 0, 0, 0, 0);
    EXPECT_EQ(CONTROL_OPEN, static_cast<uint32_t>(connection->channelFlags));
    EXPECT_EQ(0, connection->IsConnected());
    ASSERT_EQ(1, connection->Connect());
    EXPECT_EQ(1, connection->IsConnected());
    EXPECT_EQ((std::vector<uint16_t>{FAKE_CONTROL_HANDLE}), library->disconnects);
    EXPECT_EQ(4u, library->connects.size());
}

TEST_F(ChannelPair, FailedStepsReturnZero) {
    library->registerResult = 1;
    EXPECT_EQ(0, connection->Connect());
    EXPECT_TRUE(library->connects.empty());

    library->registerResult = 0;
    library->controlConnectResult = 7;
    EXPECT_EQ(0, connection->Connect());
    EXPECT_EQ(1u, library->connects.size());
    EXPECT_TRUE(library->sent.empty());

    // Data channel refused: the control channel is closed again.
    library->controlConnectResult = 0;
    library->dataConnectResult = 7;
    EXPECT_EQ(0, connection->Connect());
    EXPECT_EQ((std::vector<uint16_t>{FAKE_CONTROL_HANDLE}), library->disconnects);
    EXPECT_EQ(0, connection->channelFlags);
    EXPECT_TRUE(library->sent.empty());

    // First credit grant refused: both closed.
    library->dataConnectResult = 0;
    library->disconnects.clear();
    library->onControlRequest = [](HcrpConnection* c, const Bytes& request) {
        DeliverControl(c, Response(request, 0xFFFF));
    };
    EXPECT_EQ(0, connection->Connect());
    EXPECT_EQ((std::vector<uint16_t>{FAKE_CONTROL_HANDLE, FAKE_DATA_HANDLE}), library->disconnects);
    EXPECT_EQ(0, connection->channelFlags);

    // No connected event (no handle) within the 100 ms: no grant is sent into the void.
    library->onControlRequest = [](HcrpConnection* c, const Bytes& request) {
        DeliverControl(c, Response(request, HCRP_STATUS_SUCCESS));
    };
    library->reportConnected = false;
    library->sent.clear();
    const DWORD start = GetTickCount();
    EXPECT_EQ(0, connection->Connect());
    EXPECT_LT(GetTickCount() - start, 1000u);
    EXPECT_TRUE(library->sent.empty());
    EXPECT_EQ(0, connection->channelFlags);
    library->reportConnected = true;

    // Library not loadable.
    g_stackBinding.module = nullptr;
    library->connects.clear();
    EXPECT_EQ(0, connection->Connect());
    EXPECT_TRUE(library->connects.empty());
}

TEST_F(ChannelPair, DataChannelMtuOnlyEverFalls) {
    library->dataOutMtu = 672;
    ASSERT_EQ(1, connection->Connect());
    EXPECT_EQ(672, connection->dataPieceLimit);
    EXPECT_EQ(672, connection->dataChannel.outMtu);
    connection->Disconnect();
    library->dataOutMtu = 2048;
    ASSERT_EQ(1, connection->Connect());
    EXPECT_EQ(672, connection->dataPieceLimit);
    EXPECT_EQ(672, library->registered.back().inMtu);
    connection->Disconnect();

    // outMtu 0 is ignored: the limit stays and data still flows.
    library->dataOutMtu = 0;
    ASSERT_EQ(1, connection->Connect());
    EXPECT_EQ(672, connection->dataPieceLimit);
    const Bytes data(1000, 0x5A);
    uint32_t sent = 0;
    EXPECT_EQ(1, connection->Write(data.data(), 1000, &sent));
    EXPECT_EQ(1000u, sent);
    const auto pieces = library->DataPieces();
    ASSERT_EQ(2u, pieces.size());
    EXPECT_EQ(672u, pieces[0].size());
    EXPECT_EQ(328u, pieces[1].size());
}

TEST_F(ChannelPair, EventsThatChangeNothing) {
    // Connected with a nonzero result, null context, unknown type, data on a closed channel.
    DeliverEvent(connection.record, false, EVENT_CONNECTED, 3, 0x99, 0x2001, 100, 100);
    DeliverEvent(nullptr, false, EVENT_CONNECTED, 0, 0x99, 0x2001, 100, 100);
    DeliverEvent(connection.record, false, 1, 0, 0x99, 0x2001, 100, 100);
    DeliverEvent(connection.record, false, 6, 0, 0x99, 0x2001, 100, 100);
    DeliverControl(connection.record, {1, 2, 3, 4});
    DeliverData(connection.record, {1, 2, 3, 4});
    EXPECT_EQ(0, connection->channelFlags);
    EXPECT_EQ(0, connection->controlChannel.handle);
    EXPECT_EQ(0x1001, connection->controlPsm);
    EXPECT_EQ(0u, QueueLength(connection->controlQueue));
    EXPECT_EQ(0u, QueueLength(connection->dataQueue));
    EXPECT_EQ(static_cast<DWORD>(WAIT_TIMEOUT),
              WaitForSingleObject(connection->controlConnected, 0));
    EXPECT_EQ(static_cast<DWORD>(WAIT_TIMEOUT),
              WaitForSingleObject(connection->controlReceived, 0));
    EXPECT_EQ(static_cast<DWORD>(WAIT_TIMEOUT), WaitForSingleObject(connection->dataReceived, 0));
}

TEST_F(ChannelPair, ChannelEventsFollowTheLibrary) {
    DeliverEvent(connection.record, false, EVENT_CONNECTED, 0, 0x77, 0x2001, 300, 200);
    EXPECT_EQ(CONTROL_OPEN, static_cast<uint32_t>(connection->channelFlags));
    EXPECT_EQ(0x77, connection->controlChannel.handle);
    EXPECT_EQ(0x2001, connection->controlPsm);
    EXPECT_EQ(300, connection->controlChannel.inMtu);
    EXPECT_EQ(200, connection->controlChannel.outMtu);
    EXPECT_EQ(WAIT_OBJECT_0, WaitForSingleObject(connection->controlConnected, 0));

    // A zero-length packet is queued and signalled.
    DeliverControl(connection.record, {});
    ASSERT_EQ(1u, QueueLength(connection->controlQueue));
    EXPECT_EQ(0, connection->controlQueue.Peek()->length);
    EXPECT_EQ(WAIT_OBJECT_0, WaitForSingleObject(connection->controlReceived, 0));
    ReceiveQueue::FreePacket(connection->controlQueue.Pop());

    // Three packets before anyone waits: three nodes in order, one signal.
    DeliverControl(connection.record, {1});
    DeliverControl(connection.record, {2});
    DeliverControl(connection.record, {3});
    ASSERT_EQ(3u, QueueLength(connection->controlQueue));
    ReceivedPacket* node = connection->controlQueue.Peek();
    for (uint8_t expected = 1; expected <= 3; ++expected, node = node->next) {
        EXPECT_EQ(expected, node->data[0]);
    }
    EXPECT_EQ(WAIT_OBJECT_0, WaitForSingleObject(connection->controlReceived, 0));
    EXPECT_EQ(static_cast<DWORD>(WAIT_TIMEOUT),
              WaitForSingleObject(connection->controlReceived, 0));

    DeliverEvent(connection.record, false, EVENT_CLOSED, 0, 0, 0, 0, 0);
    EXPECT_EQ(0, connection->channelFlags);
    EXPECT_EQ(0, connection->controlChannel.handle);
    EXPECT_EQ(static_cast<DWORD>(WAIT_TIMEOUT),
              WaitForSingleObject(connection->controlDisconnected, 0));
    DeliverEvent(connection.record, true, EVENT_CONNECTED, 0, 0x78, 0x2003, 300, 900);
    EXPECT_EQ(DATA_OPEN, static_cast<uint32_t>(connection->channelFlags));
    EXPECT_EQ(900, connection->dataPieceLimit);
    DeliverEvent(connection.record, true, EVENT_DISCONNECTED, 0, 0, 0, 0, 0);
    EXPECT_EQ(0, connection->channelFlags);
    EXPECT_EQ(WAIT_OBJECT_0, WaitForSingleObject(connection->dataDisconnected, 0));
}

TEST_F(ChannelPair, QueuesSurviveDisconnectAndStaleControlPacketsDoNotHurt) {
    ASSERT_EQ(1, connection->Connect());
    DeliverData(connection.record, {9, 8, 7});
    // A late answer and an unsolicited PDU arrive just before the pair is closed.
    DeliverControl(connection.record, ResponseFor(PDU_CREDIT_REQUEST, 0, HCRP_STATUS_SUCCESS));
    DeliverControl(connection.record, ResponseFor(0x000A, 0, HCRP_STATUS_SUCCESS));
    EXPECT_EQ(1, connection->Disconnect());
    EXPECT_EQ(1u, QueueLength(connection->dataQueue));

    EXPECT_EQ(1, connection->Connect());
    ASSERT_NE(nullptr, connection->dataQueue.Peek());
    EXPECT_EQ(3, connection->dataQueue.Peek()->length);
    uint8_t buffer[8];
    uint32_t count = 0;
    EXPECT_EQ(1, connection->Read(buffer, sizeof(buffer), &count));
    EXPECT_EQ(3u, count);
    EXPECT_EQ(1, connection->CreditRequest());
    EXPECT_EQ(4096u, connection->sendCredit);
    EXPECT_EQ(0u, QueueLength(connection->controlQueue));
}

TEST_F(ChannelPair, DisconnectCallsTheLibraryOnlyForOpenChannels) {
    EXPECT_EQ(1, connection->Disconnect());
    EXPECT_TRUE(library->disconnects.empty());
    ASSERT_EQ(1, connection->Connect());
    // The library was unloaded by another port meanwhile: not called, bits still cleared.
    g_stackBinding.module = nullptr;
    EXPECT_EQ(1, connection->Disconnect());
    EXPECT_TRUE(library->disconnects.empty());
    EXPECT_EQ(0, connection->channelFlags);
}

TEST_F(ChannelPair, CloseEventOfAReplacedChannelIsIgnored) {
    DeliverEvent(connection.record, true, EVENT_CONNECTED, 0, 0x51, 0x1003, 1024, 1024);
    DeliverEvent(connection.record, true, EVENT_DISCONNECTED, 0, 0x50, 0, 0, 0);
    EXPECT_EQ(DATA_OPEN, static_cast<uint32_t>(connection->channelFlags));
    EXPECT_EQ(0x51, connection->dataChannel.handle);
    DeliverEvent(connection.record, true, EVENT_CLOSED, 0, 0x51, 0, 0, 0);
    EXPECT_EQ(0, connection->channelFlags);
    EXPECT_EQ(0, connection->dataChannel.handle);
}

TEST_F(ChannelPair, ControlChannelLossEndsAResponseWaitAtOnce) {
    connection.MarkOpen();
    const Bytes request = {0x00, 0x05, 0x00, 0x01, 0x00, 0x00};
    std::thread printer([&] {
        Sleep(100);
        DeliverEvent(connection.record, false, EVENT_CLOSED, 0, FAKE_CONTROL_HANDLE, 0, 0, 0);
    });
    uint16_t length = 0;
    const DWORD start = GetTickCount();
    EXPECT_EQ(RESPONSE_CHANNEL_CLOSED,
              connection->WaitResponse(request.data(), 0, nullptr, &length));
    printer.join();
    EXPECT_LT(GetTickCount() - start, 2000u);
}

} // namespace
