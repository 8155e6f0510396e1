#pragma once
// The transport state of one port: the printer's address, the HCRP control and data
// channels opened through the vendor library, their receive queues and events, the size
// limits, the transaction counter and the send credit. Embedded in PortRecord, which is
// zero-filled global memory: plain data with operations, no constructor.

#include <windows.h>
#include <cstdint>

#include "hcrp/hcrp_pdu.h" // the status values
#include "hcrp/qorlib_abi.h"
#include "hcrp/receive_queue.h"

typedef uint8_t BdAddr[6];

enum : uint32_t {
    CONTROL_OPEN = 0x1,
    DATA_OPEN = 0x2,
};

constexpr uint16_t CONTROL_MTU = 656;
constexpr uint16_t DATA_PIECE_LIMIT_INITIAL = 1024;
constexpr uint16_t CONTROL_OUT_MTU_OFFERED = 128;
constexpr uint16_t DATA_OUT_MTU_OFFERED = 512;
constexpr DWORD CONTROL_RESPONSE_TIMEOUT_MS = 10000;
constexpr DWORD CONNECTED_EVENT_TIMEOUT_MS = 100;
constexpr uint32_t FIRST_CREDIT_GRANT = 512;

struct HcrpConnection {
    BdAddr deviceAddress;
    uint16_t controlPsm;
    uint16_t dataPsm;
    volatile LONG channelFlags; // CONTROL_OPEN | DATA_OPEN, changed atomically from both sides
    uint32_t retryTimeoutMs;
    ChannelDescriptor controlChannel;
    ChannelDescriptor dataChannel;
    ReceiveQueue controlQueue;
    ReceiveQueue dataQueue;
    HANDLE controlReceived;
    HANDLE controlConnected;
    HANDLE controlDisconnected;
    HANDLE dataReceived;
    HANDLE dataConnected;
    HANDLE dataDisconnected;
    uint16_t controlMtu;
    volatile uint16_t dataPieceLimit;
    uint16_t transactionId;
    uint32_t sendCredit;
    // Serialises this port's use of its channels: connecting and disconnecting, every control
    // exchange and every send. Held across the waits for the printer, so it is never taken
    // with MonitorLock held (the lock order is in the README). The callbacks never take it.
    CRITICAL_SECTION exchangeLock;
    // The connection's hold on the stack binding from Connect to Disconnect (a token of
    // StackBinding::Acquire, 0 when none), so that the library stays loaded while channels
    // are open or being opened.
    uint32_t stackHold;
    // Counts the signals of controlReceived (see SignalControlReceived): a response wait
    // sleeps on this word where the system can wake a thread by its address, which under
    // Wine takes no server round trip, so it wakes in tens of microseconds, not hundreds.
    volatile LONG controlSignals;

    // Record and queues (receive_queue.cpp, hcrp_connection.cpp).
    void Initialize();
    // Makes the six events that are not made yet; Connect calls it before it registers a
    // channel, so the callbacks always find them. Kept apart from Initialize because one
    // cold enumeration initialises a record per printer in the device file, and an event
    // costs a call to the system.
    void CreateEvents();
    // Releases the events, the queue locks and every queued packet (when the port record
    // is freed).
    void Release();
    int IsConnected() const;
    void SetFlags(uint32_t bits);
    void ClearFlags(uint32_t bits);
    void LockExchanges();
    void UnlockExchanges();
    // Announces a control packet queued or the control channel gone: counts controlSignals,
    // wakes a thread waiting on it and signals controlReceived.
    void SignalControlReceived();
    // Waits until controlSignals differs from `seen` (the value read before the caller last
    // looked at the queue and the channel) or `timeoutMs` have passed. Returns WAIT_OBJECT_0,
    // WAIT_TIMEOUT or WAIT_FAILED. Where the system cannot wait on an address (before
    // Windows 8) it waits on controlReceived instead.
    DWORD WaitControlSignal(LONG seen, DWORD timeoutMs);

    // Channel pair (channel_pair.cpp).
    // Connect and Disconnect run with exchangeLock held by the caller.
    int Connect();
    int Disconnect();
    int ConnectPair();
    void CloseChannels();
    void ReleaseStackHold();
    static void __cdecl OnControlEvent(const ChannelEvent* event);
    static void __cdecl OnDataEvent(const ChannelEvent* event);

    // Control protocol and credit-based transfer (hcrp_protocol.cpp).
    int Write(const uint8_t* data, uint32_t length, uint32_t* sentCount);
    int Read(uint8_t* destination, uint32_t capacity, uint32_t* count);
    uint16_t WaitResponse(const uint8_t* request, uint32_t capacity, uint8_t* destination,
                          uint16_t* responseLength);
    int CreditGrant(uint32_t credit);
    int CreditRequest();
    int GetLPTStatus(uint8_t* status);
    int Get1284ID(uint8_t* destination, uint32_t capacity, uint16_t* totalLength, uint32_t* copied);
};

// Holds a connection's exchangeLock for a scope.
class ExchangeLock {
  public:
    explicit ExchangeLock(HcrpConnection& connection) : connection_(connection) {
        connection_.LockExchanges();
    }
    ~ExchangeLock() { connection_.UnlockExchanges(); }
    ExchangeLock(const ExchangeLock&) = delete;
    ExchangeLock& operator=(const ExchangeLock&) = delete;

  private:
    HcrpConnection& connection_;
};
