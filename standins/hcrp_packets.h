#pragma once
// HCRP packets as the simulated printers write them and the tests expect them: big-endian
// fields, control PDUs, responses and credit values. Written apart from the monitor's own
// encoder (monitor/hcrp), so that a simulated printer stays an independent check of it.

#include <cstddef>
#include <cstdint>
#include <vector>

namespace qorsim {

// HCRP control PDU IDs and statuses (big-endian on the wire).
enum : uint16_t {
    PDU_CREDIT_GRANT = 0x0001,
    PDU_CREDIT_REQUEST = 0x0002,
    PDU_GET_LPT_STATUS = 0x0005,
    PDU_GET_1284_ID = 0x0006,
    STATUS_FEATURE_UNSUPPORTED = 0x0000,
    STATUS_SUCCESS = 0x0001,
    STATUS_GENERIC_FAILURE = 0xFFFF,
};

inline uint16_t GetBe16(const uint8_t* p) {
    return static_cast<uint16_t>(p[0] << 8 | p[1]);
}
inline uint32_t GetBe32(const uint8_t* p) {
    return static_cast<uint32_t>(p[0]) << 24 | static_cast<uint32_t>(p[1]) << 16 |
           static_cast<uint32_t>(p[2]) << 8 | p[3];
}
inline void PutBe16(uint8_t* p, uint16_t v) {
    p[0] = static_cast<uint8_t>(v >> 8);
    p[1] = static_cast<uint8_t>(v);
}
inline void PutBe32(uint8_t* p, uint32_t v) {
    PutBe16(p, static_cast<uint16_t>(v >> 16));
    PutBe16(p + 2, static_cast<uint16_t>(v));
}

// A control PDU: PDU ID, transaction ID, the parameter length, then the parameters (for a
// response, the status comes first among them).
inline std::vector<uint8_t> Pdu(uint16_t pduId, uint16_t transactionId,
                                const std::vector<uint8_t>& parameters) {
    std::vector<uint8_t> pdu(6);
    PutBe16(&pdu[0], pduId);
    PutBe16(&pdu[2], transactionId);
    PutBe16(&pdu[4], static_cast<uint16_t>(parameters.size()));
    pdu.insert(pdu.end(), parameters.begin(), parameters.end());
    return pdu;
}

// A response PDU: header with the request's PDU ID and transaction ID, the status, then
// `extraLength` bytes of returned parameters (at most 65533, as the length field allows).
inline std::vector<uint8_t> BuildResponse(uint16_t pduId, uint16_t transactionId, uint16_t status,
                                          const uint8_t* extra, size_t extraLength) {
    if (extraLength > 0xFFFF - 2) {
        extraLength = 0xFFFF - 2;
    }
    std::vector<uint8_t> pdu(8);
    PutBe16(&pdu[0], pduId);
    PutBe16(&pdu[2], transactionId);
    PutBe16(&pdu[4], static_cast<uint16_t>(2 + extraLength));
    PutBe16(&pdu[6], status);
    if (extraLength > 0) {
        pdu.insert(pdu.end(), extra, extra + extraLength);
    }
    return pdu;
}

inline std::vector<uint8_t> BuildResponse(uint16_t pduId, uint16_t transactionId, uint16_t status,
                                          const std::vector<uint8_t>& returned = {}) {
    return BuildResponse(pduId, transactionId, status, returned.data(), returned.size());
}

// The answer to `request` (its PDU ID and transaction ID; at least 4 bytes).
inline std::vector<uint8_t> BuildResponseTo(const std::vector<uint8_t>& request, uint16_t status,
                                            const std::vector<uint8_t>& returned = {}) {
    return BuildResponse(GetBe16(&request[0]), GetBe16(&request[2]), status, returned);
}

// A credit value as Credit Grant carries it and a Credit Request's response returns it.
inline std::vector<uint8_t> CreditBytes(uint32_t credit) {
    std::vector<uint8_t> bytes(4);
    PutBe32(bytes.data(), credit);
    return bytes;
}

} // namespace qorsim
