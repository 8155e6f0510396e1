// Event delivery: events wait in one queue ordered by their due time, and the dispatcher
// thread hands each to the client's callback without the lock held.

#include <chrono>
#include <cstring>

#include "sim_state.h"

namespace qorsim {

std::vector<uint8_t> MakeEvent(uint8_t type, const Channel* c, const void* context) {
    std::vector<uint8_t> bytes(CHANNEL_EVENT_HEADER_SIZE + 2, 0);
    ChannelEvent* e = reinterpret_cast<ChannelEvent*>(bytes.data());
    e->type = type;
    e->handle = c->handle;
    e->context = const_cast<void*>(context);
    e->psm = c->psm;
    return bytes;
}

void Schedule(Channel* c, uint64_t dueUs, std::vector<uint8_t> event, bool force) {
    // Events of one channel keep their order unless a fault delays one of them on purpose.
    Pending p{c->id, force, c->descriptor, c->callback, std::move(event)};
    g_state->pending.emplace(dueUs, std::move(p));
    g_state->wake.notify_all();
}

uint64_t NextDue(Channel* c) {
    uint64_t due = NowUs() + c->printer->sim->config().latencyUs;
    if (due < c->lastDueUs) {
        due = c->lastDueUs;
    }
    c->lastDueUs = due;
    return due;
}

void SendToClient(Channel* c, const uint8_t* bytes, size_t length, uint64_t dueUs) {
    std::vector<uint8_t> event(CHANNEL_EVENT_HEADER_SIZE + (length > 2 ? length : 2), 0);
    ChannelEvent* e = reinterpret_cast<ChannelEvent*>(event.data());
    e->type = EVENT_DATA;
    e->handle = c->handle;
    e->context = c->context;
    e->psm = c->psm;
    e->length = static_cast<uint16_t>(length);
    if (length > 0) {
        std::memcpy(event.data() + CHANNEL_EVENT_HEADER_SIZE, bytes, length);
    }
    LogPacket(c->printer, c->kind, true, bytes, length);
    PcapPacket(c->printer, c, true, bytes, length);
    if (c->kind == QORLSIM_CONTROL) {
        c->printer->controlResponses++;
    }
    Schedule(c, dueUs, std::move(event), false);
}

namespace {

bool ChannelOpen(uint32_t id) {
    for (auto& entry : g_state->channels) {
        if (entry.second->id == id) {
            return true;
        }
    }
    return false;
}

} // namespace

void DispatcherMain() {
    std::unique_lock<std::mutex> guard(g_state->lock);
    g_state->dispatcherThreadId = GetCurrentThreadId();
    for (;;) {
        if (g_state->pending.empty()) {
            g_state->idle.notify_all();
            g_state->wake.wait(guard);
            continue;
        }
        auto first = g_state->pending.begin();
        uint64_t now = NowUs();
        if (first->first > now) {
            g_state->wake.wait_for(guard, std::chrono::microseconds(first->first - now));
            continue;
        }
        Pending p = std::move(first->second);
        g_state->pending.erase(first);
        // A channel closed by the client hears nothing more from it.
        if (!p.force && !ChannelOpen(p.channelId)) {
            continue;
        }
        if (p.callback == nullptr) {
            continue;
        }
        g_state->inFlight = true;
        g_state->inFlightChannel = p.channelId;
        g_state->inFlightDescriptor = p.descriptor;
        guard.unlock();
        p.callback(reinterpret_cast<const ChannelEvent*>(p.event.data()));
        guard.lock();
        g_state->inFlight = false;
        g_state->inFlightChannel = 0;
        g_state->inFlightDescriptor = nullptr;
        g_state->idle.notify_all();
    }
}

// Once this returns, the caller may free what the callback uses.
void Quiesce(std::unique_lock<std::mutex>* guard, uint32_t channelId,
             ChannelDescriptor* descriptor) {
    for (auto it = g_state->pending.begin(); it != g_state->pending.end();) {
        bool match = (channelId != 0 && it->second.channelId == channelId) ||
                     (descriptor != nullptr && it->second.descriptor == descriptor);
        it = match ? g_state->pending.erase(it) : std::next(it);
    }
    if (GetCurrentThreadId() == g_state->dispatcherThreadId) {
        return;
    }
    g_state->idle.wait(*guard, [&] {
        return !g_state->inFlight ||
               ((channelId == 0 || g_state->inFlightChannel != channelId) &&
                (descriptor == nullptr || g_state->inFlightDescriptor != descriptor));
    });
}

} // namespace qorsim
