// The files the simulated printers write: a pcap capture of each connection, a job file of
// each data connection that carried data, and the packet log. Records are made under the
// state lock and written by Output::Write once the call that made them has let go of it.

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

// Opens <dir>\<address>-<n><ext> with the first n not yet taken; null when dir is empty.
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

} // namespace

Output::~Output() {
    for (FILE* f : {capture_, job_}) {
        if (f != nullptr) {
            std::fclose(f);
        }
    }
}

void Output::Post(Kind kind, const std::string& path, std::vector<uint8_t> bytes,
                  const uint8_t* address) {
    Work work{kind, path, std::move(bytes), {}};
    if (address != nullptr) {
        std::memcpy(work.address, address, 6);
    }
    std::lock_guard<std::mutex> guard(queueLock_);
    queue_.push_back(std::move(work));
}

void Output::OpenCapture(const std::string& dir, const uint8_t* address,
                         std::vector<uint8_t> record) {
    Post(OPEN_CAPTURE, dir, std::move(record), address);
}
void Output::Capture(std::vector<uint8_t> record) {
    Post(CAPTURE, std::string(), std::move(record), nullptr);
}
void Output::CloseCapture() {
    Post(CLOSE_CAPTURE, std::string(), {}, nullptr);
}
void Output::OpenJob(const std::string& dir, const uint8_t* address) {
    Post(OPEN_JOB, dir, {}, address);
}
void Output::Job(const uint8_t* bytes, size_t length) {
    Post(JOB, std::string(), std::vector<uint8_t>(bytes, bytes + length), nullptr);
}
void Output::CloseJob() {
    Post(CLOSE_JOB, std::string(), {}, nullptr);
}
void Output::Log(const std::string& path, std::string line) {
    Post(LOG, path, std::vector<uint8_t>(line.begin(), line.end()), nullptr);
}

void Output::Write() {
    std::lock_guard<std::mutex> files(fileLock_);
    // Whatever the caller queued is either in this batch or was written by the thread that
    // held fileLock_ before.
    std::vector<Work> batch;
    {
        std::lock_guard<std::mutex> guard(queueLock_);
        batch.swap(queue_);
    }
    for (Work& work : batch) {
        Do(work);
    }
}

void Output::Do(Work& work) {
    FILE** file = work.kind <= CLOSE_CAPTURE ? &capture_ : &job_;
    switch (work.kind) {
    case OPEN_CAPTURE:
    case OPEN_JOB:
        if (*file != nullptr) {
            std::fclose(*file);
        }
        *file = OpenNumbered(work.path, work.address, work.kind == OPEN_JOB ? ".prn" : ".pcap");
        if (*file != nullptr && work.kind == OPEN_CAPTURE) {
            std::vector<uint8_t> header = PcapFileHeader();
            std::fwrite(header.data(), 1, header.size(), *file);
            std::fwrite(work.bytes.data(), 1, work.bytes.size(), *file);
            std::fflush(*file);
        }
        break;
    case CAPTURE:
    case JOB:
        if (*file != nullptr && !work.bytes.empty()) {
            std::fwrite(work.bytes.data(), 1, work.bytes.size(), *file);
            std::fflush(*file);
        }
        break;
    case CLOSE_CAPTURE:
    case CLOSE_JOB:
        if (*file != nullptr) {
            std::fclose(*file);
            *file = nullptr;
        }
        break;
    case LOG:
        if (FILE* f = std::fopen(work.path.c_str(), "ab")) {
            std::fwrite(work.bytes.data(), 1, work.bytes.size(), f);
            std::fclose(f);
        }
        break;
    }
}

void FileWork::Add(const Printer* p) {
    if (std::find(outputs_.begin(), outputs_.end(), p->output) == outputs_.end()) {
        outputs_.push_back(p->output);
    }
}

void StartCapture(Printer* p) {
    if (g_state->pcapDir.empty()) {
        return;
    }
    p->capturing = true;
    p->output->OpenCapture(
        g_state->pcapDir, p->sim->config().address,
        PcapRecord(CaptureTimeUs(), PCAP_RECEIVED,
                   HciConnectionComplete(p->aclHandle, p->sim->config().address)));
}

void EndCapture(Printer* p) {
    if (p->capturing) {
        p->capturing = false;
        p->output->CloseCapture();
    }
}

void PcapWrite(Printer* p, uint32_t direction, const std::vector<uint8_t>& h4) {
    if (p->capturing) {
        p->output->Capture(PcapRecord(CaptureTimeUs(), direction, h4));
    }
}

void PcapPacket(Printer* p, Channel* c, bool fromPrinter, const uint8_t* bytes, size_t length) {
    if (p->capturing) {
        PcapWrite(p, fromPrinter ? PCAP_RECEIVED : PCAP_SENT,
                  AclL2cap(p->aclHandle, fromPrinter ? c->hostCid : c->printerCid, bytes, length));
    }
}

void PcapSignal(Printer* p, bool fromPrinter, const std::vector<uint8_t>& command) {
    if (p->capturing) {
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
        char text[400];
        int n = std::snprintf(
            text, sizeof(text), "%10u ms %s %s %5u", r.entry.timeMs, fromPrinter ? "<-" : "->",
            channel == QORLSIM_CONTROL ? "control" : "data   ", static_cast<unsigned>(length));
        std::string line(text, static_cast<size_t>(n));
        for (size_t i = 0; i < r.bytes.size() && i < 64; i++) {
            std::snprintf(text, sizeof(text), " %02x", r.bytes[i]);
            line += text;
        }
        line += r.bytes.size() > 64 ? " ...\n" : "\n";
        p->output->Log(
            JoinPath(g_state->logDir, AddressFileName(p->sim->config().address) + ".log"),
            std::move(line));
    }
    p->log.push_back(std::move(r));
}

void JobBytes(Printer* p, bool firstOfConnection, const uint8_t* bytes, size_t length) {
    if (firstOfConnection && !p->jobOpen && !g_state->sinkDir.empty()) {
        p->jobOpen = true;
        p->output->OpenJob(g_state->sinkDir, p->sim->config().address);
    }
    if (p->jobOpen && length > 0) {
        p->output->Job(bytes, length);
    }
}

void FinishJob(Printer* p) {
    if (p->jobOpen) {
        p->jobOpen = false;
        p->output->CloseJob();
    }
}

} // namespace qorsim
