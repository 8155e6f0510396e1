// The connection record of a port and its receive queues, including appends from other
// threads while the monitor's side peeks and pops.

#include <gtest/gtest.h>

#include "entry/monitor.h"
#include "hcrp/hcrp_connection.h"
#include "ports/port_record.h"

#include <cstring>
#include <vector>

namespace {

class ConnectionRecord : public ::testing::Test {
  protected:
    void SetUp() override {
        record_ = CreatePortRecord(&monitor_, L"00:0a:95:12:34:56.1");
        ASSERT_NE(record_, nullptr);
    }
    void TearDown() override { DeletePortRecord(&monitor_, record_); }

    HcrpConnection& connection() { return record_->connection; }

    MonitorHandle monitor_ = {};
    PortRecord* record_ = nullptr;
};

std::vector<uint8_t> Payload(const ReceivedPacket* packet) {
    return std::vector<uint8_t>(packet->data, packet->data + packet->length);
}

} // namespace

TEST_F(ConnectionRecord, AFreshPortStartsClosedWithEmptyQueues) {
    HcrpConnection& c = connection();
    EXPECT_EQ(c.channelFlags, 0);
    EXPECT_EQ(c.IsConnected(), 0);
    EXPECT_EQ(c.controlMtu, 656);
    EXPECT_EQ(c.dataPieceLimit, 1024);
    EXPECT_EQ(c.transactionId, 0);
    EXPECT_EQ(c.sendCredit, 0u);
    EXPECT_EQ(c.retryTimeoutMs, 0u);
    EXPECT_EQ(c.controlPsm, 0);
    EXPECT_EQ(c.dataPsm, 0);
    const uint8_t zero[6] = {};
    EXPECT_EQ(memcmp(c.deviceAddress, zero, 6), 0);
    EXPECT_EQ(c.controlQueue.Peek(), nullptr);
    EXPECT_EQ(c.dataQueue.Pop(), nullptr);
    EXPECT_EQ(c.controlQueue.head, nullptr);
    EXPECT_EQ(c.controlQueue.tail, nullptr);
}

// The events are made once, before the first channel is registered, and kept.
TEST_F(ConnectionRecord, SixDistinctAutoResetEventsNotSignalled) {
    HcrpConnection& c = connection();
    HANDLE* fields[6] = {&c.controlReceived, &c.controlConnected, &c.controlDisconnected,
                         &c.dataReceived,    &c.dataConnected,    &c.dataDisconnected};
    for (HANDLE* field : fields) {
        EXPECT_EQ(*field, nullptr);
    }
    c.CreateEvents();
    HANDLE events[6];
    for (int i = 0; i < 6; ++i) {
        events[i] = *fields[i];
    }
    c.CreateEvents();
    for (int i = 0; i < 6; ++i) {
        EXPECT_EQ(*fields[i], events[i]) << i;
    }
    for (int i = 0; i < 6; ++i) {
        ASSERT_NE(events[i], nullptr) << i;
        for (int j = 0; j < i; ++j) {
            EXPECT_NE(events[i], events[j]);
        }
        EXPECT_EQ(WaitForSingleObject(events[i], 0), static_cast<DWORD>(WAIT_TIMEOUT)) << i;
        // Automatic reset: one wait takes the signal.
        SetEvent(events[i]);
        EXPECT_EQ(WaitForSingleObject(events[i], 0), WAIT_OBJECT_0) << i;
        EXPECT_EQ(WaitForSingleObject(events[i], 0), static_cast<DWORD>(WAIT_TIMEOUT)) << i;
    }
}

TEST_F(ConnectionRecord, ConnectedOnlyWithBothChannelsOpen) {
    HcrpConnection& c = connection();
    c.SetFlags(CONTROL_OPEN);
    EXPECT_EQ(c.IsConnected(), 0);
    c.SetFlags(DATA_OPEN);
    EXPECT_EQ(c.channelFlags, 3);
    EXPECT_EQ(c.IsConnected(), 1);
    c.ClearFlags(CONTROL_OPEN);
    EXPECT_EQ(c.channelFlags, static_cast<LONG>(DATA_OPEN));
    EXPECT_EQ(c.IsConnected(), 0);
    c.ClearFlags(DATA_OPEN);
    EXPECT_EQ(c.channelFlags, 0);
}

