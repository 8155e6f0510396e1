// HCRP client side on an open channel pair: the four control requests and their responses,
// credit-based sending of print data and taking back-channel data. Every operation runs with
// the connection's exchangeLock held by its caller, so one request of a port is outstanding
// at a time and each response is matched against it; other ports' exchanges go on meanwhile.
// The queues are filled concurrently by the channel callbacks.

#include <cstring>

#include "common/memory.h"
#include "hcrp/hcrp_connection.h"
#include "hcrp/stack_binding.h"

namespace {

// While the printer grants too little credit: sleep, and count each sleep as a whole second
// against the retry time-out.
constexpr DWORD CREDIT_RETRY_SLEEP_MS = 500;
constexpr uint32_t CREDIT_RETRY_COUNTED_MS = 1000;

// A follow-up device-ID answer that is Success but carries no bytes makes no progress; after
// this many in a row the query gives up.
constexpr int MAX_EMPTY_ID_ANSWERS = 3;

// The library's send operation; a failure when the library is not bound.
int SendOnChannel(uint16_t handle, const uint8_t* bytes, uint32_t length) {
    return g_stackBinding.SendData(handle, bytes, static_cast<uint16_t>(length));
}

// The code a failed write leaves for the spooler: a link that went reads differently from a
// printer that stopped answering.
DWORD WriteFailure(const HcrpConnection& connection) {
    return connection.IsConnected() ? ERROR_TIMEOUT : ERROR_DEVICE_NOT_CONNECTED;
}

} // namespace

uint16_t HcrpConnection::WaitResponse(const uint8_t* request, uint32_t capacity,
                                      uint8_t* destination, uint16_t* responseLength) {
    *responseLength = 0;
    if (request == nullptr) {
        return RESPONSE_MALFORMED;
    }
    // Packets that cannot be this request's answer (a late or duplicated response, a PDU the
    // printer sent on its own, a fragment too short to carry the IDs) are consumed and the
    // wait goes on until the one deadline, so that one stray packet does not leave this and
    // every later request one packet behind. The verdict on the last stray packet is the
    // result when no answer comes at all.
    uint16_t strayVerdict = RESPONSE_TIMEOUT;
    const DWORD start = GetTickCount();
    for (;;) {
        // Read before the queue is looked at: a packet queued after that look changes the
        // count, so the wait cannot sleep through its signal.
        const LONG seen = controlSignals;
        DWORD outcome = WAIT_OBJECT_0;
        if (controlQueue.Peek() == nullptr) {
            const DWORD elapsed = GetTickCount() - start;
            const DWORD remaining =
                elapsed >= CONTROL_RESPONSE_TIMEOUT_MS ? 0 : CONTROL_RESPONSE_TIMEOUT_MS - elapsed;
            outcome = WaitControlSignal(seen, remaining);
        }
        if ((channelFlags & CONTROL_OPEN) == 0) {
            return RESPONSE_CHANNEL_CLOSED;
        }
        if (outcome == WAIT_TIMEOUT) {
            return strayVerdict;
        }
        if (outcome == WAIT_FAILED) {
            return RESPONSE_WAIT_FAILED;
        }
        if (outcome != WAIT_OBJECT_0) {
            continue;
        }
        // One signal can stand for several packets (the event does not count), and a signal
        // can outlive the packet it announced when an earlier wait already took that packet:
        // examine everything queued, and wait again when nothing is.
        while (ReceivedPacket* packet = controlQueue.Pop()) {
            uint16_t copied = 0;
            const uint16_t status = JudgeResponse(request, packet->data, packet->length, capacity,
                                                  destination, &copied);
            const bool stray = IsStrayPacket(request, packet->data, packet->length);
            ReceiveQueue::FreePacket(packet);
            if (stray) {
                strayVerdict = status;
                continue;
            }
            *responseLength = copied;
            return status;
        }
    }
}

int HcrpConnection::CreditGrant(uint32_t credit) {
    uint8_t request[MAX_REQUEST_SIZE];
    const size_t size = BuildCreditGrant(request, transactionId++, credit);
    SendOnChannel(controlChannel.handle, request, static_cast<uint32_t>(size));
    uint16_t length = 0;
    return WaitResponse(request, 0, nullptr, &length) == HCRP_STATUS_SUCCESS ? 1 : 0;
}

int HcrpConnection::CreditRequest() {
    uint8_t request[MAX_REQUEST_SIZE];
    const size_t size = BuildCreditRequest(request, transactionId++);
    SendOnChannel(controlChannel.handle, request, static_cast<uint32_t>(size));
    uint8_t credit[4] = {0, 0, 0, 0};
    uint16_t length = 0;
    if (WaitResponse(request, sizeof(credit), credit, &length) != HCRP_STATUS_SUCCESS) {
        return 0;
    }
    uint32_t granted = 0;
    if (!ReadCreditParameter(credit, length, &granted)) {
        return 0;
    }
    sendCredit = granted > UINT32_MAX - sendCredit ? UINT32_MAX : sendCredit + granted;
    return 1;
}

