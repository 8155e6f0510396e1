// The connection record: initialisation, release and the open-channel bits.

#include "hcrp/hcrp_connection.h"

#include <cstring>
#include <initializer_list>

void HcrpConnection::Initialize() {
    transactionId = 0;
    sendCredit = 0;
    channelFlags = 0;
    controlMtu = CONTROL_MTU;
    dataPieceLimit = DATA_PIECE_LIMIT_INITIAL;
    memset(deviceAddress, 0, sizeof(deviceAddress));
    stackHold = 0;
    InitializeCriticalSection(&exchangeLock);
    controlQueue.InitializeLock();
    dataQueue.InitializeLock();
    // The events are made by the first Connect (CreateEvents): enumeration makes a record
    // for every printer in the device file, and most of them never print in a refresh.
    controlReceived = controlConnected = controlDisconnected = nullptr;
    dataReceived = dataConnected = dataDisconnected = nullptr;
}

void HcrpConnection::CreateEvents() {
    // Automatic reset, not signalled, unnamed. A failed creation leaves the event empty
    // (waits on it then fail at once) and is tried again by the next Connect.
    for (HANDLE* event : {&controlReceived, &controlConnected, &controlDisconnected, &dataReceived,
                          &dataConnected, &dataDisconnected}) {
        if (*event == nullptr) {
            *event = CreateEventW(nullptr, FALSE, FALSE, nullptr);
        }
    }
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
