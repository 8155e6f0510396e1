#pragma once
// HCRP control PDUs over plain byte buffers: building the four requests the monitor sends and
// judging a packet received on the control channel against the request that waits for it.
// No Win32 call here, so that the parsing can be driven with arbitrary input on its own.
//
// PDU layout, big-endian: PDU ID (2), transaction ID (2), parameter length (2), parameters.
// A response's parameters begin with a 2-byte status, counted in the parameter length.

#include <cstddef>
#include <cstdint>

// Statuses that WaitResponse produces itself, beside the printer's own (Success 0x0001,
// Feature Unsupported 0x0000 and whatever else a printer sends).
enum : uint16_t {
    HCRP_STATUS_FEATURE_UNSUPPORTED = 0x0000,
    HCRP_STATUS_SUCCESS = 0x0001,
    RESPONSE_TIMEOUT = 0x8001,
    RESPONSE_MISMATCH = 0x8002,
    RESPONSE_MALFORMED = 0x8003,
    RESPONSE_WAIT_FAILED = 0x8004, // the wait itself failed, or nothing to examine
    // The same value as the printer's own Generic Failure, and a printer may send any of the
    // values above as its status too: no 16-bit verdict is out of a printer's reach. The
    // clash is harmless because every caller treats every status but Success (and Feature
    // Unsupported for the line status) alike, as failure, and none tells them apart.
    RESPONSE_CHANNEL_CLOSED = 0xFFFF,
};

enum : uint16_t {
    PDU_CREDIT_GRANT = 0x0001,
    PDU_CREDIT_REQUEST = 0x0002,
    PDU_GET_LPT_STATUS = 0x0005,
    PDU_GET_1284_ID = 0x0006,
};

constexpr size_t PDU_HEADER_SIZE = 6;
constexpr size_t RESPONSE_HEADER_SIZE = 8; // header and status
constexpr size_t MAX_REQUEST_SIZE = 10;

uint16_t ReadBigEndian16(const uint8_t* bytes);
uint32_t ReadBigEndian32(const uint8_t* bytes);
void WriteBigEndian16(uint8_t* bytes, uint16_t value);
void WriteBigEndian32(uint8_t* bytes, uint32_t value);

// Each builder writes the whole request into `out` (at least MAX_REQUEST_SIZE bytes) and
// returns its size: 10 for Credit Grant and Get 1284 ID, 6 for the other two.
size_t BuildCreditGrant(uint8_t* out, uint16_t transactionId, uint32_t credit);
size_t BuildCreditRequest(uint8_t* out, uint16_t transactionId);
size_t BuildGetLPTStatus(uint8_t* out, uint16_t transactionId);
size_t BuildGet1284ID(uint8_t* out, uint16_t transactionId, uint16_t offset, uint16_t maxLength);

// The verdict on one control packet for the request that waits (`request`: at least the 4
// bytes of PDU ID and transaction ID; null gives RESPONSE_MALFORMED).
//   - shorter than 4 bytes: RESPONSE_MALFORMED (and stray, see below);
//   - PDU ID or transaction ID differ from the request's: RESPONSE_MISMATCH;
//   - shorter than 8 bytes: RESPONSE_MALFORMED;
//   - status other than Success: that status;
//   - parameter length below 2, or larger than the bytes the packet holds after the header:
//     RESPONSE_MALFORMED, nothing copied;
//   - otherwise Success; with a destination, min(parameter length - 2, capacity) returned
//     bytes are copied to it and `copied` tells how many.
// `copied` is always written (0 unless bytes were copied). Never reads beyond
// packet[packetLength - 1] nor writes beyond destination[capacity - 1].
uint16_t JudgeResponse(const uint8_t* request, const uint8_t* packet, size_t packetLength,
                       uint32_t capacity, uint8_t* destination, uint16_t* copied);

// A packet that cannot be the answer to `request`: too short to carry the two IDs, or
// carrying other IDs (a late or duplicated response, a PDU the printer sent on its own).
bool IsStrayPacket(const uint8_t* request, const uint8_t* packet, size_t packetLength);

// The credit in the bytes a Credit Request response returned (`length` of them, as
// JudgeResponse copied them): none grants 0; exactly four are the big-endian count. Any
// other length is refused (false, *credit 0): fewer than four would read as a far larger
// number than the printer meant.
bool ReadCreditParameter(const uint8_t* returned, uint16_t length, uint32_t* credit);

// The first answer to Get 1284 ID (`answered` bytes): its first two bytes are the ID's total
// length, big-endian, counting those two bytes. False without them. *taken is how many of
// the answered bytes belong to the ID: min(answered, total).
bool ReadDeviceIdTotal(const uint8_t* returned, uint16_t answered, uint16_t* total,
                       uint16_t* taken);