TEST_F(ConnectionRecord, QueueIsFirstInFirstOut) {
    ReceiveQueue& queue = connection().controlQueue;
    uint8_t p1[] = {1, 1};
    uint8_t p2[] = {2};
    uint8_t p3[] = {3, 3, 3};
    ASSERT_TRUE(queue.Append(p1, sizeof(p1)));
    ASSERT_TRUE(queue.Append(p2, sizeof(p2)));
    ASSERT_TRUE(queue.Append(p3, sizeof(p3)));
    // Each node holds a copy of its own.
    p1[0] = 9;
    ReceivedPacket* peeked = queue.Peek();
    ASSERT_NE(peeked, nullptr);
    EXPECT_EQ(Payload(peeked), (std::vector<uint8_t>{1, 1}));
    EXPECT_EQ(queue.Peek(), peeked);

    ReceivedPacket* first = queue.Pop();
    EXPECT_EQ(first, peeked);
    ReceivedPacket* second = queue.Pop();
    ASSERT_NE(second, nullptr);
    EXPECT_EQ(Payload(second), std::vector<uint8_t>{2});
    ReceivedPacket* third = queue.Pop();
    ASSERT_NE(third, nullptr);
    EXPECT_EQ(Payload(third), (std::vector<uint8_t>{3, 3, 3}));
    EXPECT_EQ(queue.Pop(), nullptr);
    EXPECT_EQ(queue.Peek(), nullptr);
    for (ReceivedPacket* packet : {first, second, third}) {
        ReceiveQueue::FreePacket(packet);
    }

    // After the last node is gone, the next one is head and tail at once.
    ASSERT_TRUE(queue.Append(p2, sizeof(p2)));
    EXPECT_EQ(queue.head, queue.tail);
    ASSERT_NE(queue.head, nullptr);
    ASSERT_TRUE(queue.Append(p3, sizeof(p3)));
    EXPECT_EQ(queue.head->next, queue.tail);
    // Packets still queued are freed with the record.
}

// A printer that sends without end while nobody reads fills the queue to its limit and no
// further; what was queued stays whole, and room comes back as packets are taken.
TEST_F(ConnectionRecord, QueueHoldsAtMostItsLimitInBytes) {
    ReceiveQueue& queue = connection().dataQueue;
    std::vector<uint8_t> packet(60000, 0x33);
    const uint32_t fits = RECEIVE_QUEUE_LIMIT_BYTES / 60000;
    for (uint32_t i = 0; i < fits; ++i) {
        ASSERT_TRUE(queue.Append(packet.data(), 60000)) << i;
    }
    EXPECT_FALSE(queue.Append(packet.data(), 60000));
    const uint16_t rest = static_cast<uint16_t>(RECEIVE_QUEUE_LIMIT_BYTES - fits * 60000);
    EXPECT_TRUE(queue.Append(packet.data(), rest)); // exactly up to the limit
    EXPECT_FALSE(queue.Append(packet.data(), 1));
    EXPECT_EQ(queue.bytes, RECEIVE_QUEUE_LIMIT_BYTES);

    // Part of the head handed over frees that many bytes; a popped packet the rest of it.
    ReceivedPacket* head = queue.Peek();
    head->length = static_cast<uint16_t>(head->length - 100);
    queue.TookFromHead(100);
    EXPECT_TRUE(queue.Append(packet.data(), 100));
    EXPECT_FALSE(queue.Append(packet.data(), 1));
    ReceiveQueue::FreePacket(queue.Pop());
    EXPECT_EQ(queue.bytes, RECEIVE_QUEUE_LIMIT_BYTES - 59900);
    EXPECT_TRUE(queue.Append(packet.data(), 59900));
    queue.Clear();
    EXPECT_EQ(queue.bytes, 0u);
}

TEST_F(ConnectionRecord, AZeroLengthPacketIsKept) {
    ReceiveQueue& queue = connection().dataQueue;
    ASSERT_TRUE(queue.Append(nullptr, 0));
    ReceivedPacket* packet = queue.Pop();
    ASSERT_NE(packet, nullptr);
    EXPECT_EQ(packet->length, 0);
    EXPECT_NE(packet->data, nullptr);
    ReceiveQueue::FreePacket(packet);
}

