// Control requests, the response wait, credit-based Write and Read of one connection, against
// the scripted library of fake_library.h.

#include <gtest/gtest.h>

#include <thread>

#include "fake_library.h"
#include "hcrp/stack_binding.h"

namespace {

using Bytes = std::vector<uint8_t>;

uint16_t PduId(const Bytes& pdu) {
    return static_cast<uint16_t>((pdu[0] << 8) | pdu[1]);
}

class HcrpProtocol : public ::testing::Test {
  protected:
    void SetUp() override {
        library = &InstallFakeLibrary();
        connection.MarkOpen();
    }
    void TearDown() override { RemoveFakeLibrary(); }

    // Answers every Credit Request with the next value of `credits` (the last one repeats)
    // and every other request with a bare Success.
    void GrantCredits(std::vector<uint32_t> credits) {
        auto next = std::make_shared<size_t>(0);
        library->onControlRequest = [credits, next](HcrpConnection* c, const Bytes& request) {
            if (PduId(request) == PDU_CREDIT_REQUEST) {
                const uint32_t credit = credits[std::min(*next, credits.size() - 1)];
                ++*next;
                DeliverControl(c, Response(request, HCRP_STATUS_SUCCESS, CreditBytes(credit)));
            } else {
                DeliverControl(c, Response(request, HCRP_STATUS_SUCCESS));
            }
        };
    }

