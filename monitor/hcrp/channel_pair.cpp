// Opening and closing one port's control and data channels through the vendor library, and
// the two callbacks through which the library reports channel events and received packets.
// Connect and Disconnect run with the connection's exchangeLock held; the callbacks run on
// the library's own threads and take no lock but the receive queues' own.

#include "hcrp/channel_event.h"
#include "hcrp/hcrp_connection.h"
#include "hcrp/stack_binding.h"

#include <initializer_list>

namespace {

void DisconnectChannel(uint16_t handle) {
    g_stackBinding.Disconnect(handle);
}

// What differs between the two channels for the callback.
struct ChannelSide {
    ChannelDescriptor* channel;
    uint16_t* psm;
    uint32_t bit;
    ReceiveQueue* queue;
    HANDLE received;
    HANDLE connected;
    HANDLE disconnected;
    bool isData;
};

void HandleChannelEvent(const ChannelEvent* record, bool isData) {
    ChannelEventFields event;
    if (!ReadChannelEvent(reinterpret_cast<const uint8_t*>(record), ChannelEventRecordSize(record),
                          &event) ||
        event.context == nullptr) {
        return;
    }
    auto* connection = static_cast<HcrpConnection*>(event.context);
    const ChannelSide side = isData ? ChannelSide{&connection->dataChannel,
                                                  &connection->dataPsm,
                                                  DATA_OPEN,
                                                  &connection->dataQueue,
                                                  connection->dataReceived,
                                                  connection->dataConnected,
                                                  connection->dataDisconnected,
                                                  true}
                                    : ChannelSide{&connection->controlChannel,
                                                  &connection->controlPsm,
                                                  CONTROL_OPEN,
                                                  &connection->controlQueue,
                                                  connection->controlReceived,
                                                  connection->controlConnected,
                                                  connection->controlDisconnected,
                                                  false};
    switch (event.type) {
    case EVENT_CONNECTED:
        if (event.result != 0) {
            return;
        }
        // The handle first, so that whoever sees the bit also sees the handle.
        side.channel->handle = event.handle;
        *side.psm = event.psm;
        side.channel->inMtu = event.inMtu;
        side.channel->outMtu = event.outMtu;
        // An outMtu of 0 is no usable channel size (no piece could ever be sent); it is
        // ignored and the limit stays as it was.
        if (side.isData && event.outMtu != 0 && event.outMtu < connection->dataPieceLimit) {
            connection->dataPieceLimit = event.outMtu;
        }
        connection->SetFlags(side.bit);
        SetEvent(side.connected);
        return;
    case EVENT_CLOSED:
    case EVENT_DISCONNECTED: {
        // An event naming another handle than the channel's present one belongs to a channel
        // already replaced by a new connection and must not close that one.
        const uint16_t current = side.channel->handle;
        if (event.handle != 0 && current != 0 && event.handle != current) {
            return;
        }
        side.channel->handle = 0;
        connection->ClearFlags(side.bit);
        if (event.type == EVENT_DISCONNECTED) {
            SetEvent(side.disconnected);
        }
        // A response wait would otherwise sit out its full 10 s on a channel that is gone;
        // woken, it finds the channel closed.
        if (!side.isData) {
            connection->SignalControlReceived();
        }
        return;
    }
    case EVENT_DATA:
        if ((connection->channelFlags & side.bit) == 0) {
            return;
        }
        // Queued first, signalled second: a waiter woken by the signal finds the packet.
        if (side.queue->Append(event.data, event.length)) {
            if (side.isData) {
                SetEvent(side.received);
            } else {
                connection->SignalControlReceived();
            }
        }
        return;
    default:
        return;
    }
}

} // namespace

void __cdecl HcrpConnection::OnControlEvent(const ChannelEvent* event) {
    HandleChannelEvent(event, false);
}

