#pragma once
// The simulated stack's shared state and the helpers its parts call on one another: state
// and configuration (sim_state.cpp), event delivery (sim_events.cpp), capture, log and job
// files (sim_capture.cpp), the library's operations (sim_operations.cpp) and the control
// interface (sim_control.cpp).
//
// One lock (g_state->lock) guards the state in memory, and is only ever held briefly: no call
// sleeps, waits for the link or writes a file with it held, so that clients of different
// printers, each on its own thread, never wait for one another. Each printer address has a
// delivery lane of its own (a queue and a thread): callbacks into the client run there, never
// with the lock held, so a client may call back into the library from a callback, and one
// printer's slow callback holds up no other printer's events. Each printer's files are written
// by the calls that produced the records, after they let go of the lock (FileWork). Functions
// here expect the lock held unless they say otherwise.

#include <windows.h>

#include <algorithm>
#include <condition_variable>
#include <cstdint>
#include <cstdio>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "hcrp/qorlib_abi.h"
#include "qorlib_control.h"
#include "sim_printer.h"

namespace qorsim {

struct Printer;

// The file work of one printer: queued in order under the state lock, done by Write without
// it. Records carry the time they were made, not the time they are written.
class Output {
  public:
    Output() = default;
    Output(const Output&) = delete;
    Output& operator=(const Output&) = delete;
    ~Output();

    // <dir>\<address>-<n>.pcap (the first n not yet taken), its header and a first record.
    void OpenCapture(const std::string& dir, const uint8_t* address, std::vector<uint8_t> record);
    void Capture(std::vector<uint8_t> record);
    void CloseCapture();
    // <dir>\<address>-<n>.prn, the bytes of one job.
    void OpenJob(const std::string& dir, const uint8_t* address);
    void Job(const uint8_t* bytes, size_t length);
    void CloseJob();
    // One line appended to a log file.
    void Log(const std::string& path, std::string line);

    // Without the state lock: does the work queued so far, in order, and returns once the
    // work queued before the call is in the files.
    void Write();

  private:
    enum Kind { OPEN_CAPTURE, CAPTURE, CLOSE_CAPTURE, OPEN_JOB, JOB, CLOSE_JOB, LOG };
    struct Work {
        Kind kind;
        std::string path; // a directory to open a numbered file in, or the log file
        std::vector<uint8_t> bytes;
        uint8_t address[6];
    };
    void Post(Kind kind, const std::string& path, std::vector<uint8_t> bytes,
              const uint8_t* address);
    void Do(Work& work);

    std::mutex queueLock_; // the queue; held for no file operation
    std::vector<Work> queue_;
    std::mutex fileLock_; // the files; one writer at a time, in queue order
    FILE* capture_ = nullptr;
    FILE* job_ = nullptr;
};

struct Pending {
    uint32_t channelId;
    bool force; // delivered although the channel is gone (the printer's own close)
    ChannelDescriptor* descriptor;
    ChannelCallback callback;
    std::vector<uint8_t> event;
};

// The events of one printer address waiting for delivery, ordered by due time, and the
// thread that delivers them. Lanes are made with the first printer of an address and never
// removed (their threads run the library's code until the process ends).
struct Lane {
    std::condition_variable wake; // new work
    std::multimap<uint64_t, Pending> pending;
    bool inFlight = false;
    uint32_t inFlightChannel = 0;
    ChannelDescriptor* inFlightDescriptor = nullptr;
    DWORD threadId = 0;
};

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
    uint64_t linkFreeUs = 0; // when the data link has carried every packet accepted so far
    uint64_t sendLateUs = 0; // how long after linkFreeUs the last data send returned
    uint32_t connections = 0;
    uint32_t jobs = 0;
    uint32_t controlResponses = 0;
    uint32_t mtuViolations = 0;
    Channel* control = nullptr;
    Channel* data = nullptr;
    Lane* lane = nullptr;
    std::shared_ptr<Output> output = std::make_shared<Output>();
    bool capturing = false; // a capture of this connection is being written
    bool jobOpen = false;   // a job file for this data connection is being written
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

struct State {
    std::mutex lock;
    std::condition_variable idle; // WaitIdle, Reset, Quiesce: a lane emptied or a callback ended
    bool started = false;
    std::map<uint64_t, std::unique_ptr<Printer>> printers;
    std::map<uint16_t, std::unique_ptr<Channel>> channels;
    std::map<ChannelDescriptor*, Registration> registrations;
    std::map<uint64_t, std::unique_ptr<Lane>> lanes; // by address
    std::vector<QorlSimFault> globalFaults;
    uint16_t nextHandle = 1;
    uint32_t nextChannelId = 1;
    uint16_t nextAclHandle = 1;
    std::string sinkDir, pcapDir, logDir;
    std::string lastError;
};
// Never destroyed: the lanes' threads may outlive static destruction at process exit.
extern State* g_state;

// The printers whose files a call has queued work for, written when it goes out of scope. A
// call declares it before its lock guard, so that the writing happens after the lock is gone.
class FileWork {
  public:
    FileWork() = default;
    FileWork(const FileWork&) = delete;
    FileWork& operator=(const FileWork&) = delete;
    ~FileWork() {
        for (const std::shared_ptr<Output>& output : outputs_) {
            output->Write();
        }
    }
    void Add(const Printer* p);