    FakeLibrary* library = nullptr;
    TestConnection connection;
};

TEST_F(HcrpProtocol, RequestsReachThePrinterByteForByte) {
    library->onControlRequest = [](HcrpConnection* c, const Bytes& request) {
        DeliverControl(c, Response(request, HCRP_STATUS_SUCCESS));
    };
    connection->transactionId = 7;
    EXPECT_EQ(1, connection->CreditGrant(512));
    connection->transactionId = 7;
    EXPECT_EQ(1, connection->CreditRequest());
    connection->transactionId = 7;
    uint8_t status = 0x55;
    EXPECT_EQ(1, connection->GetLPTStatus(&status));
    EXPECT_EQ(0x55, status); // a Success without status byte leaves it as it was
    connection->transactionId = 7;
    uint8_t id[16];
    uint16_t total = 0;
    uint32_t copied = 0;
    connection->Get1284ID(id, sizeof(id), &total, &copied);

    ASSERT_EQ(4u, library->sent.size());
    for (const SentPacket& packet : library->sent) {
        EXPECT_EQ(FAKE_CONTROL_HANDLE, packet.handle);
    }
    EXPECT_EQ((Bytes{0x00, 0x01, 0x00, 0x07, 0x00, 0x04, 0x00, 0x00, 0x02, 0x00}),
              library->sent[0].bytes);
    EXPECT_EQ((Bytes{0x00, 0x02, 0x00, 0x07, 0x00, 0x00}), library->sent[1].bytes);
    EXPECT_EQ((Bytes{0x00, 0x05, 0x00, 0x07, 0x00, 0x00}), library->sent[2].bytes);
    EXPECT_EQ((Bytes{0x00, 0x06, 0x00, 0x07, 0x00, 0x04, 0x00, 0x00, 0x02, 0x90}),
              library->sent[3].bytes);
}

TEST_F(HcrpProtocol, TransactionIdAdvancesPerRequestAndWraps) {
    GrantCredits({0});
    connection->transactionId = 0xFFFF;
    connection->CreditGrant(1);
    connection->CreditGrant(1);
    ASSERT_EQ(2u, library->sent.size());
    EXPECT_EQ(0xFF, library->sent[0].bytes[2]);
    EXPECT_EQ(0xFF, library->sent[0].bytes[3]);
    EXPECT_EQ(0x00, library->sent[1].bytes[3]);
    EXPECT_EQ(1, connection->transactionId);
}

TEST_F(HcrpProtocol, WaitResponseTakesExactlyTheAnswerAndLeavesLaterPackets) {
    const Bytes request = {0x00, 0x05, 0x00, 0x03, 0x00, 0x00};
    DeliverControl(connection.record, Response(request, HCRP_STATUS_SUCCESS, {0x18}));
    DeliverControl(connection.record, ResponseFor(0x0005, 4, HCRP_STATUS_SUCCESS, {0x10}));
    uint8_t status = 0;
    uint16_t length = 0xFFFF;
    EXPECT_EQ(HCRP_STATUS_SUCCESS, connection->WaitResponse(request.data(), 1, &status, &length));
    EXPECT_EQ(1, length);
    EXPECT_EQ(0x18, status);
    EXPECT_EQ(1u, QueueLength(connection->controlQueue));

    ASSERT_NE(nullptr, connection->controlQueue.Peek());
    EXPECT_EQ(4, connection->controlQueue.Peek()->data[3]);
    ReceiveQueue::FreePacket(connection->controlQueue.Pop());

    // A broken answer with the right IDs is this request's answer: consumed, and its
    // verdict returned at once.
    const Bytes next = {0x00, 0x05, 0x00, 0x05, 0x00, 0x00};
    DeliverControl(connection.record, {0x00, 0x05, 0x00, 0x05, 0x00, 0x01, 0x00, 0x01});
    DeliverControl(connection.record, ResponseFor(0x0005, 6, HCRP_STATUS_SUCCESS, {0x10}));
    EXPECT_EQ(RESPONSE_MALFORMED, connection->WaitResponse(next.data(), 1, &status, &length));
    EXPECT_EQ(0, length);
    EXPECT_EQ(1u, QueueLength(connection->controlQueue));

    EXPECT_EQ(RESPONSE_MALFORMED, connection->WaitResponse(nullptr, 1, &status, &length));
}

// A late response (to a request that already timed out), a duplicated one, a PDU the printer
// sent on its own and a fragment too short to carry IDs: each is consumed and the request
// still gets its own answer, also when that comes later.
TEST_F(HcrpProtocol, StrayControlPacketsAreSkipped) {
    const Bytes request = {0x00, 0x02, 0x00, 0x09, 0x00, 0x00};
    DeliverControl(connection.record, ResponseFor(0x0002, 8, HCRP_STATUS_SUCCESS, CreditBytes(9)));
    DeliverControl(connection.record, ResponseFor(0x0002, 8, HCRP_STATUS_SUCCESS, CreditBytes(9)));
    DeliverControl(connection.record, ResponseFor(0x000A, 0x1234, HCRP_STATUS_SUCCESS));
    DeliverControl(connection.record, {0x00});
    DeliverControl(connection.record, {});
    std::thread printer([&] {
        Sleep(150);
        DeliverControl(connection.record,
                       Response(request, HCRP_STATUS_SUCCESS, CreditBytes(0x01020304)));
    });
    uint8_t credit[4] = {};
    uint16_t length = 0;
    const DWORD start = GetTickCount();
    EXPECT_EQ(HCRP_STATUS_SUCCESS, connection->WaitResponse(request.data(), 4, credit, &length));
    printer.join();
    EXPECT_LT(GetTickCount() - start, 5000u);
    EXPECT_EQ(4, length);
    EXPECT_EQ(0x01020304u, ReadBigEndian32(credit));
    EXPECT_EQ(0u, QueueLength(connection->controlQueue));
}

TEST_F(HcrpProtocol, PortRecoversFromALateResponse) {
    // The printer answers every Credit Request twice: the duplicate sits in the queue when
    // the next request is sent. Every request must still succeed with its own credit.
    uint32_t credit = 100;
    library->onControlRequest = [&credit](HcrpConnection* c, const Bytes& request) {
        const Bytes answer = Response(request, HCRP_STATUS_SUCCESS, CreditBytes(credit++));
        DeliverControl(c, answer);
        DeliverControl(c, answer);
    };
    for (int i = 0; i < 5; ++i) {
        ASSERT_EQ(1, connection->CreditRequest()) << i;
    }
    EXPECT_EQ(100u + 101 + 102 + 103 + 104, connection->sendCredit);
    EXPECT_EQ(1u, QueueLength(connection->controlQueue));
}

TEST_F(HcrpProtocol, ClosedChannelIsReportedBeforeAnythingElse) {
    const Bytes request = {0x00, 0x05, 0x00, 0x01, 0x00, 0x00};
    DeliverControl(connection.record, Response(request, HCRP_STATUS_SUCCESS, {0x18}));
    connection->ClearFlags(CONTROL_OPEN);
    uint8_t status = 0;
    uint16_t length = 0xFFFF;
    EXPECT_EQ(RESPONSE_CHANNEL_CLOSED,
              connection->WaitResponse(request.data(), 1, &status, &length));
    EXPECT_EQ(0, length);
    EXPECT_EQ(1u, QueueLength(connection->controlQueue));
}

TEST_F(HcrpProtocol, SignalWithoutPacketKeepsWaiting) {
    const Bytes request = {0x00, 0x05, 0x00, 0x01, 0x00, 0x00};
    connection->SignalControlReceived();
    std::thread printer([&] {
        Sleep(100);
        DeliverControl(connection.record, Response(request, HCRP_STATUS_SUCCESS, {0x10}));
    });
    uint8_t status = 0;
    uint16_t length = 0;
    EXPECT_EQ(HCRP_STATUS_SUCCESS, connection->WaitResponse(request.data(), 1, &status, &length));
    printer.join();
    EXPECT_EQ(0x10, status);
}

// The one test of the 10 s response time-out: three connections wait side by side, one hears
// nothing at all, one only a stray packet, and one loses its control channel without any
// signal (the closed channel is reported before the time-out).
TEST_F(HcrpProtocol, ResponseTimeout) {
    TestConnection silent, stray, closed;
    silent.MarkOpen();
    stray.MarkOpen();
    closed.MarkOpen();
    const Bytes request = {0x00, 0x02, 0x00, 0x01, 0x00, 0x00};
    DeliverControl(stray.record, ResponseFor(0x0002, 0x0000, HCRP_STATUS_SUCCESS));
    struct Waiter {
        TestConnection* connection;
        uint16_t status;
        DWORD elapsed;
    } waiters[] = {{&silent, 0, 0}, {&stray, 0, 0}, {&closed, 0, 0}};
    std::vector<std::thread> threads;
    for (Waiter& waiter : waiters) {
        threads.emplace_back([&waiter, &request] {
            uint16_t length = 0;
            const DWORD start = GetTickCount();
            waiter.status = (*waiter.connection)->WaitResponse(request.data(), 0, nullptr, &length);
            waiter.elapsed = GetTickCount() - start;
        });
    }
    Sleep(200);
    closed->ClearFlags(CONTROL_OPEN);
    for (std::thread& thread : threads) {
        thread.join();
    }
    EXPECT_EQ(RESPONSE_TIMEOUT, waiters[0].status);
    EXPECT_EQ(RESPONSE_MISMATCH, waiters[1].status);
    EXPECT_EQ(0u, QueueLength(stray->controlQueue));
    EXPECT_EQ(RESPONSE_CHANNEL_CLOSED, waiters[2].status);
    for (const Waiter& waiter : waiters) {
        EXPECT_GE(waiter.elapsed, 9900u);
        EXPECT_LT(waiter.elapsed, 12000u);
    }
}

TEST_F(HcrpProtocol, FailedWaitIsAFailureStatus) {
    const Bytes request = {0x00, 0x05, 0x00, 0x01, 0x00, 0x00};
    const HANDLE event = connection->controlReceived;
    connection->controlReceived = nullptr;
    uint16_t length = 0;
    const uint16_t status = connection->WaitResponse(request.data(), 0, nullptr, &length);
    connection->controlReceived = event;
    EXPECT_EQ(RESPONSE_WAIT_FAILED, status);
}

TEST_F(HcrpProtocol, CreditRequestTakesOnlyAWholeCreditValue) {
    std::vector<Bytes> answers = {CreditBytes(4096), {}, {0x10, 0x00}, CreditBytes(0xFFFFFFFF)};
    size_t next = 0;
    library->onControlRequest = [&](HcrpConnection* c, const Bytes& request) {
        DeliverControl(c, Response(request, HCRP_STATUS_SUCCESS, answers[next++]));
    };
    EXPECT_EQ(1, connection->CreditRequest());
    EXPECT_EQ(4096u, connection->sendCredit);
    EXPECT_EQ(1, connection->CreditRequest()); // no credit bytes: adds nothing
    EXPECT_EQ(4096u, connection->sendCredit);
    EXPECT_EQ(0, connection->CreditRequest()); // two bytes would read as 0x10000000
    EXPECT_EQ(4096u, connection->sendCredit);
    EXPECT_EQ(1, connection->CreditRequest()); // saturates rather than wraps
    EXPECT_EQ(0xFFFFFFFFu, connection->sendCredit);

    library->onControlRequest = [](HcrpConnection* c, const Bytes& request) {
        DeliverControl(c, Response(request, 0x0002));
    };
    EXPECT_EQ(0, connection->CreditRequest());
    EXPECT_EQ(0, connection->CreditGrant(10));
}

TEST_F(HcrpProtocol, LptStatusAndFeatureUnsupported) {
    uint16_t answer = HCRP_STATUS_SUCCESS;
    library->onControlRequest = [&answer](HcrpConnection* c, const Bytes& request) {
        DeliverControl(c, Response(request, answer, {0x10, 0x99}));
    };
    uint8_t status = 0;
    EXPECT_EQ(1, connection->GetLPTStatus(&status));
    EXPECT_EQ(0x10, status);
    answer = HCRP_STATUS_FEATURE_UNSUPPORTED;
    EXPECT_EQ(1, connection->GetLPTStatus(&status));
    EXPECT_EQ(0x18, status);
    answer = 0x0002;
    status = 0x77;
    EXPECT_EQ(0, connection->GetLPTStatus(&status));
    EXPECT_EQ(0x77, status);
}

// A printer holding a device ID of `size` bytes (its first two bytes the big-endian length)
// that answers at most `firstSlice` bytes to the first request.
class DeviceIdPrinter {
  public:
    DeviceIdPrinter(FakeLibrary* library, size_t size, size_t firstSlice) : id(size) {
        for (size_t i = 0; i < size; ++i) {
            id[i] = static_cast<uint8_t>('A' + i % 26);
        }
        id[0] = static_cast<uint8_t>(size >> 8);
        id[1] = static_cast<uint8_t>(size);
        library->onControlRequest = [this, firstSlice](HcrpConnection* c, const Bytes& request) {
            const size_t offset = (request[6] << 8) | request[7];
            size_t asked = (request[8] << 8) | request[9];
            if (requests.empty()) {
                asked = std::min(asked, firstSlice);
            }
            requests.push_back({offset, (size_t)((request[8] << 8) | request[9])});
            const size_t end = std::min(id.size(), offset + asked);
            const Bytes slice(id.begin() + std::min(offset, id.size()), id.begin() + end);
            DeliverControl(c, Response(request, HCRP_STATUS_SUCCESS, slice));
        };
    }
    Bytes id;
    std::vector<std::pair<size_t, size_t>> requests; // offset, maximum length
};

struct IdResult {
    int result;
    uint16_t total;
    uint32_t copied;
    Bytes destination;
};

IdResult QueryId(TestConnection& connection, uint32_t capacity) {
    IdResult r{0, 0xFFFF, 0xFFFF, Bytes(capacity + 8, 0xAA)};
    r.result = connection->Get1284ID(r.destination.data(), capacity, &r.total, &r.copied);
    return r;
}

// How an ID is asked for in slices and what reaches the caller's buffer: the requests made
// (offset, maximum length), the result, the ID's total length and the bytes copied, which
// are the ID's first bytes with nothing written after them.
TEST_F(HcrpProtocol, DeviceIdSlicing) {
    typedef std::vector<std::pair<size_t, size_t>> Requests;
    struct Case {
        const char* what;
        size_t idLength;
        size_t answerLength; // more than idLength: bytes beyond the length field
        uint32_t capacity;
        int result;
        uint16_t total;
        uint32_t copied;
        Requests requests;
    } cases[] = {
        {"one slice", 300, 300, 1024, 1, 300, 300, {{0, 656}}},
        {"two slices", 1000, 1000, 2000, 1, 1000, 1000, {{0, 656}, {656, 344}}},
        {"cut to the capacity", 1000, 1000, 700, 1, 1000, 700, {{0, 656}, {656, 44}}},
        {"first slice beyond the capacity", 1000, 1000, 200, 0, 1000, 200, {{0, 656}}},
        {"answer longer than its length field", 50, 80, 1024, 1, 50, 50, {{0, 656}}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        DeviceIdPrinter printer(library, c.idLength, 656);
        printer.id.resize(c.answerLength, 'Z');
        const IdResult r = QueryId(connection, c.capacity);
        EXPECT_EQ(c.result, r.result);
        EXPECT_EQ(c.total, r.total);
        EXPECT_EQ(c.copied, r.copied);
        EXPECT_EQ(c.requests, printer.requests);
        EXPECT_TRUE(
            std::equal(printer.id.begin(), printer.id.begin() + c.copied, r.destination.begin()));
        EXPECT_EQ(0xAA, r.destination[c.copied]);
    }
}

TEST_F(HcrpProtocol, DeviceIdFromBrokenPrinters) {
    // Success with fewer than the two bytes of the length field: nothing to place.
    library->onControlRequest = [](HcrpConnection* c, const Bytes& request) {
        DeliverControl(c, Response(request, HCRP_STATUS_SUCCESS, {0x03}));
    };
    IdResult r = QueryId(connection, 100);
    EXPECT_EQ(0, r.result);
    EXPECT_EQ(0, r.total);
    EXPECT_EQ(0u, r.copied);

    // Follow-up answers that are Success but empty: a bounded number of tries.
    size_t requests = 0;
    library->onControlRequest = [&requests](HcrpConnection* c, const Bytes& request) {
        ++requests;
        if (requests == 1) {
            DeliverControl(c, Response(request, HCRP_STATUS_SUCCESS, {0x03, 0xE8, 'M', 'F'}));
        } else {
            DeliverControl(c, Response(request, HCRP_STATUS_SUCCESS));
        }
    };
    r = QueryId(connection, 2000);
    EXPECT_EQ(0, r.result);
    EXPECT_EQ(1000, r.total);
    EXPECT_EQ(4u, r.copied);
    EXPECT_EQ(4u, requests);

    // A follow-up refused: 0, with what was copied so far.
    requests = 0;
    library->onControlRequest = [&requests](HcrpConnection* c, const Bytes& request) {
        ++requests;
        DeliverControl(c, requests == 1 ? Response(request, HCRP_STATUS_SUCCESS, {0x03, 0xE8, 'M'})
                                        : Response(request, 0xFFFF));
    };
    r = QueryId(connection, 2000);
    EXPECT_EQ(0, r.result);
    EXPECT_EQ(3u, r.copied);
    EXPECT_EQ(1000, r.total);
}

Bytes Pattern(size_t size) {
    Bytes data(size);
    for (size_t i = 0; i < size; ++i) {
        data[i] = static_cast<uint8_t>(i * 7 + i / 251);
    }
    return data;
}

TEST_F(HcrpProtocol, WriteNothing) {
    GrantCredits({1024});
    uint32_t sent = 99;
    EXPECT_EQ(1, connection->Write(nullptr, 0, &sent));
    EXPECT_EQ(0u, sent);
    EXPECT_TRUE(library->sent.empty());
}

TEST_F(HcrpProtocol, WriteInPiecesUnderCredit) {
    GrantCredits({1024});
    const Bytes data = Pattern(3000);
    uint32_t sent = 0;
    EXPECT_EQ(1, connection->Write(data.data(), 3000, &sent));
    EXPECT_EQ(3000u, sent);
    EXPECT_EQ(72u, connection->sendCredit);
    // Credit Request, piece, Credit Request, piece, Credit Request, piece.
    ASSERT_EQ(6u, library->sent.size());
    const size_t sizes[] = {1024, 1024, 952};
    size_t offset = 0;
    for (size_t i = 0; i < 3; ++i) {
        EXPECT_EQ(FAKE_CONTROL_HANDLE, library->sent[2 * i].handle);
        EXPECT_EQ(PDU_CREDIT_REQUEST, PduId(library->sent[2 * i].bytes));
        const SentPacket& piece = library->sent[2 * i + 1];
        EXPECT_EQ(FAKE_DATA_HANDLE, piece.handle);
        ASSERT_EQ(sizes[i], piece.bytes.size());
        EXPECT_TRUE(std::equal(piece.bytes.begin(), piece.bytes.end(), data.begin() + offset));
        offset += sizes[i];
    }
}

TEST_F(HcrpProtocol, WriteWaitsUntilCreditCoversThePiece) {
    GrantCredits({500, 600});
    const Bytes data = Pattern(1024);
    uint32_t sent = 0;
    const DWORD start = GetTickCount();
    EXPECT_EQ(1, connection->Write(data.data(), 1024, &sent));
    EXPECT_GE(GetTickCount() - start, 450u); // one sleep between the two requests
    EXPECT_EQ(76u, connection->sendCredit);
    ASSERT_EQ(3u, library->sent.size());
    EXPECT_EQ(PDU_CREDIT_REQUEST, PduId(library->sent[0].bytes));
    EXPECT_EQ(PDU_CREDIT_REQUEST, PduId(library->sent[1].bytes));
    EXPECT_EQ(1024u, library->sent[2].bytes.size());
}

// The credit time-out: counted 1000 ms per 500 ms sleep, over the whole call.
TEST_F(HcrpProtocol, WriteGivesUpWhenCreditNeverComes) {
    GrantCredits({1024, 0});
    connection->retryTimeoutMs = 2000;
    const Bytes data = Pattern(2048);
    uint32_t sent = 0;
    SetLastError(0);
    EXPECT_EQ(0, connection->Write(data.data(), 2048, &sent));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_TIMEOUT));
    EXPECT_EQ(1024u, sent);
    // One request for the first piece, then two refused requests with a sleep after each.
    EXPECT_EQ(3u, library->ControlRequests().size());
    EXPECT_EQ(1u, library->DataPieces().size());
    EXPECT_TRUE(connection->IsConnected());