namespace {

constexpr int PRODUCERS = 4;
constexpr uint32_t PACKETS_EACH = 5000;

struct Producer {
    ReceiveQueue* queue;
    HANDLE received;
    uint8_t id;
};

// Payload: producer id, 32-bit sequence number, then a length that varies with it.
DWORD WINAPI Produce(LPVOID parameter) {
    auto* producer = static_cast<Producer*>(parameter);
    uint8_t payload[64];
    for (uint32_t sequence = 0; sequence < PACKETS_EACH; ++sequence) {
        payload[0] = producer->id;
        memcpy(payload + 1, &sequence, 4);
        uint16_t length = static_cast<uint16_t>(5 + sequence % 40);
        memset(payload + 5, producer->id ^ static_cast<uint8_t>(sequence), length - 5);
        while (!producer->queue->Append(payload, length)) {
            Sleep(0);
        }
        SetEvent(producer->received);
    }
    return 0;
}

struct Toggler {
    HcrpConnection* connection;
    uint32_t bit;
    HANDLE start;
    volatile LONG* lost;
};

constexpr int TOGGLES = 1000000;

// Sets and clears its own bit; another thread's update written over it shows as its bit in
// the wrong state right after its own update.
DWORD WINAPI Toggle(LPVOID parameter) {
    auto* toggler = static_cast<Toggler*>(parameter);
    WaitForSingleObject(toggler->start, INFINITE);
    LONG lost = 0;
    for (int i = 0; i < TOGGLES; ++i) {
        toggler->connection->SetFlags(toggler->bit);
        if ((toggler->connection->channelFlags & toggler->bit) == 0) {
            ++lost;
        }
        toggler->connection->ClearFlags(toggler->bit);
        if ((toggler->connection->channelFlags & toggler->bit) != 0) {
            ++lost;
        }
    }
    toggler->connection->SetFlags(toggler->bit);
    InterlockedExchangeAdd(toggler->lost, lost);
    return 0;
}

} // namespace

TEST_F(ConnectionRecord, PacketsFromManyThreadsArriveOnceAndInEachThreadsOrder) {
    ReceiveQueue& queue = connection().dataQueue;
    connection().CreateEvents();
    Producer producers[PRODUCERS];
    HANDLE threads[PRODUCERS];
    for (int i = 0; i < PRODUCERS; ++i) {
        producers[i] = {&queue, connection().dataReceived, static_cast<uint8_t>(i)};
        threads[i] = CreateThread(nullptr, 0, Produce, &producers[i], 0, nullptr);
        ASSERT_NE(threads[i], nullptr);
    }

    uint32_t next[PRODUCERS] = {};
    uint32_t total = 0;
    uint32_t errors = 0;
    const uint32_t expected = PRODUCERS * PACKETS_EACH;
    DWORD deadline = GetTickCount() + 60000;
    while (total < expected && GetTickCount() < deadline) {
        if (queue.Peek() == nullptr) {
            WaitForSingleObject(connection().dataReceived, 10);
            continue;
        }
        ReceivedPacket* packet = queue.Pop();
        ASSERT_NE(packet, nullptr);
        uint8_t id = packet->data[0];
        uint32_t sequence = 0;
        memcpy(&sequence, packet->data + 1, 4);
        if (id >= PRODUCERS || sequence != next[id] || packet->length != 5 + sequence % 40) {
            ++errors;
        } else {
            for (uint16_t k = 5; k < packet->length; ++k) {
                if (packet->data[k] != static_cast<uint8_t>(id ^ static_cast<uint8_t>(sequence))) {
                    ++errors;
                    break;
                }
            }
            ++next[id];
        }
        ++total;
        ReceiveQueue::FreePacket(packet);
    }
    WaitForMultipleObjects(PRODUCERS, threads, TRUE, INFINITE);
    for (HANDLE thread : threads) {
        CloseHandle(thread);
    }
    EXPECT_EQ(errors, 0u);
    EXPECT_EQ(total, expected);
    for (int i = 0; i < PRODUCERS; ++i) {
        EXPECT_EQ(next[i], PACKETS_EACH) << "producer " << i;
    }
    EXPECT_EQ(queue.Pop(), nullptr);
    EXPECT_EQ(queue.Peek(), nullptr);
}

TEST_F(ConnectionRecord, FlagUpdatesFromManyThreadsAreNeverLost) {
    volatile LONG lost = 0;
    HANDLE start = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    Toggler togglers[4];
    HANDLE threads[4];
    const uint32_t bits[4] = {CONTROL_OPEN, DATA_OPEN, 0x4, 0x8};
    for (int i = 0; i < 4; ++i) {
        togglers[i] = {&connection(), bits[i], start, &lost};
        threads[i] = CreateThread(nullptr, 0, Toggle, &togglers[i], 0, nullptr);
        ASSERT_NE(threads[i], nullptr);
    }
    SetEvent(start);
    WaitForMultipleObjects(4, threads, TRUE, INFINITE);
    for (HANDLE thread : threads) {
        CloseHandle(thread);
    }
    CloseHandle(start);
    EXPECT_EQ(lost, 0);
    EXPECT_EQ(connection().channelFlags, 0xF);
    EXPECT_EQ(connection().IsConnected(), 1);
}
