#pragma once
// Control interface of the simulated Bluetooth stack QORLIB.DLL: further exports of the same
// library, with which test programs (and tools) add simulated HCRP printers, inject faults
// and read back what the printers received. Plain C, C calling convention, undecorated.
//
// A program that links QORLIB.DLL's import library keeps the library (and with it every
// printer's state) loaded across the monitor's own LoadLibrary/FreeLibrary cycles.
//
// Addresses are 6 bytes in text order: byte 0 is the first hexadecimal pair of
// "00:11:22:33:44:55", exactly as the monitor's BdAddr.

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

#ifdef QORLIB_BUILDING
#define QORLSIM_API __declspec(dllexport)
#else
#define QORLSIM_API __declspec(dllimport)
#endif

// Channel selectors (bit masks where a field says "channels").
#define QORLSIM_CONTROL 1u
#define QORLSIM_DATA 2u

// How a printer answers a Credit Request.
enum QorlSimCreditPolicy {
    QORLSIM_CREDIT_FIXED = 0,  // creditAmount per request, whatever is outstanding
    QORLSIM_CREDIT_WINDOW = 1, // up to bufferSize minus buffered and outstanding bytes
    QORLSIM_CREDIT_NEVER = 2,  // always 0
};

// IEEE 1284 line status bytes (Get LPT Status).
#define QORLSIM_LPT_READY 0x18
#define QORLSIM_LPT_POWERED_OFF 0x38
#define QORLSIM_LPT_PAPER_OUT 0x30
#define QORLSIM_LPT_OFFLINE 0x08
#define QORLSIM_LPT_FAULT 0x00

typedef struct QorlSimPrinterConfig {
    uint8_t address[6];
    uint16_t controlPsm;     // default 0x1001
    uint16_t dataPsm;        // default 0x1003
    char name[64];           // for logs only
    const char* deviceId;    // the IEEE 1284 ID text without its length field (copied)
    uint32_t deviceIdLength; // at most 65533; the printer adds the 2-byte length field
    uint8_t lptStatus;       // default 0x18
    uint8_t lptUnsupported;  // 1: Get LPT Status answered Feature Unsupported
    uint16_t controlMtu;     // outMtu reported for the control channel (default 672)
    uint16_t dataMtu;        // outMtu reported for the data channel (default 672)
    uint32_t creditPolicy;   // QorlSimCreditPolicy (default WINDOW)
    uint32_t creditAmount;   // FIXED: credit per request (default 4096)
    uint32_t bufferSize;     // bytes the printer can buffer (default 65536)
    uint32_t printSpeed;     // bytes per second drained from the buffer, 0 = at once
    uint32_t linkRate;       // bits per second on the data channel, 0 = unlimited
    uint32_t latencyUs;      // per packet, both directions (default 1000)
    uint32_t paperOutAfter;  // bytes accepted after which the paper runs out, 0 = never
    uint8_t ignoreClientMtu; // 1: responses not cut to the client's inMtu
    uint8_t reserved[3];
} QorlSimPrinterConfig;

// Faults on demand. Each fault fires `count` times (-1: until cleared).
enum QorlSimFaultKind {
    QORLSIM_FAULT_REGISTER_REFUSED = 1,    // QORL_Register returns value (nonzero; global)
    QORLSIM_FAULT_CONNECT_REFUSED = 2,     // QORL_Connect returns value for `channels`
    QORLSIM_FAULT_NO_CONNECTED_EVENT = 3,  // accepted, but no EVENT_CONNECTED follows
    QORLSIM_FAULT_CONNECTED_RESULT = 4,    // EVENT_CONNECTED carries result = value
    QORLSIM_FAULT_CHANNEL_DROP = 5,        // after afterBytes data bytes: event value (3 or 4)
    QORLSIM_FAULT_RESPONSE_DELAY = 6,      // responses delayed by value milliseconds
    QORLSIM_FAULT_RESPONSE_LOST = 7,       // responses never sent
    QORLSIM_FAULT_RESPONSE_DUPLICATED = 8, // responses sent twice
    QORLSIM_FAULT_RESPONSE_WRONG_TRANSACTION = 9, // transaction ID + value (1 when 0)
    QORLSIM_FAULT_RESPONSE_TOO_SHORT = 10,        // response cut to value bytes
    QORLSIM_FAULT_RESPONSE_BAD_PARAM_LENGTH = 11, // parameter length field set to value
    QORLSIM_FAULT_SEND_REFUSED = 12,              // QORL_SendData returns value once afterBytes
                                                  // data bytes were accepted
    QORLSIM_FAULT_RESPONSE_STATUS = 13,           // response status field replaced by value
    QORLSIM_FAULT_DISCONNECT_DELAY = 14, // QORL_Disconnect returns value ms late (channel closed
                                         // at once; other calls go on meanwhile)
};

typedef struct QorlSimFault {
    uint32_t kind;     // QorlSimFaultKind
    uint32_t channels; // QORLSIM_CONTROL | QORLSIM_DATA; 0 = both
    uint32_t value;    // kind-specific (see above)
    int32_t count;     // times it fires; -1 = until cleared; 0 is taken as 1
    uint16_t pduId;    // response faults: only responses to this PDU ID (0 = any)
    uint16_t reserved;
    uint32_t afterBytes; // CHANNEL_DROP, SEND_REFUSED: data bytes accepted in this connection
} QorlSimFault;

