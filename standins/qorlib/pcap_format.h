#pragma once
// Byte images for the captures the simulated stack writes: pcap with link type 201
// (Bluetooth HCI H4 with a 4-byte direction header), an HCI Connection Complete event, ACL
// frames carrying L2CAP, and the L2CAP signalling that lets a dissector learn the channels.
// Pure functions over buffers.

#include <cstddef>
#include <cstdint>
#include <vector>

namespace qorsim {

enum : uint32_t { PCAP_LINKTYPE_H4_WITH_PHDR = 201 };
enum : uint32_t { PCAP_SENT = 0, PCAP_RECEIVED = 1 };

std::vector<uint8_t> PcapFileHeader();
// One record: timestamp, the 4-byte big-endian direction, then the H4 packet.
std::vector<uint8_t> PcapRecord(uint64_t timeUs, uint32_t direction,
                                const std::vector<uint8_t>& h4);
// HCI event Connection Complete (status 0, ACL link, no encryption). The address is in
// text order (byte 0 first pair); on the wire it goes least significant byte first.
std::vector<uint8_t> HciConnectionComplete(uint16_t aclHandle, const uint8_t address[6]);
// One ACL packet (first fragment, complete L2CAP PDU) for `cid`.
std::vector<uint8_t> AclL2cap(uint16_t aclHandle, uint16_t cid, const uint8_t* payload,
                              size_t length);
// L2CAP signalling commands (payload for CID 1).
std::vector<uint8_t> L2capConnectionRequest(uint8_t ident, uint16_t psm, uint16_t sourceCid);
std::vector<uint8_t> L2capConnectionResponse(uint8_t ident, uint16_t destinationCid,
                                             uint16_t sourceCid);
std::vector<uint8_t> L2capDisconnection(bool response, uint8_t ident, uint16_t destinationCid,
                                        uint16_t sourceCid);

} // namespace qorsim
