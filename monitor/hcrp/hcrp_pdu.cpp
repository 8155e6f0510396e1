#include "hcrp/hcrp_pdu.h"

#include <cstring>

uint16_t ReadBigEndian16(const uint8_t* bytes) {
    return static_cast<uint16_t>((bytes[0] << 8) | bytes[1]);
}

uint32_t ReadBigEndian32(const uint8_t* bytes) {
    return (static_cast<uint32_t>(bytes[0]) << 24) | (static_cast<uint32_t>(bytes[1]) << 16) |
           (static_cast<uint32_t>(bytes[2]) << 8) | static_cast<uint32_t>(bytes[3]);
}

void WriteBigEndian16(uint8_t* bytes, uint16_t value) {
    bytes[0] = static_cast<uint8_t>(value >> 8);
    bytes[1] = static_cast<uint8_t>(value);
}

void WriteBigEndian32(uint8_t* bytes, uint32_t value) {
    bytes[0] = static_cast<uint8_t>(value >> 24);
    bytes[1] = static_cast<uint8_t>(value >> 16);
    bytes[2] = static_cast<uint8_t>(value >> 8);
    bytes[3] = static_cast<uint8_t>(value);
}

namespace {

size_t WriteHeader(uint8_t* out, uint16_t pduId, uint16_t transactionId, uint16_t parameterLength) {
    WriteBigEndian16(out, pduId);
    WriteBigEndian16(out + 2, transactionId);
    WriteBigEndian16(out + 4, parameterLength);
    return PDU_HEADER_SIZE + parameterLength;
}

} // namespace

size_t BuildCreditGrant(uint8_t* out, uint16_t transactionId, uint32_t credit) {
    WriteBigEndian32(out + PDU_HEADER_SIZE, credit);
    return WriteHeader(out, PDU_CREDIT_GRANT, transactionId, 4);
}

size_t BuildCreditRequest(uint8_t* out, uint16_t transactionId) {
    return WriteHeader(out, PDU_CREDIT_REQUEST, transactionId, 0);
}

size_t BuildGetLPTStatus(uint8_t* out, uint16_t transactionId) {
    return WriteHeader(out, PDU_GET_LPT_STATUS, transactionId, 0);
}

size_t BuildGet1284ID(uint8_t* out, uint16_t transactionId, uint16_t offset, uint16_t maxLength) {
    WriteBigEndian16(out + PDU_HEADER_SIZE, offset);
    WriteBigEndian16(out + PDU_HEADER_SIZE + 2, maxLength);
    return WriteHeader(out, PDU_GET_1284_ID, transactionId, 4);
}

uint16_t JudgeResponse(const uint8_t* request, const uint8_t* packet, size_t packetLength,
                       uint32_t capacity, uint8_t* destination, uint16_t* copied) {
    *copied = 0;
    if (request == nullptr || packet == nullptr || packetLength < 4) {
        return RESPONSE_MALFORMED;
    }
    if (memcmp(packet, request, 2) != 0 || memcmp(packet + 2, request + 2, 2) != 0) {
        return RESPONSE_MISMATCH;
    }
    if (packetLength < RESPONSE_HEADER_SIZE) {
        return RESPONSE_MALFORMED;
    }
    const uint16_t status = ReadBigEndian16(packet + 6);
    if (status != HCRP_STATUS_SUCCESS) {
        return status;
    }
    const uint16_t parameterLength = ReadBigEndian16(packet + 4);
    if (parameterLength < 2) {
        return RESPONSE_MALFORMED;
    }
    // A parameter length that promises more than the packet carries is a broken PDU: taking
    // the bytes that are there would hand callers a truncated value (a credit count read
    // from two bytes, say) as if it were whole.
    if (parameterLength > packetLength - PDU_HEADER_SIZE) {
        return RESPONSE_MALFORMED;
    }
    if (destination == nullptr || parameterLength == 2) {
        return HCRP_STATUS_SUCCESS;
    }
    uint32_t count = parameterLength - 2u;
    if (count > capacity) {
        count = capacity;
    }
    memcpy(destination, packet + RESPONSE_HEADER_SIZE, count);
    *copied = static_cast<uint16_t>(count);
    return HCRP_STATUS_SUCCESS;
}

bool IsStrayPacket(const uint8_t* request, const uint8_t* packet, size_t packetLength) {
    if (packet == nullptr || packetLength < 4) {
        return true;
    }
    return request != nullptr && memcmp(packet, request, 4) != 0;
}

bool ReadCreditParameter(const uint8_t* returned, uint16_t length, uint32_t* credit) {
    *credit = 0;
    if (length == 0) {
        return true;
    }
    if (length != 4 || returned == nullptr) {
        return false;
    }
    *credit = ReadBigEndian32(returned);
    return true;
}

bool ReadDeviceIdTotal(const uint8_t* returned, uint16_t answered, uint16_t* total,
                       uint16_t* taken) {
    *total = 0;
    *taken = 0;
    if (returned == nullptr || answered < 2) {
        return false;
    }
    *total = ReadBigEndian16(returned);
    *taken = answered > *total ? *total : answered;
    return true;
}