typedef struct QorlSimStats {
    uint32_t creditGranted;      // credit granted to the client, total
    uint32_t creditUsed;         // data bytes received, total (= bytes in the sink)
    uint32_t creditViolations;   // data packets that went beyond the credit granted
    uint32_t violationBytes;     // bytes beyond the credit
    uint32_t mtuViolations;      // packets longer than the reported outMtu (refused)
    uint32_t clientCredit;       // back-channel credit the client has granted, unused
    uint32_t backChannelSent;    // back-channel bytes sent
    uint32_t backChannelPending; // back-channel bytes waiting for credit
    uint32_t controlRequests;    // control PDUs received
    uint32_t controlResponses;   // control PDUs sent (responses and unsolicited)
    uint32_t malformedRequests;  // control PDUs that could not be parsed
    uint32_t connections;        // control channel connections made
    uint32_t jobs;               // data channel connections that carried data
    uint32_t openChannels;       // QORLSIM_CONTROL | QORLSIM_DATA bits currently open
    uint32_t buffered;           // bytes in the print buffer now
    uint8_t lptStatus;           // current line status byte
    uint8_t reserved[3];
} QorlSimStats;

typedef struct QorlSimLogEntry {
    uint32_t timeMs;     // since the printer was added
    uint8_t fromPrinter; // 0: client to printer, 1: printer to client
    uint8_t channel;     // QORLSIM_CONTROL or QORLSIM_DATA
    uint16_t length;     // packet length
    uint32_t stored;     // bytes kept in the log (control packets whole, data packets none)
} QorlSimLogEntry;

// Fills *config with the defaults above (address zero, no device ID).
QORLSIM_API void QorlSim_DefaultPrinterConfig(QorlSimPrinterConfig* config);
// Removes every printer, channel, fault and pending event, and the directories set.
// Callbacks already running finish first. Returns 0.
QORLSIM_API int QorlSim_Reset(void);
// Adds (or replaces) the printer with config->address. Returns 0, or -1 on bad input.
QORLSIM_API int QorlSim_AddPrinter(const QorlSimPrinterConfig* config);
// Reads a configuration file (see standins/README.md) and adds its printers.
// Returns the number of printers added, or -1 when the file cannot be read or has errors
// (the first error is then available through QorlSim_LastError).
QORLSIM_API int QorlSim_LoadConfig(const char* path);
QORLSIM_API const char* QorlSim_LastError(void);
// Directories (Windows paths) for the per-job sink files, the pcap captures and the PDU
// logs; NULL or "" turns the output off.
QORLSIM_API int QorlSim_SetOutputDirectories(const char* sinkDir, const char* pcapDir,
                                             const char* logDir);
// Adds a fault to a printer (address NULL: global faults such as REGISTER_REFUSED).
QORLSIM_API int QorlSim_SetFault(const uint8_t* address, const QorlSimFault* fault);
QORLSIM_API int QorlSim_ClearFaults(const uint8_t* address);
// Sets the line status byte now.
QORLSIM_API int QorlSim_SetStatus(const uint8_t* address, uint8_t lptStatus);
// Copies up to capacity bytes of everything the printer accepted on its data channel
// (since it was added or the sink was cleared), from `offset`. Returns the total sink
// size, or -1 for an unknown printer.
QORLSIM_API int32_t QorlSim_GetSink(const uint8_t* address, uint32_t offset, void* buffer,
                                    uint32_t capacity);
QORLSIM_API int QorlSim_ClearSink(const uint8_t* address);
QORLSIM_API int QorlSim_GetStats(const uint8_t* address, QorlSimStats* stats);
// Number of PDU log entries, or -1 for an unknown printer.
QORLSIM_API int32_t QorlSim_GetLogCount(const uint8_t* address);
// Entry `index` of the PDU log; copies up to capacity of its stored bytes. Returns 0, or -1.
QORLSIM_API int QorlSim_GetLogEntry(const uint8_t* address, uint32_t index, QorlSimLogEntry* entry,
                                    void* bytes, uint32_t capacity);
// Sends raw bytes on an open channel of the printer (QORLSIM_CONTROL or QORLSIM_DATA) as one
// EVENT_DATA, outside any request and outside the credit rules. Returns 0, -1 if not open.
QORLSIM_API int QorlSim_SendUnsolicited(const uint8_t* address, uint32_t channel, const void* bytes,
                                        uint32_t length);
// Queues back-channel data; the printer sends it on the data channel as the client's
// credit allows, in packets of at most the client's inMtu. Returns 0, or -1.
QORLSIM_API int QorlSim_QueueBackChannel(const uint8_t* address, const void* bytes,
                                         uint32_t length);
// Closes open channels of the printer from the printer's side; eventType 3 (closed) or
// 4 (disconnected) is reported to the client. Returns the number of channels dropped.
QORLSIM_API int QorlSim_DropChannel(const uint8_t* address, uint32_t channels, uint8_t eventType);
// Waits until no event is pending for delivery (or timeoutMs passes). Returns 0 when idle.
QORLSIM_API int QorlSim_WaitIdle(uint32_t timeoutMs);

#ifdef __cplusplus
}
#endif