int HcrpConnection::GetLPTStatus(uint8_t* status) {
    uint8_t request[MAX_REQUEST_SIZE];
    const size_t size = BuildGetLPTStatus(request, transactionId++);
    SendOnChannel(controlChannel.handle, request, static_cast<uint32_t>(size));
    uint16_t length = 0;
    const uint16_t result = WaitResponse(request, 1, status, &length);
    if (result == HCRP_STATUS_SUCCESS) {
        return 1;
    }
    if (result == HCRP_STATUS_FEATURE_UNSUPPORTED) {
        *status = 0x18;
        return 1;
    }
    return 0;
}

int HcrpConnection::Get1284ID(uint8_t* destination, uint32_t capacity, uint16_t* totalLength,
                              uint32_t* copied) {
    *copied = 0;
    *totalLength = 0;
    WorkMemory workMemory;
    if (!workMemory.Allocate(controlMtu)) {
        return 0;
    }
    uint8_t* work = workMemory.as<uint8_t>();
    uint8_t request[MAX_REQUEST_SIZE];
    size_t size = BuildGet1284ID(request, transactionId++, 0, controlMtu);
    SendOnChannel(controlChannel.handle, request, static_cast<uint32_t>(size));
    uint16_t answered = 0;
    uint16_t total = 0;
    uint16_t answeredOfId = 0;
    // Without the two bytes of its length field the ID cannot be placed at all.
    if (WaitResponse(request, controlMtu, work, &answered) != HCRP_STATUS_SUCCESS ||
        !ReadDeviceIdTotal(work, answered, &total, &answeredOfId)) {
        return 0;
    }
    *totalLength = total;
    uint32_t taken = answeredOfId;
    if (taken > capacity) {
        if (capacity > 0) {
            memcpy(destination, work, capacity);
        }
        *copied = capacity;
        return 0;
    }
    if (taken > 0) {
        memcpy(destination, work, taken);
    }
    *copied = taken;
    uint32_t offset = taken;
    uint32_t remaining = (capacity < total ? capacity : total) - taken;
    int emptyAnswers = 0;
    while (remaining > 0) {
        const uint16_t asked =
            static_cast<uint16_t>(remaining < controlMtu ? remaining : controlMtu);
        size = BuildGet1284ID(request, transactionId++, static_cast<uint16_t>(offset), asked);
        SendOnChannel(controlChannel.handle, request, static_cast<uint32_t>(size));
        if (WaitResponse(request, asked, work, &answered) != HCRP_STATUS_SUCCESS) {
            return 0;
        }
        if (answered == 0) {
            if (++emptyAnswers >= MAX_EMPTY_ID_ANSWERS) {
                return 0;
            }
            continue;
        }
        emptyAnswers = 0;
        memcpy(destination + *copied, work, answered);
        *copied += answered;
        offset += answered;
        remaining -= answered;
    }
    return 1;
}

int HcrpConnection::Write(const uint8_t* data, uint32_t length, uint32_t* sentCount) {
    if (!IsConnected()) {
        SetLastError(ERROR_DEVICE_NOT_CONNECTED);
        return 0;
    }
    *sentCount = 0;
    uint64_t waited = 0;
    uint32_t remaining = length;
    while (remaining > 0) {
        const uint32_t limit = dataPieceLimit;
        if (limit == 0) {
            // The connected event never lowers the limit to 0; a piece of nothing would loop
            // for ever.
            SetLastError(ERROR_DEVICE_NOT_CONNECTED);
            return 0;
        }
        const uint32_t piece = remaining < limit ? remaining : limit;
        if (sendCredit < piece) {
            if (!CreditRequest()) {
                SetLastError(WriteFailure(*this));
                return 0;
            }
            if (sendCredit < piece) {
                Sleep(CREDIT_RETRY_SLEEP_MS);
                waited += CREDIT_RETRY_COUNTED_MS;
                if (waited >= retryTimeoutMs) {
                    SetLastError(ERROR_TIMEOUT);
                    return 0;
                }
                continue;
            }
        }
        if (SendOnChannel(dataChannel.handle, data + *sentCount, piece) != 0) {
            SetLastError(ERROR_DEVICE_NOT_CONNECTED);
            return 0;
        }
        *sentCount += piece;
        sendCredit -= piece;
        remaining -= piece;
    }
    return 1;
}

int HcrpConnection::Read(uint8_t* destination, uint32_t capacity, uint32_t* count) {
    if (!IsConnected()) {
        return 0;
    }
    ReceivedPacket* packet = dataQueue.Peek();
    if (packet == nullptr || capacity == 0) {
        *count = 0;
        return 0;
    }
    if (packet->length <= capacity) {
        *count = packet->length;
        if (packet->length > 0) {
            memcpy(destination, packet->data, packet->length);
        }
        ReceiveQueue::FreePacket(dataQueue.Pop());
    } else {
        // A packet larger than the caller's buffer is handed over in parts: the rest stays at
        // the head of the queue for the next Read. Only this thread touches the head's bytes;
        // the callbacks link new packets behind the tail.
        memcpy(destination, packet->data, capacity);
        memmove(packet->data, packet->data + capacity, packet->length - capacity);
        packet->length = static_cast<uint16_t>(packet->length - capacity);
        dataQueue.TookFromHead(static_cast<uint16_t>(capacity));
        *count = capacity;
    }
    CreditGrant(*count);
    return 1;
}
