#pragma once
// A minimal HCRP client over the simulated stack's five operations, for the stand-in's own
// tests: registers and connects the two channels and records every event it is given.

#include <windows.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <mutex>
#include <vector>

#include "hcrp_packets.h"
#include "qorlib_control.h"
#include "qorlib_operations.h"

using qorsim::Pdu;

struct SeenEvent {
    uint32_t channel; // QORLSIM_CONTROL or QORLSIM_DATA
    uint8_t type;
    uint16_t result, handle, psm, inMtu, outMtu;
    void* context;
    DWORD threadId;
    std::vector<uint8_t> bytes;
};

class SimClient {
  public:
    explicit SimClient(const uint8_t* address) {
        std::memcpy(address_, address, 6);
        Fill(&control, &SimClient::OnControl, 0x1001, 656, 128);
        Fill(&data, &SimClient::OnData, 0x1003, 1024, 512);
    }

    // Once unregistered, the library calls neither callback again.
    ~SimClient() {
        QORL_Unregister(&control);
        QORL_Unregister(&data);
    }
    SimClient(const SimClient&) = delete;
    SimClient& operator=(const SimClient&) = delete;

    // Registers and connects one channel; returns the library's result.
    int Open(uint32_t which) {
        ChannelDescriptor* d = which == QORLSIM_CONTROL ? &control : &data;
        int r = QORL_Register(d);
        if (r != 0) {
            return r;
        }
        return QORL_Connect(d, d->psm, address_);
    }

    // Waits for the next event on `which` (any type); false on time-out.
    bool Next(uint32_t which, SeenEvent* out, int timeoutMs = 2000) {
        std::unique_lock<std::mutex> guard(lock_);
        auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
        for (;;) {
            for (size_t i = 0; i < events_.size(); i++) {
                if (events_[i].channel == which) {
                    *out = events_[i];
                    events_.erase(events_.begin() + static_cast<ptrdiff_t>(i));
                    return true;
                }
            }
            if (cv_.wait_until(guard, deadline) == std::cv_status::timeout) {
                return false;
            }
        }
    }

    // Sends one control PDU and returns the next control packet (empty on time-out).
    std::vector<uint8_t> Transact(const std::vector<uint8_t>& pdu, int timeoutMs = 2000) {
        QORL_SendData(handle(QORLSIM_CONTROL), pdu.data(), static_cast<uint16_t>(pdu.size()));
        SeenEvent e;
        if (!Next(QORLSIM_CONTROL, &e, timeoutMs)) {
            return {};
        }
        return e.bytes;
    }

    // From now on the callback holds each EVENT_DATA until `released` is signalled (at most
    // 10 s). Signal it before the client is destroyed.
    void StallDataEventsUntil(HANDLE released) { stall_ = released; }
    std::atomic<bool> holding{false}; // a callback is held now

    uint16_t handle(uint32_t which) const {
        return which == QORLSIM_CONTROL ? controlHandle_ : dataHandle_;
    }

    ChannelDescriptor control{};
    ChannelDescriptor data{};

  private:
    void Fill(ChannelDescriptor* d, ChannelCallback cb, uint16_t psm, uint16_t in, uint16_t out) {
        d->callback = cb;
        d->context = this;
        d->psm = psm;
        d->inMtu = in;
        d->outMtu = out;
    }
    static void Record(uint32_t which, const ChannelEvent* e) {
        SimClient* self = static_cast<SimClient*>(e->context);
        if (self->stall_ != nullptr && e->type == EVENT_DATA) {
            self->holding = true; // a client that takes its time
            WaitForSingleObject(self->stall_, 10000);
            self->holding = false;
        }
        SeenEvent s{which,     e->type,    e->result,
                    e->handle, e->psm,     e->inMtu,
                    e->outMtu, e->context, GetCurrentThreadId(),
                    {}};
        if (e->type == EVENT_DATA) {
            s.bytes.assign(e->data, e->data + e->length);
        }
        std::lock_guard<std::mutex> guard(self->lock_);
        if (e->type == EVENT_CONNECTED && e->result == 0) {
            (which == QORLSIM_CONTROL ? self->controlHandle_ : self->dataHandle_) = e->handle;
        }
        self->events_.push_back(s);
        self->cv_.notify_all();
    }
    static void __cdecl OnControl(const ChannelEvent* e) { Record(QORLSIM_CONTROL, e); }
    static void __cdecl OnData(const ChannelEvent* e) { Record(QORLSIM_DATA, e); }

    uint8_t address_[6];
    std::mutex lock_;
    std::condition_variable cv_;
    std::vector<SeenEvent> events_;
    uint16_t controlHandle_ = 0;
    uint16_t dataHandle_ = 0;
    HANDLE stall_ = nullptr;
};
