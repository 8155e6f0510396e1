#pragma once
// A scripted stand-in for the vendor library's five operations, installed in g_stackBinding,
// for decision-level tests of one HcrpConnection: records every call and lets a test answer
// control requests from inside the send, as a printer would.

#include <cstdint>
#include <functional>
#include <vector>

#include "hcrp/hcrp_connection.h"
#include "hcrp_packets.h"

constexpr uint16_t FAKE_CONTROL_HANDLE = 0x0040;
constexpr uint16_t FAKE_DATA_HANDLE = 0x0041;

struct SentPacket {
    uint16_t handle;
    std::vector<uint8_t> bytes;
};

struct ConnectCall {
    ChannelDescriptor descriptor; // as it was when the library was called
    uint16_t psm;
    uint8_t address[6];
};

struct FakeLibrary {
    // Everything handed to the send operation, control and data interleaved, in order.
    std::vector<SentPacket> sent;
    std::vector<ChannelDescriptor> registered;
    std::vector<ConnectCall> connects;
    std::vector<uint16_t> disconnects;

    int registerResult = 0;
    int controlConnectResult = 0;
    int dataConnectResult = 0;
    int dataSendResult = 0;
    bool reportConnected = true;  // deliver EVENT_CONNECTED inside the connect operation
    uint16_t connectedResult = 0; // its result field
    uint16_t dataOutMtu = 1024;   // outMtu reported for the data channel

    // Called for every control request sent; typically answers through DeliverControl.
    std::function<void(HcrpConnection*, const std::vector<uint8_t>&)> onControlRequest;

    std::vector<std::vector<uint8_t>> ControlRequests() const;
    std::vector<std::vector<uint8_t>> DataPieces() const;
};

// Installs a fresh fake in g_stackBinding (module set, so that LoadQORLIB finds it bound).
FakeLibrary& InstallFakeLibrary();
// Takes it out again (module null, entry points null).
void RemoveFakeLibrary();

// Delivers one event to the channel's callback, as the library's thread would.
void DeliverEvent(HcrpConnection* connection, bool data, uint8_t type, uint16_t result,
                  uint16_t handle, uint16_t psm, uint16_t inMtu, uint16_t outMtu,
                  const std::vector<uint8_t>& payload = {});
void DeliverControl(HcrpConnection* connection, const std::vector<uint8_t>& payload);
void DeliverData(HcrpConnection* connection, const std::vector<uint8_t>& payload);

// A response to `request` with the given status and returned parameters.
std::vector<uint8_t> Response(const std::vector<uint8_t>& request, uint16_t status,
                              const std::vector<uint8_t>& parameters = {});
// The same with explicit IDs.
std::vector<uint8_t> ResponseFor(uint16_t pduId, uint16_t transactionId, uint16_t status,
                                 const std::vector<uint8_t>& parameters = {});
// A credit value as its four big-endian bytes.
using qorsim::CreditBytes;

// A zero-filled, initialised connection record, as a port record holds it.
struct TestConnection {
    TestConnection();
    ~TestConnection();
    // Both channels counted open with the fake's handles, without going through Connect.
    void MarkOpen();
    HcrpConnection* operator->() { return record; }
    HcrpConnection* record;
};

size_t QueueLength(ReceiveQueue& queue);
