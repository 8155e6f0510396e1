// The control interface (qorlib_control.h): what tests and tools use to add printers, inject
// faults and read back what the printers received.

#include <chrono>
#include <cstring>

#include "sim_state.h"

using namespace qorsim;

namespace {

// Runs `action` on the printer with that address under the lock; -1 when there is none.
// The printer's files are written once the lock is released.
template <typename Action> int WithPrinter(const uint8_t* address, Action action) {
    FileWork files;
    std::lock_guard<std::mutex> guard(g_state->lock);
    EnsureStarted();
    Printer* p = FindPrinter(address);
    if (p == nullptr) {
        return -1;
    }
    files.Add(p);
    return action(p);
}

} // namespace

extern "C" {

__declspec(dllexport) int QorlSim_Reset(void) {
    FileWork files;
    std::unique_lock<std::mutex> guard(g_state->lock);
    EnsureStarted();
    DropAllEvents(&guard);
    for (auto& entry : g_state->printers) {
        FinishJob(entry.second.get());
        EndCapture(entry.second.get());
        files.Add(entry.second.get());
    }
    g_state->channels.clear();
    g_state->printers.clear();
    g_state->registrations.clear();
    g_state->globalFaults.clear();
    g_state->sinkDir.clear();
    g_state->pcapDir.clear();
    g_state->logDir.clear();
    return 0;
}

__declspec(dllexport) int QorlSim_AddPrinter(const QorlSimPrinterConfig* config) {
    if (config == nullptr || (config->deviceId == nullptr && config->deviceIdLength != 0) ||
        config->deviceIdLength > 0xFFFF - 2) {
        return -1;
    }
    FileWork files;
    std::lock_guard<std::mutex> guard(g_state->lock);
    EnsureStarted();
    AddPrinterLocked(*config, std::vector<QorlSimFault>(), &files);
    return 0;
}

__declspec(dllexport) int QorlSim_LoadConfig(const char* path) {
    FileWork files;
    std::lock_guard<std::mutex> guard(g_state->lock);
    EnsureStarted();
    return LoadConfigLocked(path, &files);
}

__declspec(dllexport) const char* QorlSim_LastError(void) {
    std::lock_guard<std::mutex> guard(g_state->lock);
    EnsureStarted();
    static std::string copy;
    copy = g_state->lastError;
    return copy.c_str();
}

__declspec(dllexport) int QorlSim_SetOutputDirectories(const char* sinkDir, const char* pcapDir,
                                                       const char* logDir) {
    std::lock_guard<std::mutex> guard(g_state->lock);
    EnsureStarted();
    g_state->sinkDir = sinkDir ? sinkDir : "";
    g_state->pcapDir = pcapDir ? pcapDir : "";
    g_state->logDir = logDir ? logDir : "";
    return 0;
}

__declspec(dllexport) int QorlSim_SetFault(const uint8_t* address, const QorlSimFault* fault) {
    if (fault == nullptr || fault->kind < QORLSIM_FAULT_REGISTER_REFUSED ||
        fault->kind > QORLSIM_FAULT_DISCONNECT_DELAY) {
        return -1;
    }
    QorlSimFault copy = *fault;
    if (copy.count == 0) {
        copy.count = 1;
    }
    if (address == nullptr) {
        std::lock_guard<std::mutex> guard(g_state->lock);
        EnsureStarted();
        g_state->globalFaults.push_back(copy);
        return 0;
    }
    return WithPrinter(address, [&](Printer* p) {
        p->faults.push_back(copy);
        return 0;
    });
}

__declspec(dllexport) int QorlSim_ClearFaults(const uint8_t* address) {
    if (address == nullptr) {
        std::lock_guard<std::mutex> guard(g_state->lock);
        EnsureStarted();
        g_state->globalFaults.clear();
        return 0;
    }
    return WithPrinter(address, [](Printer* p) {
        p->faults.clear();
        return 0;
    });
}

__declspec(dllexport) int QorlSim_SetStatus(const uint8_t* address, uint8_t lptStatus) {
    return WithPrinter(address, [&](Printer* p) {
        p->sim->SetStatus(lptStatus);
        return 0;
    });
}

__declspec(dllexport) int32_t
    QorlSim_GetSink(const uint8_t* address, uint32_t offset, void* buffer, uint32_t capacity) {
    return WithPrinter(address, [&](Printer* p) {
        if (buffer != nullptr && offset < p->sink.size()) {
            size_t n = p->sink.size() - offset;
            if (n > capacity) {
                n = capacity;
            }
            std::memcpy(buffer, p->sink.data() + offset, n);
        }
        return static_cast<int32_t>(p->sink.size());
    });
}

__declspec(dllexport) int QorlSim_ClearSink(const uint8_t* address) {
    return WithPrinter(address, [&](Printer* p) {
        p->sink.clear();
        return 0;
    });
}

__declspec(dllexport) int QorlSim_GetStats(const uint8_t* address, QorlSimStats* stats) {
    if (stats == nullptr) {
        return -1;
    }
    return WithPrinter(address, [&](Printer* p) {
        std::memset(stats, 0, sizeof(*stats));
        p->sim->FillStats(NowUs(), stats);
        stats->controlResponses = p->controlResponses;
        stats->mtuViolations = p->mtuViolations;
        stats->connections = p->connections;
        stats->jobs = p->jobs;
        stats->openChannels = (p->control ? QORLSIM_CONTROL : 0u) | (p->data ? QORLSIM_DATA : 0u);
        return 0;
    });
}

__declspec(dllexport) int32_t QorlSim_GetLogCount(const uint8_t* address) {
    return WithPrinter(address, [](Printer* p) { return static_cast<int>(p->log.size()); });
}

__declspec(dllexport) int QorlSim_GetLogEntry(const uint8_t* address, uint32_t index,
                                              QorlSimLogEntry* entry, void* bytes,
                                              uint32_t capacity) {
    return WithPrinter(address, [&](Printer* p) {
        if (index >= p->log.size()) {
            return -1;
        }
        const LogRecord& r = p->log[index];
        if (entry != nullptr) {
            *entry = r.entry;
        }
        if (bytes != nullptr && !r.bytes.empty()) {
            std::memcpy(bytes, r.bytes.data(),
                        r.bytes.size() < capacity ? r.bytes.size() : capacity);
        }
        return 0;
    });
}

__declspec(dllexport) int QorlSim_SendUnsolicited(const uint8_t* address, uint32_t channel,
                                                  const void* bytes, uint32_t length) {
    if ((bytes == nullptr && length != 0) || length > 0xFFFF) {
        return -1;
    }
    return WithPrinter(address, [&](Printer* p) {
        Channel* c = channel == QORLSIM_CONTROL ? p->control
                     : channel == QORLSIM_DATA  ? p->data
                                                : nullptr;
        if (c == nullptr) {
            return -1;
        }
        SendToClient(c, static_cast<const uint8_t*>(bytes), length, NextDue(c));
        return 0;
    });
}

__declspec(dllexport) int QorlSim_QueueBackChannel(const uint8_t* address, const void* bytes,
                                                   uint32_t length) {
    if (bytes == nullptr && length != 0) {
        return -1;
    }
    return WithPrinter(address, [&](Printer* p) {
        p->sim->QueueBackChannel(static_cast<const uint8_t*>(bytes), length);
        FlushBackChannel(p);
        return 0;
    });
}

__declspec(dllexport) int QorlSim_DropChannel(const uint8_t* address, uint32_t channels,
                                              uint8_t eventType) {
    return WithPrinter(address, [&](Printer* p) {
        return DropChannels(p, channels,
                            eventType == EVENT_CLOSED ? EVENT_CLOSED : EVENT_DISCONNECTED);
    });
}

__declspec(dllexport) int QorlSim_WaitIdle(uint32_t timeoutMs) {
    std::unique_lock<std::mutex> guard(g_state->lock);
    EnsureStarted();
    return WaitAllIdle(&guard, timeoutMs) ? 0 : -1;
}

} // extern "C"