    library->sent.clear();
    connection->retryTimeoutMs = 0;
    EXPECT_EQ(0, connection->Write(data.data(), 2048, &sent));
    EXPECT_EQ(0u, sent);
    EXPECT_EQ(1u, library->ControlRequests().size());
}

TEST_F(HcrpProtocol, WriteFailures) {
    GrantCredits({4096});
    const Bytes data = Pattern(2000);
    uint32_t sent = 1234;
    connection->ClearFlags(DATA_OPEN);
    SetLastError(0);
    EXPECT_EQ(0, connection->Write(data.data(), 2000, &sent));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_DEVICE_NOT_CONNECTED));
    EXPECT_EQ(1234u, sent);
    EXPECT_TRUE(library->sent.empty());

    connection->SetFlags(DATA_OPEN);
    library->dataSendResult = 5;
    SetLastError(0);
    EXPECT_EQ(0, connection->Write(data.data(), 2000, &sent));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_DEVICE_NOT_CONNECTED));
    EXPECT_EQ(0u, sent);

    library->onControlRequest = [](HcrpConnection* c, const Bytes& request) {
        DeliverControl(c, Response(request, 0xFFFF));
    };
    library->dataSendResult = 0;
    connection->sendCredit = 0;
    SetLastError(0);
    EXPECT_EQ(0, connection->Write(data.data(), 2000, &sent));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_TIMEOUT)); // the printer refused credit
    EXPECT_EQ(0u, sent);

    // The library was unloaded under the connection: nothing is called.
    connection->sendCredit = 5000;
    g_stackBinding.module = nullptr;
    library->sent.clear();
    EXPECT_EQ(0, connection->Write(data.data(), 2000, &sent));
    EXPECT_TRUE(library->sent.empty());
}

