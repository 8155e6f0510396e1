#include "standin_binding.h"

#include <cstdlib>
#include <cstring>

#include "hcrp/stack_binding.h"
#include "qorlib_operations.h"

void BindStandIn() {
    g_stackBinding.module = GetModuleHandleA("QORLIB.DLL");
    g_stackBinding.qorlRegister = QORL_Register;
    g_stackBinding.qorlUnregister = QORL_Unregister;
    g_stackBinding.qorlConnect = QORL_Connect;
    g_stackBinding.qorlDisconnect = QORL_Disconnect;
    g_stackBinding.qorlSendData = QORL_SendData;
}

void UnbindStandIn() {
    // The library stays loaded through the import; only the binding lets go of it.
    g_stackBinding.module = nullptr;
}

QorlSimPrinterConfig StandInPrinter(const uint8_t* address) {
    QorlSimPrinterConfig config;
    QorlSim_DefaultPrinterConfig(&config);
    memcpy(config.address, address, 6);
    config.dataMtu = 1024;
    config.linkRate = 0;
    config.latencyUs = 50;
    return config;
}

StandInPort::StandInPort(const uint8_t* printer) {
    memcpy(address, printer, 6);
    record = static_cast<HcrpConnection*>(calloc(1, sizeof(HcrpConnection)));
    record->Initialize();
    memcpy(record->deviceAddress, printer, 6);
    record->controlPsm = 0x1001;
    record->dataPsm = 0x1003;
    record->retryTimeoutMs = 45000;
}

StandInPort::~StandInPort() {
    record->Release();
    free(record);
}

std::vector<uint8_t> SinkOf(const uint8_t* address) {
    const int32_t size = QorlSim_GetSink(address, 0, nullptr, 0);
    if (size <= 0) {
        return {};
    }
    std::vector<uint8_t> sink(static_cast<size_t>(size));
    QorlSim_GetSink(address, 0, sink.data(), static_cast<uint32_t>(size));
    return sink;
}

QorlSimStats StatsOf(const uint8_t* address) {
    QorlSimStats stats{};
    QorlSim_GetStats(address, &stats);
    return stats;
}

std::vector<uint8_t> Pattern(size_t size, uint32_t seed) {
    std::vector<uint8_t> data(size);
    uint32_t x = seed * 2654435761u + 1;
    for (size_t i = 0; i < size; ++i) {
        x ^= x << 13;
        x ^= x >> 17;
        x ^= x << 5;
        data[i] = static_cast<uint8_t>(x);
    }
    return data;
}