void __cdecl HcrpConnection::OnDataEvent(const ChannelEvent* event) {
    HandleChannelEvent(event, true);
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

int HcrpConnection::Connect() {
    // The hold keeps the library loaded while this thread is inside it and, once connected,
    // while the channels are open; Disconnect gives it back.
    if (stackHold == 0 || !g_stackBinding.IsBound()) {
        // No hold yet, or one on a library that was unloaded unconditionally since.
        ReleaseStackHold();
        stackHold = g_stackBinding.Acquire();
        if (stackHold == 0) {
            return 0;
        }
    }
    CreateEvents();
    if (ConnectPair()) {
        return 1;
    }
    ReleaseStackHold();
    return 0;
}

int HcrpConnection::ConnectPair() {
    const LONG flags = channelFlags & (CONTROL_OPEN | DATA_OPEN);
    if (flags == (CONTROL_OPEN | DATA_OPEN)) {
        return 1;
    }
    if (flags != 0) {
        // Half open (the printer dropped one channel): no transfer can run on it, so close
        // what is left and open both afresh rather than report it connected.
        CloseChannels();
    }

    controlChannel.context = this;
    controlChannel.inMtu = controlMtu;
    controlChannel.callback = &HcrpConnection::OnControlEvent;
    controlChannel.outMtu = CONTROL_OUT_MTU_OFFERED;
    controlChannel.psm = controlPsm;
    // A handle or a connected signal left over from the last connection must not pass for
    // this one's.
    controlChannel.handle = 0;
    ResetEvent(controlConnected);
    if (g_stackBinding.Register(&controlChannel) != 0) {
        return 0;
    }
    const int controlResult = g_stackBinding.Connect(&controlChannel, controlPsm, deviceAddress);
    WaitForSingleObject(controlConnected, CONNECTED_EVENT_TIMEOUT_MS);
    if (controlResult != 0) {
        return 0;
    }

    dataChannel.context = this;
    dataChannel.inMtu = dataPieceLimit;
    dataChannel.callback = &HcrpConnection::OnDataEvent;
    dataChannel.outMtu = DATA_OUT_MTU_OFFERED;
    dataChannel.psm = dataPsm;
    dataChannel.handle = 0;
    ResetEvent(dataConnected);
    int dataResult = g_stackBinding.Register(&dataChannel);
    if (dataResult == 0) {
        dataResult = g_stackBinding.Connect(&dataChannel, dataPsm, deviceAddress);
        WaitForSingleObject(dataConnected, CONNECTED_EVENT_TIMEOUT_MS);
    }
    if (dataResult != 0) {
        // The control channel alone is of no use: close it and do not leave its bit behind
        // for a library that reports no event for a disconnect it was asked for.
        DisconnectChannel(controlChannel.handle);
        ClearFlags(CONTROL_OPEN);
        return 0;
    }

    SetFlags(CONTROL_OPEN | DATA_OPEN);
    sendCredit = 0;
    // A channel without a handle now either never reported connected within its 100 ms or
    // was closed again meanwhile (its close event came before the bits were set above): the
    // first grant could not reach the printer, and its answer would be awaited for 10 s in
    // vain. A close that comes after this check clears its bit and ends the wait at once.
    if (controlChannel.handle == 0 || dataChannel.handle == 0) {
        CloseChannels();
        return 0;
    }
    if (CreditGrant(FIRST_CREDIT_GRANT)) {
        return 1;
    }
    CloseChannels();
    return 0;
}

int HcrpConnection::Disconnect() {
    CloseChannels();
    ReleaseStackHold();
    return 1;
}

void HcrpConnection::CloseChannels() {
    if (channelFlags & CONTROL_OPEN) {
        DisconnectChannel(controlChannel.handle);
        ClearFlags(CONTROL_OPEN);
    }
    if (channelFlags & DATA_OPEN) {
        DisconnectChannel(dataChannel.handle);
        ClearFlags(DATA_OPEN);
    }
    sendCredit = 0;
    InterlockedExchange(&channelFlags, 0);
}

void HcrpConnection::ReleaseStackHold() {
    if (stackHold != 0) {
        g_stackBinding.Release(stackHold);
        stackHold = 0;
    }
}
