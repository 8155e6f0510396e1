// The simulated Bluetooth stack: the five library operations the monitor calls, the control
// interface that tests and tools use, and the dispatcher thread that delivers channel events.
//
// One lock (g_lock) guards all state. Callbacks into the client always run on the
// dispatcher thread, never with the lock held, so a client may call back into the library
// from a callback.

#include <windows.h>

#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "config_file.h"
#include "hcrp/qorlib_abi.h"
#include "pcap_format.h"
#include "qorlib_control.h"
#include "sim_printer.h"

using namespace qorsim;

namespace {

uint64_t NowUs() {
    using namespace std::chrono;
    static const steady_clock::time_point start = steady_clock::now();
    return static_cast<uint64_t>(duration_cast<microseconds>(steady_clock::now() - start).count());
}

uint64_t AddressKey(const uint8_t* a) {
    uint64_t key = 0;
    for (int i = 0; i < 6; i++) {
        key = key << 8 | a[i];
    }
    return key;
}

std::string AddressFileName(const uint8_t* a) {
    char text[16];
    std::snprintf(text, sizeof(text), "%02x%02x%02x%02x%02x%02x", a[0], a[1], a[2], a[3], a[4],
                  a[5]);
    return text;
}

struct Printer;

struct Channel {
    uint32_t id;
    ChannelDescriptor* descriptor;
    uint16_t handle;
    uint32_t kind; // QORLSIM_CONTROL or QORLSIM_DATA
    ChannelCallback callback;
    void* context;
    uint16_t psm;
    uint16_t clientMtu; // the client's inMtu: the largest packet the printer may send it
    uint16_t hostCid;
    uint16_t printerCid;
    uint64_t dataBytes; // accepted in this connection
    uint64_t lastDueUs;
    Printer* printer;
};

struct LogRecord {
    QorlSimLogEntry entry;
    std::vector<uint8_t> bytes;
};

struct Printer {
    std::unique_ptr<SimPrinter> sim;
    std::vector<QorlSimFault> faults;
    std::vector<uint8_t> sink;
    std::vector<LogRecord> log;
    uint64_t addedUs = 0;
    uint64_t linkFreeUs = 0;
    uint32_t connections = 0;
    uint32_t jobs = 0;
    uint32_t controlResponses = 0;
    uint32_t mtuViolations = 0;
    Channel* control = nullptr;
    Channel* data = nullptr;
    FILE* jobFile = nullptr;
    FILE* pcap = nullptr;
    uint16_t aclHandle = 0;
    uint8_t signalIdent = 0;
};

struct Registration {
    ChannelCallback callback;
    void* context;
    uint16_t psm;
    uint16_t inMtu;
    uint16_t outMtu;
};

struct Pending {
    uint32_t channelId;
    bool force; // delivered although the channel is gone (the printer's own close)
    ChannelDescriptor* descriptor;
    ChannelCallback callback;
    std::vector<uint8_t> event;
};

struct State {
    std::mutex lock;
    std::condition_variable wake; // dispatcher: new work
    std::condition_variable idle; // WaitIdle / Reset: nothing in flight
    bool started = false;
    bool inFlight = false;
    uint32_t inFlightChannel = 0;
    ChannelDescriptor* inFlightDescriptor = nullptr;
    DWORD dispatcherThreadId = 0;
    std::map<uint64_t, std::unique_ptr<Printer>> printers;
    std::map<uint16_t, std::unique_ptr<Channel>> channels;
    std::map<ChannelDescriptor*, Registration> registrations;
    std::multimap<uint64_t, Pending> pending;
    std::vector<QorlSimFault> globalFaults;
    uint16_t nextHandle = 1;
    uint32_t nextChannelId = 1;
    uint16_t nextAclHandle = 1;
    std::string sinkDir, pcapDir, logDir;
    std::string lastError;
};

// Never destroyed: the dispatcher thread may outlive static destruction at process exit.
State* g_state = new State;

void DebugLine(const std::string& text) {
    OutputDebugStringA(("QORLIB: " + text + "\n").c_str());
}

// ---- faults -------------------------------------------------------------------------------

// Takes one firing of the first matching fault; returns it (copied) or false.
bool TakeFault(std::vector<QorlSimFault>* faults, uint32_t kind, uint32_t channel, uint16_t pduId,
               QorlSimFault* out) {
    for (size_t i = 0; i < faults->size(); i++) {
        QorlSimFault& f = (*faults)[i];
        if (f.kind != kind) {
            continue;
        }
        if (f.channels != 0 && channel != 0 && (f.channels & channel) == 0) {
            continue;
        }
        if (f.pduId != 0 && f.pduId != pduId) {
            continue;
        }
        *out = f;
        if (f.count > 0 && --f.count == 0) {
            faults->erase(faults->begin() + static_cast<ptrdiff_t>(i));
        }
        return true;
    }
    return false;
}

// ---- output files -------------------------------------------------------------------------

std::string JoinPath(const std::string& dir, const std::string& name) {
    if (dir.empty()) {
        return name;
    }
    char last = dir[dir.size() - 1];
    return dir + (last == '\\' || last == '/' ? "" : "\\") + name;
}

// Opens <dir>\<address>-<n><ext> with the first n not yet taken.
FILE* OpenNumbered(const std::string& dir, const uint8_t* address, const char* ext) {
    if (dir.empty()) {
        return nullptr;
    }
    for (int n = 1; n < 100000; n++) {
        std::string path = JoinPath(dir, AddressFileName(address) + "-" + std::to_string(n) + ext);
        if (GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES) {
            continue;
        }
        FILE* f = std::fopen(path.c_str(), "wb");
        if (f == nullptr) {
            DebugLine("cannot create " + path);
        }
        return f;
    }
    return nullptr;
}

// Capture timestamps: wall-clock time at the first use plus the steady clock since then.
uint64_t CaptureTimeUs() {
    static const uint64_t base = [] {
        FILETIME now;
        GetSystemTimeAsFileTime(&now);
        uint64_t ticks = static_cast<uint64_t>(now.dwHighDateTime) << 32 | now.dwLowDateTime;
        return ticks / 10 - 11644473600ull * 1000000 - NowUs(); // 1601 -> 1970
    }();
    return base + NowUs();
}

void PcapWrite(Printer* p, uint32_t direction, const std::vector<uint8_t>& h4) {
    if (p->pcap != nullptr) {
        std::vector<uint8_t> record = PcapRecord(CaptureTimeUs(), direction, h4);
        std::fwrite(record.data(), 1, record.size(), p->pcap);
        std::fflush(p->pcap);
    }
}

void PcapPacket(Printer* p, Channel* c, bool fromPrinter, const uint8_t* bytes, size_t length) {
    if (p->pcap != nullptr) {
        PcapWrite(p, fromPrinter ? PCAP_RECEIVED : PCAP_SENT,
                  AclL2cap(p->aclHandle, fromPrinter ? c->hostCid : c->printerCid, bytes, length));
    }
}

void PcapSignal(Printer* p, bool fromPrinter, const std::vector<uint8_t>& command) {
    if (p->pcap != nullptr) {
        PcapWrite(p, fromPrinter ? PCAP_RECEIVED : PCAP_SENT,
                  AclL2cap(p->aclHandle, 0x0001, command.data(), command.size()));
    }
}

void LogPacket(Printer* p, uint32_t channel, bool fromPrinter, const uint8_t* bytes,
               size_t length) {
    LogRecord r;
    r.entry.timeMs = static_cast<uint32_t>((NowUs() - p->addedUs) / 1000);
    r.entry.fromPrinter = fromPrinter ? 1 : 0;
    r.entry.channel = static_cast<uint8_t>(channel);
    r.entry.length = static_cast<uint16_t>(length);
    if (channel == QORLSIM_CONTROL) {
        r.bytes.assign(bytes, bytes + length);
    }
    r.entry.stored = static_cast<uint32_t>(r.bytes.size());
    if (!g_state->logDir.empty()) {
        std::string path =
            JoinPath(g_state->logDir, AddressFileName(p->sim->config().address) + ".log");
        if (FILE* f = std::fopen(path.c_str(), "ab")) {
            std::fprintf(f, "%10u ms %s %s %5u", r.entry.timeMs, fromPrinter ? "<-" : "->",
                         channel == QORLSIM_CONTROL ? "control" : "data   ",
                         static_cast<unsigned>(length));
            for (size_t i = 0; i < r.bytes.size() && i < 64; i++) {
                std::fprintf(f, " %02x", r.bytes[i]);
            }
            std::fprintf(f, "%s\n", r.bytes.size() > 64 ? " ..." : "");
            std::fclose(f);
        }
    }
    p->log.push_back(std::move(r));
}

// ---- event delivery -----------------------------------------------------------------------

void EnsureStarted();

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

bool ChannelOpen(uint32_t id) {
    for (auto& entry : g_state->channels) {
        if (entry.second->id == id) {
            return true;
        }
    }
    return false;
}

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
            // Under Wine a timed wait on the condition overshoots by milliseconds, Sleep by
            // a fraction of one: the condition is waited on only while the event is more
            // than 3 ms off, then Sleep, then the last 1.5 ms or less are spun out.
            const uint64_t due = first->first;
            const uint64_t wait = due - now;
            if (wait > 3000) {
                g_state->wake.wait_for(guard, std::chrono::microseconds(wait - 3000));
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

// Drops the events not yet delivered for a channel (or a descriptor) and waits for one being
// delivered to finish, so that the caller may free what the callback uses once this returns.
// A call from inside a callback does not wait for itself.
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

// ---- channels -----------------------------------------------------------------------------

void FinishJob(Printer* p) {
    if (p->jobFile != nullptr) {
        std::fclose(p->jobFile);
        p->jobFile = nullptr;
    }
}

// Removes a channel. `notify`: report eventType to the client (printer-side drop).
void CloseChannel(Channel* c, bool fromPrinter, uint8_t eventType) {
    Printer* p = c->printer;
    if (fromPrinter) {
        Schedule(c, NextDue(c), MakeEvent(eventType, c, c->context), true);
    }
    PcapSignal(p, fromPrinter,
               L2capDisconnection(false, ++p->signalIdent, fromPrinter ? c->hostCid : c->printerCid,
                                  fromPrinter ? c->printerCid : c->hostCid));
    PcapSignal(p, !fromPrinter,
               L2capDisconnection(true, p->signalIdent, fromPrinter ? c->hostCid : c->printerCid,
                                  fromPrinter ? c->printerCid : c->hostCid));
    if (p->control == c) {
        p->control = nullptr;
    }
    if (p->data == c) {
        p->data = nullptr;
        FinishJob(p);
    }
    if (p->control == nullptr && p->data == nullptr && p->pcap != nullptr) {
        std::fclose(p->pcap);
        p->pcap = nullptr;
    }
    g_state->channels.erase(c->handle);
}

int DropChannels(Printer* p, uint32_t which, uint8_t eventType) {
    int dropped = 0;
    if ((which & QORLSIM_DATA) && p->data != nullptr) {
        CloseChannel(p->data, true, eventType);
        dropped++;
    }
    if ((which & QORLSIM_CONTROL) && p->control != nullptr) {
        CloseChannel(p->control, true, eventType);
        dropped++;
    }
    return dropped;
}

void FlushBackChannel(Printer* p) {
    Channel* c = p->data;
    if (c == nullptr) {
        return;
    }
    size_t maxPacket = c->clientMtu ? c->clientMtu : 672;
    std::vector<uint8_t> packet;
    while (p->sim->TakeBackChannel(maxPacket, &packet)) {
        SendToClient(c, packet.data(), packet.size(), NextDue(c));
    }
}

Printer* FindPrinter(const uint8_t* address) {
    if (address == nullptr) {
        return nullptr;
    }
    auto it = g_state->printers.find(AddressKey(address));
    return it == g_state->printers.end() ? nullptr : it->second.get();
}

Channel* FindChannel(uint16_t handle) {
    auto it = g_state->channels.find(handle);
    return it == g_state->channels.end() ? nullptr : it->second.get();
}

void ControlFromClient(Channel* c, const uint8_t* bytes, size_t length) {
    Printer* p = c->printer;
    LogPacket(p, QORLSIM_CONTROL, false, bytes, length);
    PcapPacket(p, c, false, bytes, length);
    std::vector<uint8_t> response;
    if (!p->sim->HandleControl(bytes, length, c->clientMtu, NowUs(), &response)) {
        return;
    }
    uint16_t pduId = length >= 2 ? GetBe16(bytes) : 0;
    QorlSimFault f;
    if (TakeFault(&p->faults, QORLSIM_FAULT_RESPONSE_LOST, QORLSIM_CONTROL, pduId, &f)) {
        return;
    }
    static const uint32_t kDamage[] = {
        QORLSIM_FAULT_RESPONSE_WRONG_TRANSACTION, QORLSIM_FAULT_RESPONSE_TOO_SHORT,
        QORLSIM_FAULT_RESPONSE_BAD_PARAM_LENGTH, QORLSIM_FAULT_RESPONSE_STATUS};
    for (uint32_t kind : kDamage) {
        if (TakeFault(&p->faults, kind, QORLSIM_CONTROL, pduId, &f)) {
            DamageResponse(&response, kind, f.value);
        }
    }
    uint64_t due = NextDue(c);
    // The request goes on the air after the data still queued on the link.
    if (p->linkFreeUs + p->sim->config().latencyUs > due) {
        due = c->lastDueUs = p->linkFreeUs + p->sim->config().latencyUs;
    }
    if (TakeFault(&p->faults, QORLSIM_FAULT_RESPONSE_DELAY, QORLSIM_CONTROL, pduId, &f)) {
        due = NowUs() + static_cast<uint64_t>(f.value) * 1000;
    }
    bool twice =
        TakeFault(&p->faults, QORLSIM_FAULT_RESPONSE_DUPLICATED, QORLSIM_CONTROL, pduId, &f);
    SendToClient(c, response.data(), response.size(), due);
    if (twice) {
        SendToClient(c, response.data(), response.size(), due);
    }
    if (pduId == PDU_CREDIT_GRANT) {
        FlushBackChannel(p);
    }
}

// Returns the library result; *sleepUntilUs receives the time the link is free again.
int DataFromClient(Channel* c, const uint8_t* bytes, size_t length, uint64_t* sleepUntilUs) {
    Printer* p = c->printer;
    QorlSimFault f;
    for (size_t i = 0; i < p->faults.size(); i++) {
        QorlSimFault& candidate = p->faults[i];
        if (candidate.kind == QORLSIM_FAULT_SEND_REFUSED && c->dataBytes >= candidate.afterBytes &&
            TakeFault(&p->faults, QORLSIM_FAULT_SEND_REFUSED, QORLSIM_DATA, 0, &f)) {
            return f.value ? static_cast<int>(f.value) : 1;
        }
    }
    uint16_t mtu = p->sim->config().dataMtu;
    if (length > mtu) {
        // A real stack refuses an SDU larger than the peer's MTU.
        p->mtuViolations++;
        return 3;
    }
    LogPacket(p, QORLSIM_DATA, false, bytes, length);
    PcapPacket(p, c, false, bytes, length);
    uint64_t now = NowUs();
    p->sim->AcceptData(length, now);
    p->sink.insert(p->sink.end(), bytes, bytes + length);
    if (c->dataBytes == 0 && length > 0) {
        p->jobs++;
        if (p->jobFile == nullptr) {
            p->jobFile = OpenNumbered(g_state->sinkDir, p->sim->config().address, ".prn");
        }
    }
    if (p->jobFile != nullptr && length > 0) {
        std::fwrite(bytes, 1, length, p->jobFile);
        std::fflush(p->jobFile);
    }
    c->dataBytes += length;
    uint32_t rate = p->sim->config().linkRate;
    if (rate != 0) {
        // L2CAP and ACL headers and the H4 byte travel too.
        uint64_t start = p->linkFreeUs > now ? p->linkFreeUs : now;
        p->linkFreeUs = start + (static_cast<uint64_t>(length) + 9) * 8 * 1000000 / rate;
        *sleepUntilUs = p->linkFreeUs;
    }
    for (size_t i = 0; i < p->faults.size(); i++) {
        QorlSimFault& candidate = p->faults[i];
        if (candidate.kind == QORLSIM_FAULT_CHANNEL_DROP && c->dataBytes >= candidate.afterBytes &&
            TakeFault(&p->faults, QORLSIM_FAULT_CHANNEL_DROP, 0, 0, &f)) {
            uint8_t type = f.value == EVENT_CLOSED ? EVENT_CLOSED : EVENT_DISCONNECTED;
            DropChannels(p, f.channels ? f.channels : QORLSIM_CONTROL | QORLSIM_DATA, type);
            break;
        }
    }
    return 0;
}

void AddPrinterLocked(const QorlSimPrinterConfig& config, const std::vector<QorlSimFault>& faults) {
    uint64_t key = AddressKey(config.address);
    auto existing = g_state->printers.find(key);
    if (existing != g_state->printers.end()) {
        Printer* old = existing->second.get();
        DropChannels(old, QORLSIM_CONTROL | QORLSIM_DATA, EVENT_DISCONNECTED);
        g_state->printers.erase(existing);
    }
    std::unique_ptr<Printer> p(new Printer);
    p->sim.reset(new SimPrinter(config));
    p->faults = faults;
    p->addedUs = NowUs();
    g_state->printers[key] = std::move(p);
}

int LoadConfigLocked(const char* path) {
    FILE* f = path ? std::fopen(path, "rb") : nullptr;
    if (f == nullptr) {
        g_state->lastError = std::string("cannot open ") + (path ? path : "(null)");
        return -1;
    }
    std::string text;
    char chunk[4096];
    size_t n;
    while ((n = std::fread(chunk, 1, sizeof(chunk), f)) > 0) {
        text.append(chunk, n);
    }
    std::fclose(f);
    ConfigResult result;
    if (!ParseConfigText(text, &result)) {
        g_state->lastError = std::string(path) + ": " + result.error;
        return -1;
    }
    if (!result.sinkDir.empty()) {
        g_state->sinkDir = result.sinkDir;
    }
    if (!result.pcapDir.empty()) {
        g_state->pcapDir = result.pcapDir;
    }
    if (!result.logDir.empty()) {
        g_state->logDir = result.logDir;
    }
    for (PrinterEntry& entry : result.printers) {
        entry.config.deviceId = entry.deviceId.empty() ? nullptr : entry.deviceId.data();
        entry.config.deviceIdLength = static_cast<uint32_t>(entry.deviceId.size());
        std::vector<QorlSimFault> faults;
        for (const QorlSimFault& fault : entry.faults) {
            if (fault.kind == QORLSIM_FAULT_REGISTER_REFUSED) {
                g_state->globalFaults.push_back(fault);
            } else {
                faults.push_back(fault);
            }
        }
        AddPrinterLocked(entry.config, faults);
    }
    return static_cast<int>(result.printers.size());
}

// Starts the dispatcher on first use and keeps the library in memory from then on: its
// thread runs the library's code, so the module must never be unmapped under it.
void EnsureStarted() {
    if (g_state->started) {
        return;
    }
    g_state->started = true;
    HMODULE self = nullptr;
    GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_PIN,
                       reinterpret_cast<LPCWSTR>(&EnsureStarted), &self);
    std::thread(DispatcherMain).detach();
    char path[MAX_PATH];
    DWORD n = GetEnvironmentVariableA("QORLIB_CONFIG", path, sizeof(path));
    if (n > 0 && n < sizeof(path)) {
        int added = LoadConfigLocked(path);
        if (added < 0) {
            DebugLine("configuration not loaded: " + g_state->lastError);
        } else {
            DebugLine("configuration " + std::string(path) + ": " + std::to_string(added) +
                      " printer(s)");
        }
    }
}

} // namespace

