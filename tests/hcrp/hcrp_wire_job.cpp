// One whole job against a stand-in printer with its capture on: connect (first credit
// grant), line status, device ID in two slices, print data under credit, back-channel data
// with the credit it earns, disconnect. check_hcrp_capture.sh decodes the capture with tshark.

#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "entry/monitor.h"
#include "standin_binding.h"

namespace {

const uint8_t kPrinter[6] = {0x00, 0x0E, 0x6D, 0x4A, 0x10, 0x22};

TEST(HcrpWire, WholeJobWithCapture) {
    MonitorLockInitialize();
    QorlSim_Reset();
    BindStandIn();
    CreateDirectoryA("hcrp_wire", nullptr);
    ASSERT_EQ(0, QorlSim_SetOutputDirectories(nullptr, "hcrp_wire", nullptr));

    std::string id = "MFG:Quill;CMD:PCL,PJL;MDL:Wire Test;CLS:PRINTER;DES:";
    id.append(1000 - id.size() - 2, 'x');
    QorlSimPrinterConfig config = StandInPrinter(kPrinter);
    config.deviceId = id.c_str();
    config.deviceIdLength = static_cast<uint32_t>(id.size());
    config.creditPolicy = QORLSIM_CREDIT_WINDOW;
    config.bufferSize = 8192;
    ASSERT_EQ(0, QorlSim_AddPrinter(&config));

    StandInPort port(kPrinter);
    MonitorLockGuard lock;
    const uint16_t firstTransaction = port->transactionId;
    ASSERT_EQ(1, port->Connect());
    uint8_t status = 0;
    ASSERT_EQ(1, port->GetLPTStatus(&status));
    EXPECT_EQ(0x18, status);
    std::vector<uint8_t> deviceId(2000);
    uint16_t total = 0;
    uint32_t copied = 0;
    ASSERT_EQ(1, port->Get1284ID(deviceId.data(), 2000, &total, &copied));
    EXPECT_EQ(1000, total);
    EXPECT_EQ(1000u, copied);
    EXPECT_EQ(id, std::string(deviceId.begin() + 2, deviceId.begin() + 1000));
    const std::vector<uint8_t> data = Pattern(40000, 9);
    uint32_t sent = 0;
    ASSERT_EQ(1, port->Write(data.data(), static_cast<uint32_t>(data.size()), &sent));
    const std::vector<uint8_t> back = Pattern(700, 10);
    ASSERT_EQ(0,
              QorlSim_QueueBackChannel(kPrinter, back.data(), static_cast<uint32_t>(back.size())));
    std::vector<uint8_t> received;
    for (DWORD start = GetTickCount();
         received.size() < back.size() && GetTickCount() - start < 5000;) {
        uint8_t buffer[1024];
        uint32_t count = 0;
        if (port->Read(buffer, sizeof(buffer), &count)) {
            received.insert(received.end(), buffer, buffer + count);
        } else {
            Sleep(1);
        }
    }
    EXPECT_TRUE(received == back);
    const uint16_t requests = static_cast<uint16_t>(port->transactionId - firstTransaction);
    port->Disconnect();
    QorlSim_WaitIdle(2000);
    EXPECT_TRUE(SinkOf(kPrinter) == data);

    FILE* expect = fopen("hcrp_wire.expect", "wb");
    ASSERT_NE(nullptr, expect);
    fprintf(expect, "CONTROL_PSM=%u\nDATA_PSM=%u\nREQUESTS=%u\n", config.controlPsm, config.dataPsm,
            requests);
    fclose(expect);
    printf("job sent %u control requests\n", requests);
    UnbindStandIn();
    QorlSim_Reset();
}

} // namespace
