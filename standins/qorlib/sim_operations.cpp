// The five operations of the vendor library, and the printer's side of them: control requests
// answered, data accepted at the link rate, channels closed.

#include <cstring>

#include "pcap_format.h"
#include "qorlib_operations.h"
#include "sim_state.h"

using namespace qorsim;

namespace qorsim {

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
    if (p->control == nullptr && p->data == nullptr) {
        EndCapture(p);
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

namespace {

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
    bool first = c->dataBytes == 0 && length > 0;
    if (first) {
        p->jobs++;
    }
    JobBytes(p, first, bytes, length);
    c->dataBytes += length;
    uint32_t rate = p->sim->config().linkRate;
    if (rate != 0) {
        // L2CAP and ACL headers and the H4 byte travel too. A client that sends again at once
        // would have been here sendLateUs earlier had its last send returned on time: the
        // link keeps its schedule rather than losing that time with every packet.
        uint64_t late = p->sendLateUs < now ? p->sendLateUs : now;
        p->sendLateUs = 0;
        uint64_t start = p->linkFreeUs > now - late ? p->linkFreeUs : now - late;
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

} // namespace

} // namespace qorsim

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
    FileWork files;
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
    files.Add(p);
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
        StartCapture(p);
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
    FileWork files;
    std::unique_lock<std::mutex> guard(g_state->lock);
    EnsureStarted();
    Channel* c = FindChannel(handle);
    if (c == nullptr) {
        return 1;
    }
    files.Add(c->printer);
    uint32_t id = c->id;
    QorlSimFault f;
    uint32_t lateMs = 0;
    if (TakeFault(&c->printer->faults, QORLSIM_FAULT_DISCONNECT_DELAY, c->kind, 0, &f)) {
        lateMs = f.value;
    }
    CloseChannel(c, false, 0);
    Quiesce(&guard, id, nullptr);
    if (lateMs != 0) {
        // A stack slow to tear a link down: this caller waits, the library does not.
        guard.unlock();
        Sleep(lateMs);
    }
    return 0;
}

__declspec(dllexport) int __cdecl QORL_SendData(uint16_t handle, const void* data,
                                                uint16_t length) {
    uint64_t sleepUntil = 0;
    uint32_t channelId = 0;
    int result;
    {
        FileWork files; // written before the wait for the link, which allows for them
        std::lock_guard<std::mutex> guard(g_state->lock);
        EnsureStarted();
        Channel* c = FindChannel(handle);
        if (c == nullptr) {
            return 1;
        }
        if (data == nullptr && length != 0) {
            return 2;
        }
        files.Add(c->printer);
        channelId = c->id;
        const uint8_t* bytes = static_cast<const uint8_t*>(data);
        if (c->kind == QORLSIM_CONTROL) {
            ControlFromClient(c, bytes, length);
            result = 0;
        } else {
            result = DataFromClient(c, bytes, length, &sleepUntil);
        }
    }
    // The send returns once the link has carried the packet, or as soon after as Sleep allows:
    // the printer notes how late, so that the link starts the next packet on its own schedule.
    if (sleepUntil != 0) {
        uint64_t now = NowUs();
        if (sleepUntil > now + 1000) {
            Sleep(static_cast<DWORD>((sleepUntil - now) / 1000));
        }
        now = NowUs();
        std::lock_guard<std::mutex> guard(g_state->lock);
        Channel* c = FindChannel(handle);
        if (c != nullptr && c->id == channelId) {
            c->printer->sendLateUs = now > sleepUntil ? now - sleepUntil : 0;
        }
    }
    return result;
}

} // extern "C"
