// The files the simulated printers write: a pcap capture of each connection, a job file of
// each data connection that carried data, and the packet log.

#include <cstring>

#include "pcap_format.h"
#include "sim_state.h"

namespace qorsim {

namespace {

std::string JoinPath(const std::string& dir, const std::string& name) {
    if (dir.empty()) {
        return name;
    }
    char last = dir[dir.size() - 1];
    return dir + (last == '\\' || last == '/' ? "" : "\\") + name;
}

} // namespace

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

namespace {

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

} // namespace

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

void FinishJob(Printer* p) {
    if (p->jobFile != nullptr) {
        std::fclose(p->jobFile);
        p->jobFile = nullptr;
    }
}

} // namespace qorsim