  private:
    std::vector<std::shared_ptr<Output>> outputs_;
};

// ---- state (sim_state.cpp) ------------------------------------------------------------------

uint64_t NowUs();
uint64_t AddressKey(const uint8_t* address);
std::string AddressFileName(const uint8_t* address);
void DebugLine(const std::string& text);
// Takes one firing of the first matching fault; returns it (copied) or false.
bool TakeFault(std::vector<QorlSimFault>* faults, uint32_t kind, uint32_t channel, uint16_t pduId,
               QorlSimFault* out);
Printer* FindPrinter(const uint8_t* address);
Channel* FindChannel(uint16_t handle);
// Adds or replaces a printer; the replaced printer's files are closed through *files.
void AddPrinterLocked(const QorlSimPrinterConfig& config, const std::vector<QorlSimFault>& faults,
                      FileWork* files);
int LoadConfigLocked(const char* path, FileWork* files);
// Pins the library and reads the startup configuration on first use.
void EnsureStarted();

// ---- event delivery (sim_events.cpp) --------------------------------------------------------

std::vector<uint8_t> MakeEvent(uint8_t type, const Channel* c, const void* context);
void Schedule(Channel* c, uint64_t dueUs, std::vector<uint8_t> event, bool force);
// The time the channel's next event is due: one latency from now, never before the last.
uint64_t NextDue(Channel* c);
// One EVENT_DATA from the printer: logged, captured and scheduled.
void SendToClient(Channel* c, const uint8_t* bytes, size_t length, uint64_t dueUs);
// The lane of a printer address, made (with its thread) on first use.
Lane* LaneFor(uint64_t addressKey);
// Drops the events not yet delivered for a channel (or a descriptor) and waits for one being
// delivered to finish. A call from inside a callback does not wait for its own lane.
void Quiesce(std::unique_lock<std::mutex>* guard, uint32_t channelId,
             ChannelDescriptor* descriptor);
// Drops every event not yet delivered and waits for every callback (but the caller's own).
void DropAllEvents(std::unique_lock<std::mutex>* guard);
// Waits up to timeoutMs until no event is pending or being delivered; true when idle.
bool WaitAllIdle(std::unique_lock<std::mutex>* guard, uint32_t timeoutMs);

// ---- capture, log and job files (sim_capture.cpp) -------------------------------------------

// A new connection's capture, when a capture directory is set; and its end.
void StartCapture(Printer* p);
void EndCapture(Printer* p);
void PcapWrite(Printer* p, uint32_t direction, const std::vector<uint8_t>& h4);
void PcapPacket(Printer* p, Channel* c, bool fromPrinter, const uint8_t* bytes, size_t length);
void PcapSignal(Printer* p, bool fromPrinter, const std::vector<uint8_t>& command);
void LogPacket(Printer* p, uint32_t channel, bool fromPrinter, const uint8_t* bytes, size_t length);
// Data accepted on the data channel, for the job file (opened with the first byte).
void JobBytes(Printer* p, bool firstOfConnection, const uint8_t* bytes, size_t length);
void FinishJob(Printer* p);

// ---- the printer's side of the operations (sim_operations.cpp) ------------------------------

// Removes a channel; fromPrinter: the printer closes it and reports eventType to the client.
void CloseChannel(Channel* c, bool fromPrinter, uint8_t eventType);
int DropChannels(Printer* p, uint32_t which, uint8_t eventType);
// Sends what the back channel holds as far as the client's credit allows.
void FlushBackChannel(Printer* p);

} // namespace qorsim
