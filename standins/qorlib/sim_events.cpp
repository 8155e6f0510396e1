// Event delivery: each printer address has a lane, a queue ordered by due time and a thread
// that hands each event to the client's callback without the lock held. One printer's events
// keep their order; a callback that takes its time holds up only its own printer's.

#include <chrono>
#include <cstring>
#include <thread>

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
    Lane* lane = c->printer->lane;
    lane->pending.emplace(dueUs, std::move(p));
    lane->wake.notify_one();
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

bool Delivering(const Lane* lane, uint32_t channelId, ChannelDescriptor* descriptor) {
    return lane->inFlight && ((channelId != 0 && lane->inFlightChannel == channelId) ||
                              (descriptor != nullptr && lane->inFlightDescriptor == descriptor));
}

void LaneMain(Lane* lane) {
    std::unique_lock<std::mutex> guard(g_state->lock);
    lane->threadId = GetCurrentThreadId();
    for (;;) {
        if (lane->pending.empty()) {
            g_state->idle.notify_all();
            lane->wake.wait(guard);
            continue;
        }
        auto first = lane->pending.begin();
        uint64_t now = NowUs();
        if (first->first > now) {
            // Under Wine a timed wait on the condition overshoots by milliseconds, Sleep by
            // a fraction of one: the condition is waited on only while the event is more
            // than 3 ms off, then Sleep, then the last 1.5 ms or less are spun out.
            const uint64_t due = first->first;
            const uint64_t wait = due - now;
            if (wait > 3000) {
                lane->wake.wait_for(guard, std::chrono::microseconds(wait - 3000));
            } else {
                guard.unlock();
                if (wait > 1500) {
                    Sleep(static_cast<DWORD>(wait / 1000) - 1);
                } else {
                    while (NowUs() < due) {
                    }
                }
                guard.lock();
            }
            continue;
        }
        Pending p = std::move(first->second);
        lane->pending.erase(first);
        // A channel closed by the client hears nothing more from it.
        if (!p.force && !ChannelOpen(p.channelId)) {
            continue;
        }
        if (p.callback == nullptr) {
            continue;
        }
        lane->inFlight = true;
        lane->inFlightChannel = p.channelId;
        lane->inFlightDescriptor = p.descriptor;
        guard.unlock();
        p.callback(reinterpret_cast<const ChannelEvent*>(p.event.data()));
        guard.lock();
        lane->inFlight = false;
        lane->inFlightChannel = 0;
        lane->inFlightDescriptor = nullptr;
        g_state->idle.notify_all();
    }
}

} // namespace

Lane* LaneFor(uint64_t addressKey) {
    std::unique_ptr<Lane>& lane = g_state->lanes[addressKey];
    if (!lane) {
        lane.reset(new Lane);
        std::thread(LaneMain, lane.get()).detach();
    }
    return lane.get();
}

// Once this returns, the caller may free what the callback uses.
void Quiesce(std::unique_lock<std::mutex>* guard, uint32_t channelId,
             ChannelDescriptor* descriptor) {
    for (auto& entry : g_state->lanes) {
        std::multimap<uint64_t, Pending>& pending = entry.second->pending;
        for (auto it = pending.begin(); it != pending.end();) {
            bool match = (channelId != 0 && it->second.channelId == channelId) ||
                         (descriptor != nullptr && it->second.descriptor == descriptor);
            it = match ? pending.erase(it) : std::next(it);
        }
    }
    DWORD self = GetCurrentThreadId();
    g_state->idle.wait(*guard, [&] {
        for (auto& entry : g_state->lanes) {
            if (entry.second->threadId != self &&
                Delivering(entry.second.get(), channelId, descriptor)) {
                return false;
            }
        }
        return true;
    });
}

void DropAllEvents(std::unique_lock<std::mutex>* guard) {
    for (auto& entry : g_state->lanes) {
        entry.second->pending.clear();
    }
    DWORD self = GetCurrentThreadId();
    g_state->idle.wait(*guard, [&] {
        for (auto& entry : g_state->lanes) {
            if (entry.second->threadId != self && entry.second->inFlight) {
                return false;
            }
        }
        return true;
    });
}

bool WaitAllIdle(std::unique_lock<std::mutex>* guard, uint32_t timeoutMs) {
    return g_state->idle.wait_for(*guard, std::chrono::milliseconds(timeoutMs), [] {
        for (auto& entry : g_state->lanes) {
            if (!entry.second->pending.empty() || entry.second->inFlight) {
                return false;
            }
        }
        return true;
    });
}

} // namespace qorsim
