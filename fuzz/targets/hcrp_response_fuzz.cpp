// Control packets as WaitResponse's judgement sees them, against each of the four requests,
// and the credit and device-ID readers over what a judged response returned.
//
// Input: byte 0 picks the request, bytes 1-2 its transaction ID, bytes 3-4 the capacity
// (0 to 1024; bit 15 set: no destination), the rest is the packet.

#include <cstring>
#include <vector>

#include "check.h"
#include "hcrp/hcrp_pdu.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 5) {
        return 0;
    }
    uint8_t request[MAX_REQUEST_SIZE];
    const uint16_t transactionId = static_cast<uint16_t>(data[1] << 8 | data[2]);
    size_t requestSize = 0;
    switch (data[0] % 4) {
    case 0:
        requestSize = BuildCreditGrant(request, transactionId, 512);
        break;
    case 1:
        requestSize = BuildCreditRequest(request, transactionId);
        break;
    case 2:
        requestSize = BuildGetLPTStatus(request, transactionId);
        break;
    default:
        requestSize = BuildGet1284ID(request, transactionId, 0, 656);
        break;
    }
    FUZZ_CHECK(requestSize <= MAX_REQUEST_SIZE);
    const uint16_t capacityField = static_cast<uint16_t>(data[3] << 8 | data[4]);
    const bool noDestination = (capacityField & 0x8000) != 0;
    const uint32_t capacity = (capacityField & 0x7FFF) % 1025;

    // Exact-size heap copies: any read or write beyond them is caught.
    const size_t packetLength = size - 5;
    std::vector<uint8_t> packetCopy(data + 5, data + size);
    uint8_t* packet = packetLength != 0 ? packetCopy.data() : nullptr;
    std::vector<uint8_t> destinationCopy(capacity);
    uint8_t* destination =
        noDestination ? nullptr : (capacity != 0 ? destinationCopy.data() : nullptr);
    uint16_t copied = 0xFFFF;
    const uint16_t verdict =
        JudgeResponse(request, packet, packetLength, capacity, destination, &copied);

    FUZZ_CHECK(copied <= capacity);
    if (verdict != HCRP_STATUS_SUCCESS) {
        FUZZ_CHECK(copied == 0);
    }
    const bool stray = IsStrayPacket(request, packet, packetLength);
    if (stray) {
        FUZZ_CHECK(verdict == RESPONSE_MALFORMED || verdict == RESPONSE_MISMATCH);
    } else if (verdict == RESPONSE_MISMATCH) {
        // Not a mismatch of the IDs: only the printer's own status can read so (the verdict
        // is the printer's status whenever that is not Success).
        FUZZ_CHECK(packetLength >= RESPONSE_HEADER_SIZE &&
                   ReadBigEndian16(packet + 6) == RESPONSE_MISMATCH);
    }
    if (verdict == HCRP_STATUS_SUCCESS) {
        FUZZ_CHECK(packetLength >= RESPONSE_HEADER_SIZE);
        const uint16_t parameterLength = ReadBigEndian16(packet + 4);
        FUZZ_CHECK(parameterLength >= 2 && parameterLength <= packetLength - PDU_HEADER_SIZE);
        // Never more than the packet holds after the status.
        FUZZ_CHECK(copied <= packetLength - RESPONSE_HEADER_SIZE);
        if (destination != nullptr) {
            const uint32_t expected =
                parameterLength - 2u < capacity ? parameterLength - 2u : capacity;
            FUZZ_CHECK(copied == expected);
            FUZZ_CHECK(memcmp(destination, packet + RESPONSE_HEADER_SIZE, copied) == 0);
        } else {
            FUZZ_CHECK(copied == 0);
        }
    }

    // What the credit and device-ID readers make of the returned bytes.
    uint32_t credit = 0xDEADBEEF;
    const bool creditRead = ReadCreditParameter(destination, copied, &credit);
    FUZZ_CHECK(creditRead == (copied == 0 || (copied == 4 && destination != nullptr)));
    if (!creditRead || copied == 0) {
        FUZZ_CHECK(credit == 0);
    }
    uint16_t total = 0xFFFF;
    uint16_t taken = 0xFFFF;
    const bool idRead = ReadDeviceIdTotal(destination, copied, &total, &taken);
    FUZZ_CHECK(idRead == (copied >= 2 && destination != nullptr));
    FUZZ_CHECK(taken <= copied && taken <= total);
    if (!idRead) {
        FUZZ_CHECK(total == 0 && taken == 0);
    }
    return 0;
}
