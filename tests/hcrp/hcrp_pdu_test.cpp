// PDU building and the verdict on a received control packet, over plain buffers.

#include <gtest/gtest.h>
#include <windows.h>

#include <cstring>
#include <random>
#include <vector>

#include "hcrp/hcrp_pdu.h"

namespace {

using Bytes = std::vector<uint8_t>;

Bytes Built(size_t (*build)(uint8_t*, uint16_t), uint16_t transactionId) {
    uint8_t out[MAX_REQUEST_SIZE];
    const size_t size = build(out, transactionId);
    return Bytes(out, out + size);
}

struct Verdict {
    uint16_t status;
    uint16_t copied;
    Bytes destination;
};

const Bytes kRequest = {0x00, 0x02, 0x00, 0x07, 0x00, 0x00};

Verdict Judge(const Bytes& packet, uint32_t capacity, bool withDestination = true) {
    Verdict verdict{0, 0xFFFF, Bytes(capacity + 4, 0xAA)};
    verdict.status =
        JudgeResponse(kRequest.data(), packet.data(), packet.size(), capacity,
                      withDestination ? verdict.destination.data() : nullptr, &verdict.copied);
    return verdict;
}

TEST(HcrpPdu, RequestsAreBuiltByteForByte) {
    uint8_t out[MAX_REQUEST_SIZE];
    ASSERT_EQ(10u, BuildCreditGrant(out, 7, 512));
    EXPECT_EQ((Bytes{0x00, 0x01, 0x00, 0x07, 0x00, 0x04, 0x00, 0x00, 0x02, 0x00}),
              Bytes(out, out + 10));
    EXPECT_EQ((Bytes{0x00, 0x02, 0x00, 0x07, 0x00, 0x00}), Built(BuildCreditRequest, 7));
    EXPECT_EQ((Bytes{0x00, 0x05, 0x00, 0x07, 0x00, 0x00}), Built(BuildGetLPTStatus, 7));
    ASSERT_EQ(10u, BuildGet1284ID(out, 7, 0, 656));
    EXPECT_EQ((Bytes{0x00, 0x06, 0x00, 0x07, 0x00, 0x04, 0x00, 0x00, 0x02, 0x90}),
              Bytes(out, out + 10));
    ASSERT_EQ(10u, BuildGet1284ID(out, 0xBEEF, 0x1234, 0xFFFF));
    EXPECT_EQ((Bytes{0x00, 0x06, 0xBE, 0xEF, 0x00, 0x04, 0x12, 0x34, 0xFF, 0xFF}),
              Bytes(out, out + 10));
}

TEST(HcrpPdu, SuccessfulCreditResponseYieldsItsCredit) {
    const Bytes packet = {0x00, 0x02, 0x00, 0x07, 0x00, 0x06, 0x00, 0x01, 0x00, 0x00, 0x10, 0x00};
    const Verdict verdict = Judge(packet, 4);
    EXPECT_EQ(HCRP_STATUS_SUCCESS, verdict.status);
    ASSERT_EQ(4, verdict.copied);
    EXPECT_EQ(4096u, ReadBigEndian32(verdict.destination.data()));
    EXPECT_EQ(0xAA, verdict.destination[4]);
}

// The checks run in a fixed order; each case below would get another verdict if two
// neighbouring checks swapped places.
TEST(HcrpPdu, ChecksRunInOrder) {
    EXPECT_EQ(RESPONSE_MALFORMED, Judge({}, 4).status);
    EXPECT_EQ(RESPONSE_MALFORMED, Judge({0x00, 0x02, 0x00}, 4).status);
    // IDs are compared before the length of a full response is required.
    EXPECT_EQ(RESPONSE_MISMATCH, Judge({0x00, 0x03, 0x00, 0x07}, 4).status);
    EXPECT_EQ(RESPONSE_MISMATCH, Judge({0x00, 0x02, 0x00, 0x08, 0x00, 0x02, 0x00, 0x01}, 4).status);
    EXPECT_EQ(RESPONSE_MALFORMED, Judge({0x00, 0x02, 0x00, 0x07, 0x00, 0x02, 0x00}, 4).status);
    // The printer's status comes before the parameter length is looked at.
    EXPECT_EQ(0x0002, Judge({0x00, 0x02, 0x00, 0x07, 0x00, 0x00, 0x00, 0x02}, 4).status);
    EXPECT_EQ(0x0000, Judge({0x00, 0x02, 0x00, 0x07, 0x00, 0x09, 0x00, 0x00}, 4).status);
    EXPECT_EQ(0xFFFF, Judge({0x00, 0x02, 0x00, 0x07, 0x00, 0x02, 0xFF, 0xFF}, 4).status);
    EXPECT_EQ(RESPONSE_MALFORMED,
              Judge({0x00, 0x02, 0x00, 0x07, 0x00, 0x01, 0x00, 0x01}, 4).status);
    // Parameter length promising more than the packet holds: nothing is copied.
    const Verdict overrun = Judge({0x00, 0x02, 0x00, 0x07, 0x00, 0x06, 0x00, 0x01, 0x12, 0x34}, 4);
    EXPECT_EQ(RESPONSE_MALFORMED, overrun.status);
    EXPECT_EQ(0, overrun.copied);
    EXPECT_EQ(Bytes(8, 0xAA), overrun.destination);
    // Success without returned parameters, or without a destination: nothing copied.
    const Verdict bare = Judge({0x00, 0x02, 0x00, 0x07, 0x00, 0x02, 0x00, 0x01}, 4);
    EXPECT_EQ(HCRP_STATUS_SUCCESS, bare.status);
    EXPECT_EQ(0, bare.copied);
    const Verdict noDestination =
        Judge({0x00, 0x02, 0x00, 0x07, 0x00, 0x03, 0x00, 0x01, 0x42}, 4, false);
    EXPECT_EQ(HCRP_STATUS_SUCCESS, noDestination.status);
    EXPECT_EQ(0, noDestination.copied);
    uint16_t copied = 9;
    EXPECT_EQ(RESPONSE_MALFORMED, JudgeResponse(nullptr, kRequest.data(), 6, 0, nullptr, &copied));
    EXPECT_EQ(0, copied);
}

TEST(HcrpPdu, CopyIsBoundedByCapacityAndParameterLength) {
    // Six parameter bytes after the status, capacity 4: four copied.
    const Bytes six = {0x00, 0x02, 0x00, 0x07, 0x00, 0x08, 0x00, 0x01, 1, 2, 3, 4, 5, 6};
    Verdict verdict = Judge(six, 4);
    EXPECT_EQ(HCRP_STATUS_SUCCESS, verdict.status);
    EXPECT_EQ(4, verdict.copied);
    EXPECT_EQ((Bytes{1, 2, 3, 4, 0xAA, 0xAA, 0xAA, 0xAA}), verdict.destination);
    // Bytes beyond the parameter length are not part of the response.
    const Bytes trailing = {0x00, 0x02, 0x00, 0x07, 0x00, 0x03, 0x00, 0x01, 9, 8, 7};
    verdict = Judge(trailing, 4);
    EXPECT_EQ(1, verdict.copied);
    EXPECT_EQ(9, verdict.destination[0]);
    EXPECT_EQ(0xAA, verdict.destination[1]);
    // Capacity 0 copies nothing.
    verdict = Judge(six, 0);
    EXPECT_EQ(HCRP_STATUS_SUCCESS, verdict.status);
    EXPECT_EQ(0, verdict.copied);
}

TEST(HcrpPdu, StrayPacketsAreThoseThatCannotAnswerTheRequest) {
    EXPECT_TRUE(IsStrayPacket(kRequest.data(), kRequest.data(), 0));
    EXPECT_TRUE(IsStrayPacket(kRequest.data(), kRequest.data(), 3));
    const Bytes late = {0x00, 0x02, 0x00, 0x06, 0x00, 0x02, 0x00, 0x01};
    EXPECT_TRUE(IsStrayPacket(kRequest.data(), late.data(), late.size()));
    const Bytes unsolicited = {0x00, 0x0A, 0x00, 0x07, 0x00, 0x00};
    EXPECT_TRUE(IsStrayPacket(kRequest.data(), unsolicited.data(), unsolicited.size()));
    // A short or failed answer carrying the right IDs is this request's answer.
    const Bytes truncated = {0x00, 0x02, 0x00, 0x07, 0x00};
    EXPECT_FALSE(IsStrayPacket(kRequest.data(), truncated.data(), truncated.size()));
    const Bytes failed = {0x00, 0x02, 0x00, 0x07, 0x00, 0x02, 0xFF, 0xFF};
    EXPECT_FALSE(IsStrayPacket(kRequest.data(), failed.data(), failed.size()));
}

// Random and half-valid packets through the parser. Each packet sits at the very end of a
// readable page, followed by an inaccessible one, so that any read past its last byte
// faults; the destination carries guard bytes behind its capacity.
TEST(HcrpPdu, GarbagePacketsStayWithinBounds) {
    SYSTEM_INFO info;
    GetSystemInfo(&info);
    const size_t page = info.dwPageSize;
    auto* region = static_cast<uint8_t*>(
        VirtualAlloc(nullptr, 2 * page, MEM_RESERVE | MEM_COMMIT, PAGE_READWRITE));
    ASSERT_NE(nullptr, region);
    DWORD old = 0;
    ASSERT_TRUE(VirtualProtect(region + page, page, PAGE_NOACCESS, &old));

    std::mt19937 random(20261208);
    uint8_t destination[700 + 16];
    size_t successes = 0;
    for (int round = 0; round < 200000; ++round) {
        const size_t length = random() % 3 == 0 ? random() % 12 : random() % 700;
        uint8_t* packet = region + page - length;
        for (size_t i = 0; i < length; ++i) {
            packet[i] = static_cast<uint8_t>(random());
        }
        // Most packets carry the request's IDs, often a Success status, so that the deeper
        // checks are reached; the parameter length stays random.
        if (length >= 4 && random() % 4 != 0) {
            memcpy(packet, kRequest.data(), 4);
        }
        if (length >= 8 && random() % 2 == 0) {
            packet[6] = 0x00;
            packet[7] = 0x01;
        }
        if (length >= 6 && random() % 2 == 0) {
            const uint16_t promised = static_cast<uint16_t>(length - 6 + (random() % 5) - 2);
            packet[4] = static_cast<uint8_t>(promised >> 8);
            packet[5] = static_cast<uint8_t>(promised);
        }
        const uint32_t capacity = random() % 701;
        memset(destination, 0xAA, sizeof(destination));
        uint16_t copied = 0xFFFF;
        const uint16_t status = JudgeResponse(kRequest.data(), length > 0 ? packet : region + page,
                                              length, capacity, destination, &copied);
        ASSERT_LE(copied, capacity);
        for (size_t i = capacity; i < sizeof(destination); ++i) {
            ASSERT_EQ(0xAA, destination[i]) << "round " << round;
        }
        if (status != HCRP_STATUS_SUCCESS) {
            ASSERT_EQ(0, copied);
            continue;
        }
        ++successes;
        ASSERT_GE(length, 8u);
        const uint16_t promised = ReadBigEndian16(packet + 4);
        ASSERT_GE(promised, 2);
        ASSERT_LE(promised, length - 6);
        ASSERT_EQ(std::min<uint32_t>(promised - 2u, capacity), copied);
        ASSERT_EQ(0, memcmp(destination, packet + 8, copied));
    }
    EXPECT_GT(successes, 1000u);
    VirtualFree(region, 0, MEM_RELEASE);
}

TEST(HcrpPdu, CreditAndDeviceIdParametersAreReadOnlyWhenWhole) {
    const uint8_t bytes[6] = {0x00, 0x00, 0x10, 0x00, 0x55, 0x66};
    struct CreditCase {
        uint16_t length;
        bool read;
        uint32_t credit;
    } creditCases[] = {
        {0, true, 0}, {4, true, 0x1000}, {2, false, 0}, {3, false, 0}, {5, false, 0}};
    for (const CreditCase& c : creditCases) {
        uint32_t credit = 0xDEAD;
        EXPECT_EQ(ReadCreditParameter(bytes, c.length, &credit), c.read) << c.length;
        EXPECT_EQ(credit, c.credit) << c.length;
    }
    // The ID's own length field counts its two bytes; what was answered beyond it is not
    // the ID's.
    const uint8_t id[6] = {0x00, 0x04, 'A', ';', 'x', 'y'};
    struct IdCase {
        uint16_t answered;
        bool read;
        uint16_t total;
        uint16_t taken;
    } idCases[] = {{0, false, 0, 0}, {1, false, 0, 0}, {2, true, 4, 2}, {6, true, 4, 4}};
    for (const IdCase& c : idCases) {
        uint16_t total = 0xFFFF;
        uint16_t taken = 0xFFFF;
        EXPECT_EQ(ReadDeviceIdTotal(id, c.answered, &total, &taken), c.read) << c.answered;
        EXPECT_EQ(total, c.total) << c.answered;
        EXPECT_EQ(taken, c.taken) << c.answered;
    }
}

} // namespace
