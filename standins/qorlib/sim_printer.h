#pragma once
// The book-keeping of one simulated HCRP printer: its answers to control requests, its
// credit accounts in both directions, its print buffer and its line status. Pure logic over
// byte buffers and a clock value passed in; no Win32 call, so it is tested on its own.

#include <cstddef>
#include <cstdint>
#include <deque>
#include <string>
#include <vector>

#include "hcrp_packets.h"
#include "qorlib_control.h"

namespace qorsim {

// Changes a response as a faulty printer would (kinds RESPONSE_WRONG_TRANSACTION,
// RESPONSE_TOO_SHORT, RESPONSE_BAD_PARAM_LENGTH, RESPONSE_STATUS). Other kinds: unchanged.
void DamageResponse(std::vector<uint8_t>* response, uint32_t kind, uint32_t value);

class SimPrinter {
  public:
    explicit SimPrinter(const QorlSimPrinterConfig& config);

    const QorlSimPrinterConfig& config() const { return config_; }
    const std::vector<uint8_t>& storedDeviceId() const { return deviceId_; }

    // One control PDU from the client. Returns true with *response filled when the printer
    // answers (every request of at least 6 bytes is answered; shorter ones are counted as
    // malformed and dropped). `clientMtu` caps the response (0 = no cap).
    bool HandleControl(const uint8_t* pdu, size_t length, uint16_t clientMtu, uint64_t nowUs,
                       std::vector<uint8_t>* response);

    // Data accepted on the data channel. Returns the bytes that went beyond the credit.
    uint32_t AcceptData(size_t length, uint64_t nowUs);

    // Back-channel: bytes the printer wants to send to the client.
    void QueueBackChannel(const uint8_t* bytes, size_t length);
    // Takes the next back-channel packet that fits the client's credit and `maxPacket`;
    // false when nothing can be sent now.
    bool TakeBackChannel(size_t maxPacket, std::vector<uint8_t>* packet);

    // A new control connection: credit is counted per connection, so what either side granted
    // and the other did not use before the link went is forgotten.
    void BeginConnection() {
        outstandingCredit_ = 0;
        clientCredit = 0;
    }

    void SetStatus(uint8_t status) { lptStatus_ = status; }
    uint8_t status() const { return lptStatus_; }
    // Bytes in the print buffer at `nowUs`.
    uint32_t Buffered(uint64_t nowUs);
    void FillStats(uint64_t nowUs, QorlSimStats* stats);

    uint64_t creditGranted = 0; // totals over every connection, for the statistics
    uint64_t creditUsed = 0;
    uint32_t creditViolations = 0;
    uint64_t violationBytes = 0;
    uint32_t malformedRequests = 0;
    uint32_t controlRequests = 0;
    uint64_t clientCredit = 0;
    uint64_t backChannelSent = 0;

  private:
    void Drain(uint64_t nowUs);
    uint32_t GrantFor(uint64_t nowUs);

    QorlSimPrinterConfig config_;
    std::vector<uint8_t> deviceId_; // with its 2-byte big-endian length field
    uint8_t lptStatus_;
    double buffered_ = 0;
    uint64_t outstandingCredit_ = 0; // granted in this connection and not yet used
    uint64_t lastDrainUs_ = 0;
    std::deque<uint8_t> backlog_;
};

// Parses a 6-byte address "00:11:22:33:44:55" (':' or '-' separators). False on bad text.
bool ParseAddress(const char* text, uint8_t address[6]);

} // namespace qorsim
