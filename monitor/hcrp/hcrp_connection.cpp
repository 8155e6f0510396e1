// The connection record: initialisation, release, the open-channel bits, the exchange lock
// and the control channel's received signal. Connecting is in channel_pair.cpp, the HCRP
// exchanges in hcrp_protocol.cpp.

#include "hcrp/hcrp_connection.h"

#include <cstring>
#include <initializer_list>

namespace {

typedef BOOL(WINAPI* WaitOnAddressFn)(volatile VOID* address, PVOID compare, SIZE_T size,
                                      DWORD timeoutMs);
typedef VOID(WINAPI* WakeByAddressFn)(PVOID address);

// The system's waits on an address, looked up by name: the monitor also runs on systems
// that have none (they came with Windows 8), and there it keeps to the event.
struct AddressWait {
    WaitOnAddressFn wait;
    WakeByAddressFn wakeAll;
};

template <typename To> To FindSystemFunction(HMODULE module, const char* name) {
    return module != nullptr
               ? reinterpret_cast<To>(reinterpret_cast<void*>(GetProcAddress(module, name)))
               : nullptr;
}

// Looked up once, by the first caller; a caller that comes while the look-up runs waits
// for it, so that every thread waits and wakes the same way. Not a C++ function-local
// static: its guard locks through the threads library, which allocates per-thread data
// that outlives the library and writes through a null pointer when that allocation fails.
const AddressWait& SystemAddressWait() {
    static AddressWait found;   // written before state says 2
    static volatile LONG state; // 0: not looked up, 1: being looked up, 2: found is the answer
    if (InterlockedCompareExchange(&state, 1, 0) == 0) {
        HMODULE module = GetModuleHandleW(L"kernelbase.dll");
        AddressWait calls = {FindSystemFunction<WaitOnAddressFn>(module, "WaitOnAddress"),
                             FindSystemFunction<WakeByAddressFn>(module, "WakeByAddressAll")};
        if (calls.wait == nullptr || calls.wakeAll == nullptr) {
            calls = {nullptr, nullptr};
        }
        found = calls;
        InterlockedExchange(&state, 2);
    }
    while (InterlockedCompareExchange(&state, 2, 2) != 2) {
        SwitchToThread();
    }
    return found;
}

} // namespace

void HcrpConnection::Initialize() {
    transactionId = 0;
    sendCredit = 0;
    channelFlags = 0;
    controlMtu = CONTROL_MTU;
    dataPieceLimit = DATA_PIECE_LIMIT_INITIAL;
    memset(deviceAddress, 0, sizeof(deviceAddress));
    stackHold = 0;
    controlSignals = 0;
    InitializeCriticalSection(&exchangeLock);
    controlQueue.InitializeLock();
    dataQueue.InitializeLock();
    // The events are made by the first Connect (CreateEvents): enumeration makes a record
    // for every printer in the device file, and most of them never print in a refresh.
    controlReceived = controlConnected = controlDisconnected = nullptr;
    dataReceived = dataConnected = dataDisconnected = nullptr;
}

void HcrpConnection::Release() {
    for (HANDLE* event : {&controlReceived, &controlConnected, &controlDisconnected, &dataReceived,
                          &dataConnected, &dataDisconnected}) {
        if (*event != nullptr) {
            CloseHandle(*event);
            *event = nullptr;
        }
    }
    controlQueue.Clear();
    dataQueue.Clear();
    controlQueue.DeleteLock();
    dataQueue.DeleteLock();
    DeleteCriticalSection(&exchangeLock);
}

int HcrpConnection::IsConnected() const {
    return (channelFlags & (CONTROL_OPEN | DATA_OPEN)) == (CONTROL_OPEN | DATA_OPEN) ? 1 : 0;
}

void HcrpConnection::SetFlags(uint32_t bits) {
    InterlockedOr(&channelFlags, static_cast<LONG>(bits));
}

void HcrpConnection::ClearFlags(uint32_t bits) {
    InterlockedAnd(&channelFlags, ~static_cast<LONG>(bits));
}

void HcrpConnection::LockExchanges() {
    EnterCriticalSection(&exchangeLock);
}

void HcrpConnection::UnlockExchanges() {
    LeaveCriticalSection(&exchangeLock);
}

void HcrpConnection::SignalControlReceived() {
    InterlockedIncrement(&controlSignals);
    const AddressWait& address = SystemAddressWait();
    if (address.wakeAll != nullptr) {
        address.wakeAll(const_cast<LONG*>(&controlSignals));
    }
    SetEvent(controlReceived);
}

DWORD HcrpConnection::WaitControlSignal(LONG seen, DWORD timeoutMs) {
    const AddressWait& address = SystemAddressWait();
    // A record without its event fails its waits at once, whichever way it waits.
    if (address.wait == nullptr || controlReceived == nullptr) {
        return WaitForSingleObject(controlReceived, timeoutMs);
    }
    if (address.wait(&controlSignals, &seen, sizeof(seen), timeoutMs)) {
        return WAIT_OBJECT_0;
    }
    return GetLastError() == ERROR_TIMEOUT ? static_cast<DWORD>(WAIT_TIMEOUT) : WAIT_FAILED;
}
