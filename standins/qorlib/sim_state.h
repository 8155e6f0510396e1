#pragma once
// The simulated stack's shared state and the helpers its parts call on one another: state
// and configuration (sim_state.cpp), event delivery (sim_events.cpp), capture, log and job
// files (sim_capture.cpp), the library's operations (sim_operations.cpp) and the control
// interface (sim_control.cpp).
//
// One lock (g_state->lock) guards all state. Callbacks into the client always run on the
// dispatcher thread, never with the lock held, so a client may call back into the library
// from a callback. Functions here expect the lock held unless they say otherwise.

#include <windows.h>

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
extern State* g_state;

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
void AddPrinterLocked(const QorlSimPrinterConfig& config, const std::vector<QorlSimFault>& faults);
int LoadConfigLocked(const char* path);
// Starts the dispatcher and reads the startup configuration on first use.
void EnsureStarted();

// ---- event delivery (sim_events.cpp) --------------------------------------------------------

std::vector<uint8_t> MakeEvent(uint8_t type, const Channel* c, const void* context);
void Schedule(Channel* c, uint64_t dueUs, std::vector<uint8_t> event, bool force);
// The time the channel's next event is due: one latency from now, never before the last.
uint64_t NextDue(Channel* c);
// One EVENT_DATA from the printer: logged, captured and scheduled.
void SendToClient(Channel* c, const uint8_t* bytes, size_t length, uint64_t dueUs);
void DispatcherMain();
// Drops the events not yet delivered for a channel (or a descriptor) and waits for one being
// delivered to finish. A call from inside a callback does not wait for itself.
void Quiesce(std::unique_lock<std::mutex>* guard, uint32_t channelId,
             ChannelDescriptor* descriptor);

// ---- capture, log and job files (sim_capture.cpp) -------------------------------------------

// Opens <dir>\<address>-<n><ext> with the first n not yet taken; null when dir is empty.
FILE* OpenNumbered(const std::string& dir, const uint8_t* address, const char* ext);
void PcapWrite(Printer* p, uint32_t direction, const std::vector<uint8_t>& h4);
void PcapPacket(Printer* p, Channel* c, bool fromPrinter, const uint8_t* bytes, size_t length);
void PcapSignal(Printer* p, bool fromPrinter, const std::vector<uint8_t>& command);
void LogPacket(Printer* p, uint32_t channel, bool fromPrinter, const uint8_t* bytes, size_t length);
void FinishJob(Printer* p);

// ---- the printer's side of the operations (sim_operations.cpp) ------------------------------

// Removes a channel; fromPrinter: the printer closes it and reports eventType to the client.
void CloseChannel(Channel* c, bool fromPrinter, uint8_t eventType);
int DropChannels(Printer* p, uint32_t which, uint8_t eventType);
// Sends what the back channel holds as far as the client's credit allows.
void FlushBackChannel(Printer* p);

} // namespace qorsim