TEST_F(HcrpProtocol, ReadDeliversPacketsThatFitAndGrantsTheirCredit) {
    GrantCredits({0});
    uint8_t buffer[200];
    uint32_t count = 77;
    EXPECT_EQ(0, connection->Read(buffer, sizeof(buffer), &count));
    EXPECT_EQ(0u, count);

    const Bytes first = Pattern(100);
    DeliverData(connection.record, first);
    DeliverData(connection.record, Bytes(100, 0x42));
    EXPECT_EQ(1, connection->Read(buffer, 100, &count)); // exactly as long as the buffer
    EXPECT_EQ(100u, count);
    EXPECT_TRUE(std::equal(first.begin(), first.end(), buffer));
    EXPECT_EQ(1, connection->Read(buffer, 101, &count));
    EXPECT_EQ(100u, count);
    EXPECT_EQ(0x42, buffer[99]);
    const auto grants = library->ControlRequests();
    ASSERT_EQ(2u, grants.size());
    for (const Bytes& grant : grants) {
        EXPECT_EQ(PDU_CREDIT_GRANT, PduId(grant));
        EXPECT_EQ(100u, ReadBigEndian32(grant.data() + 6));
    }
    EXPECT_EQ(0u, QueueLength(connection->dataQueue));

    connection->ClearFlags(CONTROL_OPEN);
    count = 55;
    DeliverData(connection.record, first);
    EXPECT_EQ(0, connection->Read(buffer, sizeof(buffer), &count));
    EXPECT_EQ(55u, count);
    EXPECT_EQ(1u, QueueLength(connection->dataQueue));
}

TEST_F(HcrpProtocol, ReadHandsOverALongPacketInParts) {
    GrantCredits({0});
    const Bytes packet = Pattern(100);
    DeliverData(connection.record, packet);
    DeliverData(connection.record, {0x01, 0x02});
    uint8_t buffer[40];
    uint32_t count = 0;
    Bytes received;
    EXPECT_EQ(0, connection->Read(buffer, 0, &count));
    EXPECT_EQ(0u, count);
    EXPECT_EQ(102u, connection->dataQueue.bytes);
    for (uint32_t expected : {40u, 40u, 20u, 2u}) {
        ASSERT_EQ(1, connection->Read(buffer, sizeof(buffer), &count));
        ASSERT_EQ(expected, count);
        received.insert(received.end(), buffer, buffer + count);
    }
    // The queue counted each part out as it went.
    EXPECT_EQ(0u, connection->dataQueue.bytes);
    Bytes all = packet;
    all.push_back(0x01);
    all.push_back(0x02);
    EXPECT_EQ(all, received);
    uint32_t granted = 0;
    for (const Bytes& grant : library->ControlRequests()) {
        granted += ReadBigEndian32(grant.data() + 6);
    }
    EXPECT_EQ(102u, granted);
}

} // namespace
