#include "sim_printer.h"

#include <algorithm>
#include <cstring>

namespace qorsim {

void DamageResponse(std::vector<uint8_t>* response, uint32_t kind, uint32_t value) {
    switch (kind) {
    case QORLSIM_FAULT_RESPONSE_WRONG_TRANSACTION:
        if (response->size() >= 4) {
            PutBe16(&(*response)[2],
                    static_cast<uint16_t>(GetBe16(&(*response)[2]) + (value ? value : 1)));
        }
        break;
    case QORLSIM_FAULT_RESPONSE_TOO_SHORT:
        if (response->size() > value) {
            response->resize(value);
        }
        break;
    case QORLSIM_FAULT_RESPONSE_BAD_PARAM_LENGTH:
        if (response->size() >= 6) {
            PutBe16(&(*response)[4], static_cast<uint16_t>(value));
        }
        break;
    case QORLSIM_FAULT_RESPONSE_STATUS:
        if (response->size() >= 8) {
            PutBe16(&(*response)[6], static_cast<uint16_t>(value));
        }
        break;
    default:
        break;
    }
}

SimPrinter::SimPrinter(const QorlSimPrinterConfig& config)
    : config_(config), lptStatus_(config.lptStatus) {
    config_.deviceId = nullptr;
    if (config.deviceId != nullptr) {
        size_t textLength = std::min<size_t>(config.deviceIdLength, 0xFFFF - 2);
        deviceId_.resize(2 + textLength);
        PutBe16(&deviceId_[0], static_cast<uint16_t>(deviceId_.size()));
        std::memcpy(&deviceId_[2], config.deviceId, textLength);
    }
    config_.deviceIdLength = static_cast<uint32_t>(deviceId_.size());
}

void SimPrinter::Drain(uint64_t nowUs) {
    if (nowUs > lastDrainUs_ && lptStatus_ == QORLSIM_LPT_READY) {
        if (config_.printSpeed == 0) {
            buffered_ = 0;
        } else {
            buffered_ -= static_cast<double>(config_.printSpeed) *
                         static_cast<double>(nowUs - lastDrainUs_) / 1e6;
            if (buffered_ < 0) {
                buffered_ = 0;
            }
        }
    }
    if (nowUs > lastDrainUs_) {
        lastDrainUs_ = nowUs;
    }
}

uint32_t SimPrinter::Buffered(uint64_t nowUs) {
    Drain(nowUs);
    return static_cast<uint32_t>(buffered_ + 0.5);
}

uint32_t SimPrinter::GrantFor(uint64_t nowUs) {
    // A printer that cannot print (off, out of paper, offline, faulted) grants nothing.
    if (lptStatus_ != QORLSIM_LPT_READY) {
        return 0;
    }
    switch (config_.creditPolicy) {
    case QORLSIM_CREDIT_FIXED:
        return config_.creditAmount;
    case QORLSIM_CREDIT_WINDOW: {
        Drain(nowUs);
        double room = static_cast<double>(config_.bufferSize) - buffered_ -
                      static_cast<double>(outstandingCredit_);
        if (room < 1) {
            return 0;
        }
        return static_cast<uint32_t>(room);
    }
    default:
        return 0;
    }
}

bool SimPrinter::HandleControl(const uint8_t* pdu, size_t length, uint16_t clientMtu,
                               uint64_t nowUs, std::vector<uint8_t>* response) {
    controlRequests++;
    if (pdu == nullptr || length < 6) {
        malformedRequests++;
        return false;
    }
    uint16_t pduId = GetBe16(pdu);
    uint16_t transactionId = GetBe16(pdu + 2);
    uint16_t parameterLength = GetBe16(pdu + 4);
    const uint8_t* parameters = pdu + 6;
    if (parameterLength != length - 6) {
        malformedRequests++;
        *response = BuildResponse(pduId, transactionId, STATUS_GENERIC_FAILURE, nullptr, 0);
        return true;
    }
    uint8_t extra[4];
    switch (pduId) {
    case PDU_CREDIT_GRANT:
        if (parameterLength != 4) {
            break;
        }
        clientCredit += GetBe32(parameters);
        *response = BuildResponse(pduId, transactionId, STATUS_SUCCESS, nullptr, 0);
        return true;
    case PDU_CREDIT_REQUEST: {
        if (parameterLength != 0) {
            break;
        }
        uint32_t grant = GrantFor(nowUs);
        creditGranted += grant;
        outstandingCredit_ += grant;
        PutBe32(extra, grant);
        *response = BuildResponse(pduId, transactionId, STATUS_SUCCESS, extra, 4);
        return true;
    }
    case PDU_GET_LPT_STATUS:
        if (parameterLength != 0) {
            break;
        }
        if (config_.lptUnsupported) {
            *response = BuildResponse(pduId, transactionId, STATUS_FEATURE_UNSUPPORTED, nullptr, 0);
        } else {
            extra[0] = lptStatus_;
            *response = BuildResponse(pduId, transactionId, STATUS_SUCCESS, extra, 1);
        }
        return true;
    case PDU_GET_1284_ID: {
        if (parameterLength != 4) {
            break;
        }
        if (deviceId_.empty()) {
            *response = BuildResponse(pduId, transactionId, STATUS_FEATURE_UNSUPPORTED, nullptr, 0);
            return true;
        }
        size_t start = GetBe16(parameters);
        size_t count = GetBe16(parameters + 2);
        size_t available = start < deviceId_.size() ? deviceId_.size() - start : 0;
        count = std::min(count, available);
        // The whole response has to fit the client's receive MTU.
        if (clientMtu != 0 && !config_.ignoreClientMtu) {
            size_t room = clientMtu > 8 ? clientMtu - 8u : 0;
            count = std::min(count, room);
        }
        *response = BuildResponse(pduId, transactionId, STATUS_SUCCESS,
                                  count ? &deviceId_[start] : nullptr, count);
        return true;
    }
    default:
        *response = BuildResponse(pduId, transactionId, STATUS_FEATURE_UNSUPPORTED, nullptr, 0);
        return true;
    }
    // A known request with the wrong parameters.
    malformedRequests++;
    *response = BuildResponse(pduId, transactionId, STATUS_GENERIC_FAILURE, nullptr, 0);
    return true;
}

uint32_t SimPrinter::AcceptData(size_t length, uint64_t nowUs) {
    Drain(nowUs);
    uint32_t excess =
        length > outstandingCredit_ ? static_cast<uint32_t>(length - outstandingCredit_) : 0;
    if (excess > 0) {
        creditViolations++;
        violationBytes += excess;
    }
    outstandingCredit_ -= length - excess;
    creditUsed += length;
    buffered_ += static_cast<double>(length);
    if (config_.paperOutAfter != 0 && creditUsed >= config_.paperOutAfter &&
        lptStatus_ == QORLSIM_LPT_READY) {
        lptStatus_ = QORLSIM_LPT_PAPER_OUT;
    }
    return excess;
}

void SimPrinter::QueueBackChannel(const uint8_t* bytes, size_t length) {
    backlog_.insert(backlog_.end(), bytes, bytes + length);
}

bool SimPrinter::TakeBackChannel(size_t maxPacket, std::vector<uint8_t>* packet) {
    size_t n = std::min<uint64_t>(std::min(backlog_.size(), maxPacket), clientCredit);
    if (n == 0) {
        return false;
    }
    packet->assign(backlog_.begin(), backlog_.begin() + static_cast<ptrdiff_t>(n));
    backlog_.erase(backlog_.begin(), backlog_.begin() + static_cast<ptrdiff_t>(n));
    clientCredit -= n;
    backChannelSent += n;
    return true;
}

void SimPrinter::FillStats(uint64_t nowUs, QorlSimStats* stats) {
    stats->creditGranted = static_cast<uint32_t>(creditGranted);
    stats->creditUsed = static_cast<uint32_t>(creditUsed);
    stats->creditViolations = creditViolations;
    stats->violationBytes = static_cast<uint32_t>(violationBytes);
    stats->clientCredit = static_cast<uint32_t>(clientCredit);
    stats->backChannelSent = static_cast<uint32_t>(backChannelSent);
    stats->backChannelPending = static_cast<uint32_t>(backlog_.size());
    stats->controlRequests = controlRequests;
    stats->malformedRequests = malformedRequests;
    stats->buffered = Buffered(nowUs);
    stats->lptStatus = lptStatus_;
}

static int HexDigit(char c) {
    if (c >= '0' && c <= '9') {
        return c - '0';
    }
    if (c >= 'a' && c <= 'f') {
        return c - 'a' + 10;
    }
    if (c >= 'A' && c <= 'F') {
        return c - 'A' + 10;
    }
    return -1;
}

bool ParseAddress(const char* text, uint8_t address[6]) {
    if (text == nullptr) {
        return false;
    }
    for (int i = 0; i < 6; i++) {
        int high = HexDigit(text[0]);
        int low = high < 0 ? -1 : HexDigit(text[1]);
        if (low < 0) {
            return false;
        }
        address[i] = static_cast<uint8_t>(high << 4 | low);
        text += 2;
        if (i < 5) {
            if (*text != ':' && *text != '-') {
                return false;
            }
            text++;
        }
    }
    return *text == '\0';
}

} // namespace qorsim

extern "C" void QorlSim_DefaultPrinterConfig(QorlSimPrinterConfig* config) {
    if (config == nullptr) {
        return;
    }
    std::memset(config, 0, sizeof(*config));
    config->controlPsm = 0x1001;
    config->dataPsm = 0x1003;
    config->lptStatus = QORLSIM_LPT_READY;
    config->controlMtu = 672;
    config->dataMtu = 672;
    config->creditPolicy = QORLSIM_CREDIT_WINDOW;
    config->creditAmount = 4096;
    config->bufferSize = 65536;
    config->printSpeed = 0;
    config->linkRate = 2100000;
    config->latencyUs = 1000;
}