// ---- the library's operations --------------------------------------------------------------

extern "C" {

__declspec(dllexport) int __cdecl QORL_Register(ChannelDescriptor* descriptor) {
    if (descriptor == nullptr || descriptor->callback == nullptr) {
        return 1;
    }
    std::lock_guard<std::mutex> guard(g_state->lock);
    EnsureStarted();
    QorlSimFault f;
    if (TakeFault(&g_state->globalFaults, QORLSIM_FAULT_REGISTER_REFUSED, 0, 0, &f)) {
        return f.value ? static_cast<int>(f.value) : 1;
    }
    g_state->registrations[descriptor] =
        Registration{descriptor->callback, descriptor->context, descriptor->psm, descriptor->inMtu,
                     descriptor->outMtu};
    return 0;
}

// After it returns, the descriptor's callback is not called again.
__declspec(dllexport) int __cdecl QORL_Unregister(ChannelDescriptor* descriptor) {
    std::unique_lock<std::mutex> guard(g_state->lock);
    EnsureStarted();
    if (g_state->registrations.erase(descriptor) == 0) {
        return 1;
    }
    for (auto& entry : g_state->channels) {
        if (entry.second->descriptor == descriptor) {
            entry.second->callback = nullptr; // the channel stays, silent
        }
    }
    Quiesce(&guard, 0, descriptor);
    return 0;
}

__declspec(dllexport) int __cdecl QORL_Connect(ChannelDescriptor* descriptor, uint16_t psm,
                                               const uint8_t* deviceAddress) {
    std::lock_guard<std::mutex> guard(g_state->lock);
    EnsureStarted();
    auto reg = g_state->registrations.find(descriptor);
    if (descriptor == nullptr || reg == g_state->registrations.end()) {
        return 2; // not registered
    }
    Printer* p = FindPrinter(deviceAddress);
    if (p == nullptr) {
        return 4; // no such device in range
    }
    const QorlSimPrinterConfig& config = p->sim->config();
    uint32_t kind;
    if (psm == config.controlPsm && p->control == nullptr) {
        kind = QORLSIM_CONTROL;
    } else if (psm == config.dataPsm && p->data == nullptr) {
        kind = QORLSIM_DATA;
    } else if (psm == config.controlPsm || psm == config.dataPsm) {
        return 5; // that channel is already open
    } else {
        return 6; // PSM not supported by the device
    }
    QorlSimFault f;
    if (TakeFault(&p->faults, QORLSIM_FAULT_CONNECT_REFUSED, kind, 0, &f)) {
        return f.value ? static_cast<int>(f.value) : 1;
    }
    uint16_t handle = g_state->nextHandle;
    while (handle == 0 || g_state->channels.count(handle)) {
        handle++;
    }
    g_state->nextHandle = static_cast<uint16_t>(handle + 1);
    std::unique_ptr<Channel> c(new Channel);
    c->id = g_state->nextChannelId++;
    c->descriptor = descriptor;
    c->handle = handle;
    c->kind = kind;
    c->callback = reg->second.callback;
    c->context = reg->second.context;
    c->psm = psm;
    c->clientMtu = reg->second.inMtu;
    c->dataBytes = 0;
    c->lastDueUs = 0;
    c->printer = p;
    if (p->control == nullptr && p->data == nullptr) {
        p->aclHandle = g_state->nextAclHandle++ & 0x0EFF;
        p->pcap = OpenNumbered(g_state->pcapDir, config.address, ".pcap");
        if (p->pcap != nullptr) {
            std::vector<uint8_t> header = PcapFileHeader();
            std::fwrite(header.data(), 1, header.size(), p->pcap);
            PcapWrite(p, PCAP_RECEIVED, HciConnectionComplete(p->aclHandle, config.address));
        }
    }
    c->hostCid = static_cast<uint16_t>(0x0040 + kind);
    c->printerCid = static_cast<uint16_t>(0x0080 + kind);
    uint8_t ident = ++p->signalIdent;
    PcapSignal(p, false, L2capConnectionRequest(ident, psm, c->hostCid));
    PcapSignal(p, true, L2capConnectionResponse(ident, c->printerCid, c->hostCid));
    if (kind == QORLSIM_CONTROL) {
        p->control = c.get();
        p->connections++;
        p->sim->BeginConnection();
    } else {
        p->data = c.get();
    }
    Channel* channel = c.get();
    g_state->channels[handle] = std::move(c);

    if (TakeFault(&p->faults, QORLSIM_FAULT_NO_CONNECTED_EVENT, kind, 0, &f)) {
        return 0;
    }
    std::vector<uint8_t> event = MakeEvent(EVENT_CONNECTED, channel, channel->context);
    ChannelEvent* e = reinterpret_cast<ChannelEvent*>(event.data());
    e->inMtu = reg->second.inMtu;
    e->outMtu = kind == QORLSIM_CONTROL ? config.controlMtu : config.dataMtu;
    if (TakeFault(&p->faults, QORLSIM_FAULT_CONNECTED_RESULT, kind, 0, &f)) {
        e->result = static_cast<uint16_t>(f.value ? f.value : 1);
        // The connection failed after all: the channel does not exist.
        Schedule(channel, NextDue(channel), std::move(event), true);
        CloseChannel(channel, false, 0);
        return 0;
    }
    Schedule(channel, NextDue(channel), std::move(event), false);
    if (kind == QORLSIM_DATA) {
        FlushBackChannel(p);
    }
    return 0;
}

// After it returns, no event of that channel is delivered any more.
__declspec(dllexport) int __cdecl QORL_Disconnect(uint16_t handle) {
    std::unique_lock<std::mutex> guard(g_state->lock);
    EnsureStarted();
    Channel* c = FindChannel(handle);
    if (c == nullptr) {
        return 1;
    }
    uint32_t id = c->id;
    CloseChannel(c, false, 0);
    Quiesce(&guard, id, nullptr);
    return 0;
}

__declspec(dllexport) int __cdecl QORL_SendData(uint16_t handle, const void* data,
                                                uint16_t length) {
    uint64_t sleepUntil = 0;
    int result;
    {
        std::lock_guard<std::mutex> guard(g_state->lock);
        EnsureStarted();
        Channel* c = FindChannel(handle);
        if (c == nullptr) {
            return 1;
        }
        if (data == nullptr && length != 0) {
            return 2;
        }
        const uint8_t* bytes = static_cast<const uint8_t*>(data);
        if (c->kind == QORLSIM_CONTROL) {
            ControlFromClient(c, bytes, length);
            result = 0;
        } else {
            result = DataFromClient(c, bytes, length, &sleepUntil);
        }
    }
    // The send returns when the link has carried all but the last 1 to 2 ms of what it was
    // given, as a stack with a transmit buffer does: a Sleep that overshoots (under Wine, by
    // a fraction of a millisecond) does not leave the link idle.
    if (sleepUntil != 0) {
        uint64_t now = NowUs();
        if (sleepUntil > now + 2000) {
            Sleep(static_cast<DWORD>((sleepUntil - now) / 1000) - 1);
        }
    }
    return result;
}

// ---- control interface ----------------------------------------------------------------------

__declspec(dllexport) int QorlSim_Reset(void) {
    std::unique_lock<std::mutex> guard(g_state->lock);
    EnsureStarted();
    g_state->pending.clear();
    if (GetCurrentThreadId() != g_state->dispatcherThreadId) {
        g_state->idle.wait(guard, [] { return !g_state->inFlight; });
    }
    for (auto& entry : g_state->printers) {
        FinishJob(entry.second.get());
        if (entry.second->pcap != nullptr) {
            std::fclose(entry.second->pcap);
        }
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
    std::lock_guard<std::mutex> guard(g_state->lock);
    EnsureStarted();
    AddPrinterLocked(*config, std::vector<QorlSimFault>());
    return 0;
}

__declspec(dllexport) int QorlSim_LoadConfig(const char* path) {
    std::lock_guard<std::mutex> guard(g_state->lock);
    EnsureStarted();
    return LoadConfigLocked(path);
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
        fault->kind > QORLSIM_FAULT_RESPONSE_STATUS) {
        return -1;
    }
    QorlSimFault copy = *fault;
    if (copy.count == 0) {
        copy.count = 1;
    }
    std::lock_guard<std::mutex> guard(g_state->lock);
    EnsureStarted();
    if (address == nullptr) {
        g_state->globalFaults.push_back(copy);
        return 0;
    }
    Printer* p = FindPrinter(address);
    if (p == nullptr) {
        return -1;
    }
    p->faults.push_back(copy);
    return 0;
}

__declspec(dllexport) int QorlSim_ClearFaults(const uint8_t* address) {
    std::lock_guard<std::mutex> guard(g_state->lock);
    EnsureStarted();
    if (address == nullptr) {
        g_state->globalFaults.clear();
        return 0;
    }
    Printer* p = FindPrinter(address);
    if (p == nullptr) {
        return -1;
    }
    p->faults.clear();
    return 0;
}

__declspec(dllexport) int QorlSim_SetStatus(const uint8_t* address, uint8_t lptStatus) {
    std::lock_guard<std::mutex> guard(g_state->lock);
    EnsureStarted();
    Printer* p = FindPrinter(address);
    if (p == nullptr) {
        return -1;
    }
    p->sim->SetStatus(lptStatus);
    return 0;
}

__declspec(dllexport) int32_t
    QorlSim_GetSink(const uint8_t* address, uint32_t offset, void* buffer, uint32_t capacity) {
    std::lock_guard<std::mutex> guard(g_state->lock);
    EnsureStarted();
    Printer* p = FindPrinter(address);
    if (p == nullptr) {
        return -1;
    }
    if (buffer != nullptr && offset < p->sink.size()) {
        size_t n = p->sink.size() - offset;
        if (n > capacity) {
            n = capacity;
        }
        std::memcpy(buffer, p->sink.data() + offset, n);
    }
    return static_cast<int32_t>(p->sink.size());
}

__declspec(dllexport) int QorlSim_ClearSink(const uint8_t* address) {
    std::lock_guard<std::mutex> guard(g_state->lock);
    EnsureStarted();
    Printer* p = FindPrinter(address);
    if (p == nullptr) {
        return -1;
    }
    p->sink.clear();
    return 0;
}

__declspec(dllexport) int QorlSim_GetStats(const uint8_t* address, QorlSimStats* stats) {
    if (stats == nullptr) {
        return -1;
    }
    std::lock_guard<std::mutex> guard(g_state->lock);
    EnsureStarted();
    Printer* p = FindPrinter(address);
    if (p == nullptr) {
        return -1;
    }
    std::memset(stats, 0, sizeof(*stats));
    p->sim->FillStats(NowUs(), stats);
    stats->controlResponses = p->controlResponses;
    stats->mtuViolations = p->mtuViolations;
    stats->connections = p->connections;
    stats->jobs = p->jobs;
    stats->openChannels = (p->control ? QORLSIM_CONTROL : 0u) | (p->data ? QORLSIM_DATA : 0u);
    return 0;
}

__declspec(dllexport) int32_t QorlSim_GetLogCount(const uint8_t* address) {
    std::lock_guard<std::mutex> guard(g_state->lock);
    EnsureStarted();
    Printer* p = FindPrinter(address);
    return p == nullptr ? -1 : static_cast<int32_t>(p->log.size());
}

__declspec(dllexport) int QorlSim_GetLogEntry(const uint8_t* address, uint32_t index,
                                              QorlSimLogEntry* entry, void* bytes,
                                              uint32_t capacity) {
    std::lock_guard<std::mutex> guard(g_state->lock);
    EnsureStarted();
    Printer* p = FindPrinter(address);
    if (p == nullptr || index >= p->log.size()) {
        return -1;
    }
    const LogRecord& r = p->log[index];
    if (entry != nullptr) {
        *entry = r.entry;
    }
    if (bytes != nullptr && !r.bytes.empty()) {
        std::memcpy(bytes, r.bytes.data(), r.bytes.size() < capacity ? r.bytes.size() : capacity);
    }
    return 0;
}

__declspec(dllexport) int QorlSim_SendUnsolicited(const uint8_t* address, uint32_t channel,
                                                  const void* bytes, uint32_t length) {
    if ((bytes == nullptr && length != 0) || length > 0xFFFF) {
        return -1;
    }
    std::lock_guard<std::mutex> guard(g_state->lock);
    EnsureStarted();
    Printer* p = FindPrinter(address);
    if (p == nullptr) {
        return -1;
    }
    Channel* c = channel == QORLSIM_CONTROL ? p->control
                 : channel == QORLSIM_DATA  ? p->data
                                            : nullptr;
    if (c == nullptr) {
        return -1;
    }
    SendToClient(c, static_cast<const uint8_t*>(bytes), length, NextDue(c));
    return 0;
}

__declspec(dllexport) int QorlSim_QueueBackChannel(const uint8_t* address, const void* bytes,
                                                   uint32_t length) {
    if (bytes == nullptr && length != 0) {
        return -1;
    }
    std::lock_guard<std::mutex> guard(g_state->lock);
    EnsureStarted();
    Printer* p = FindPrinter(address);
    if (p == nullptr) {
        return -1;
    }
    p->sim->QueueBackChannel(static_cast<const uint8_t*>(bytes), length);
    FlushBackChannel(p);
    return 0;
}

__declspec(dllexport) int QorlSim_DropChannel(const uint8_t* address, uint32_t channels,
                                              uint8_t eventType) {
    std::lock_guard<std::mutex> guard(g_state->lock);
    EnsureStarted();
    Printer* p = FindPrinter(address);
    if (p == nullptr) {
        return -1;
    }
    return DropChannels(p, channels, eventType == EVENT_CLOSED ? EVENT_CLOSED : EVENT_DISCONNECTED);
}

__declspec(dllexport) int QorlSim_WaitIdle(uint32_t timeoutMs) {
    std::unique_lock<std::mutex> guard(g_state->lock);
    EnsureStarted();
    bool idle = g_state->idle.wait_for(guard, std::chrono::milliseconds(timeoutMs), [] {
        return g_state->pending.empty() && !g_state->inFlight;
    });
    return idle ? 0 : -1;
}

} // extern "C"
