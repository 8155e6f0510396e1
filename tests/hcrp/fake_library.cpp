#include "fake_library.h"

#include <cstdlib>
#include <cstring>

#include "hcrp/stack_binding.h"

namespace {

FakeLibrary* fake;

int __cdecl FakeRegister(ChannelDescriptor* descriptor) {
    fake->registered.push_back(*descriptor);
    return fake->registerResult;
}

int __cdecl FakeUnregister(ChannelDescriptor*) {
    return 0;
}

int __cdecl FakeConnect(ChannelDescriptor* descriptor, uint16_t psm, const uint8_t* address) {
    ConnectCall call{*descriptor, psm, {}};
    memcpy(call.address, address, 6);
    fake->connects.push_back(call);
    auto* connection = static_cast<HcrpConnection*>(descriptor->context);
    const bool data = descriptor == &connection->dataChannel;
    const int result = data ? fake->dataConnectResult : fake->controlConnectResult;
    if (result == 0 && fake->reportConnected) {
        DeliverEvent(connection, data, EVENT_CONNECTED, fake->connectedResult,
                     data ? FAKE_DATA_HANDLE : FAKE_CONTROL_HANDLE, psm, descriptor->inMtu,
                     data ? fake->dataOutMtu : 128);
    }
    return result;
}

int __cdecl FakeDisconnect(uint16_t handle) {
    fake->disconnects.push_back(handle);
    return 0;
}

HcrpConnection* lastConnection;

int __cdecl FakeSend(uint16_t handle, const void* data, uint16_t length) {
    const auto* bytes = static_cast<const uint8_t*>(data);
    fake->sent.push_back({handle, std::vector<uint8_t>(bytes, bytes + length)});
    if (handle == FAKE_DATA_HANDLE) {
        return fake->dataSendResult;
    }
    if (fake->onControlRequest && lastConnection != nullptr) {
        fake->onControlRequest(lastConnection, fake->sent.back().bytes);
    }
    return 0;
}

} // namespace

std::vector<std::vector<uint8_t>> FakeLibrary::ControlRequests() const {
    std::vector<std::vector<uint8_t>> result;
    for (const auto& packet : sent) {
        if (packet.handle != FAKE_DATA_HANDLE) {
            result.push_back(packet.bytes);
        }
    }
    return result;
}

std::vector<std::vector<uint8_t>> FakeLibrary::DataPieces() const {
    std::vector<std::vector<uint8_t>> result;
    for (const auto& packet : sent) {
        if (packet.handle == FAKE_DATA_HANDLE) {
            result.push_back(packet.bytes);
        }
    }
    return result;
}

FakeLibrary& InstallFakeLibrary() {
    delete fake;
    fake = new FakeLibrary();
    g_stackBinding.module = GetModuleHandleW(nullptr);
    g_stackBinding.qorlRegister = FakeRegister;
    g_stackBinding.qorlUnregister = FakeUnregister;
    g_stackBinding.qorlConnect = FakeConnect;
    g_stackBinding.qorlDisconnect = FakeDisconnect;
    g_stackBinding.qorlSendData = FakeSend;
    return *fake;
}

void RemoveFakeLibrary() {
    g_stackBinding.module = nullptr;
    g_stackBinding.qorlRegister = nullptr;
    g_stackBinding.qorlUnregister = nullptr;
    g_stackBinding.qorlConnect = nullptr;
    g_stackBinding.qorlDisconnect = nullptr;
    g_stackBinding.qorlSendData = nullptr;
    delete fake;
    fake = nullptr;
}

void DeliverEvent(HcrpConnection* connection, bool data, uint8_t type, uint16_t result,
                  uint16_t handle, uint16_t psm, uint16_t inMtu, uint16_t outMtu,
                  const std::vector<uint8_t>& payload) {
    std::vector<uint8_t> buffer(CHANNEL_EVENT_HEADER_SIZE + payload.size() + 2, 0xEE);
    auto* event = reinterpret_cast<ChannelEvent*>(buffer.data());
    event->type = type;
    event->result = result;
    event->handle = handle;
    event->context = connection;
    event->psm = psm;
    event->inMtu = inMtu;
    event->outMtu = outMtu;
    event->length = static_cast<uint16_t>(payload.size());
    if (!payload.empty()) {
        memcpy(buffer.data() + CHANNEL_EVENT_HEADER_SIZE, payload.data(), payload.size());
    }
    if (data) {
        HcrpConnection::OnDataEvent(event);
    } else {
        HcrpConnection::OnControlEvent(event);
    }
}

void DeliverControl(HcrpConnection* connection, const std::vector<uint8_t>& payload) {
    DeliverEvent(connection, false, EVENT_DATA, 0, 0, 0, 0, 0, payload);
}

void DeliverData(HcrpConnection* connection, const std::vector<uint8_t>& payload) {
    DeliverEvent(connection, true, EVENT_DATA, 0, 0, 0, 0, 0, payload);
}

std::vector<uint8_t> ResponseFor(uint16_t pduId, uint16_t transactionId, uint16_t status,
                                 const std::vector<uint8_t>& parameters) {
    return qorsim::BuildResponse(pduId, transactionId, status, parameters);
}

std::vector<uint8_t> Response(const std::vector<uint8_t>& request, uint16_t status,
                              const std::vector<uint8_t>& parameters) {
    return qorsim::BuildResponseTo(request, status, parameters);
}

TestConnection::TestConnection() {
    record = static_cast<HcrpConnection*>(calloc(1, sizeof(HcrpConnection)));
    record->Initialize();
    // The events a first Connect makes: these tests deliver events without one.
    record->CreateEvents();
    record->retryTimeoutMs = 45000;
    lastConnection = record;
}

TestConnection::~TestConnection() {
    if (lastConnection == record) {
        lastConnection = nullptr;
    }
    record->Release();
    free(record);
}

void TestConnection::MarkOpen() {
    record->controlChannel.context = record;
    record->dataChannel.context = record;
    record->controlChannel.handle = FAKE_CONTROL_HANDLE;
    record->dataChannel.handle = FAKE_DATA_HANDLE;
    record->SetFlags(CONTROL_OPEN | DATA_OPEN);
}

size_t QueueLength(ReceiveQueue& queue) {
    size_t count = 0;
    for (ReceivedPacket* node = queue.Peek(); node != nullptr; node = node->next) {
        ++count;
    }
    return count;
}
