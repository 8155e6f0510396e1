#include "pcap_format.h"

namespace qorsim {

static void PutLe16(std::vector<uint8_t>* out, uint16_t v) {
    out->push_back(static_cast<uint8_t>(v));
    out->push_back(static_cast<uint8_t>(v >> 8));
}

static void PutLe32(std::vector<uint8_t>* out, uint32_t v) {
    PutLe16(out, static_cast<uint16_t>(v));
    PutLe16(out, static_cast<uint16_t>(v >> 16));
}

std::vector<uint8_t> PcapFileHeader() {
    std::vector<uint8_t> out;
    PutLe32(&out, 0xA1B2C3D4u); // microsecond timestamps, written little-endian
    PutLe16(&out, 2);
    PutLe16(&out, 4);
    PutLe32(&out, 0); // GMT offset
    PutLe32(&out, 0); // accuracy
    PutLe32(&out, 262144);
    PutLe32(&out, PCAP_LINKTYPE_H4_WITH_PHDR);
    return out;
}

std::vector<uint8_t> PcapRecord(uint64_t timeUs, uint32_t direction,
                                const std::vector<uint8_t>& h4) {
    std::vector<uint8_t> out;
    uint32_t length = static_cast<uint32_t>(h4.size() + 4);
    PutLe32(&out, static_cast<uint32_t>(timeUs / 1000000));
    PutLe32(&out, static_cast<uint32_t>(timeUs % 1000000));
    PutLe32(&out, length);
    PutLe32(&out, length);
    out.push_back(static_cast<uint8_t>(direction >> 24));
    out.push_back(static_cast<uint8_t>(direction >> 16));
    out.push_back(static_cast<uint8_t>(direction >> 8));
    out.push_back(static_cast<uint8_t>(direction));
    out.insert(out.end(), h4.begin(), h4.end());
    return out;
}

std::vector<uint8_t> HciConnectionComplete(uint16_t aclHandle, const uint8_t address[6]) {
    std::vector<uint8_t> out = {0x04, 0x03, 11, 0x00};
    PutLe16(&out, aclHandle);
    for (int i = 5; i >= 0; i--) {
        out.push_back(address[i]);
    }
    out.push_back(0x01); // ACL
    out.push_back(0x00); // no encryption
    return out;
}

std::vector<uint8_t> AclL2cap(uint16_t aclHandle, uint16_t cid, const uint8_t* payload,
                              size_t length) {
    if (length > 0xFFFF - 4) {
        length = 0xFFFF - 4;
    }
    std::vector<uint8_t> out = {0x02};
    PutLe16(&out, static_cast<uint16_t>((aclHandle & 0x0FFF) | 0x2000));
    PutLe16(&out, static_cast<uint16_t>(length + 4));
    PutLe16(&out, static_cast<uint16_t>(length));
    PutLe16(&out, cid);
    out.insert(out.end(), payload, payload + length);
    return out;
}

std::vector<uint8_t> L2capConnectionRequest(uint8_t ident, uint16_t psm, uint16_t sourceCid) {
    std::vector<uint8_t> out = {0x02, ident};
    PutLe16(&out, 4);
    PutLe16(&out, psm);
    PutLe16(&out, sourceCid);
    return out;
}

std::vector<uint8_t> L2capConnectionResponse(uint8_t ident, uint16_t destinationCid,
                                             uint16_t sourceCid) {
    std::vector<uint8_t> out = {0x03, ident};
    PutLe16(&out, 8);
    PutLe16(&out, destinationCid);
    PutLe16(&out, sourceCid);
    PutLe16(&out, 0); // result: connection successful
    PutLe16(&out, 0); // status: no further information
    return out;
}

std::vector<uint8_t> L2capDisconnection(bool response, uint8_t ident, uint16_t destinationCid,
                                        uint16_t sourceCid) {
    std::vector<uint8_t> out = {static_cast<uint8_t>(response ? 0x07 : 0x06), ident};
    PutLe16(&out, 4);
    PutLe16(&out, destinationCid);
    PutLe16(&out, sourceCid);
    return out;
}

} // namespace qorsim
