// The stand-in's byte-level pieces on their own: configuration text, capture records.

#include <gtest/gtest.h>

#include "config_file.h"
#include "pcap_format.h"
#include "sim_printer.h"

using namespace qorsim;

namespace {

TEST(SimConfigText, ParsesPrintersOutputAndFaults) {
    const char* text = "# two printers\n"
                       "[output]\n"
                       "sinkdir = C:\\sim\\out\n"
                       "pcapdir=C:\\sim\\pcap\n"
                       "\n"
                       "[printer]\n"
                       "address = 00:11:22:33:44:55\n"
                       "name = Healthy\n"
                       "deviceid = MFG:Acme;MDL:Laser=9;\n"
                       "credit = fixed:2048\n"
                       "speed = 50000\n"
                       "linkrate = 0\n"
                       "[Printer]\n"
                       "address = aa-bb-cc-dd-ee-ff\n"
                       "controlpsm = 0x1005\n"
                       "status = off\n"
                       "credit = window\n"
                       "buffer = 8192\n"
                       "paperoutafter = 30000\n"
                       "fault = response-delay value=11000 count=1 pdu=5\n"
                       "fault = channel-drop channels=data value=3 after=5000\n";
    ConfigResult r;
    ASSERT_TRUE(ParseConfigText(text, &r)) << r.error;
    EXPECT_EQ("C:\\sim\\out", r.sinkDir);
    EXPECT_EQ("C:\\sim\\pcap", r.pcapDir);
    ASSERT_EQ(2u, r.printers.size());
    const QorlSimPrinterConfig& a = r.printers[0].config;
    EXPECT_EQ(0x55, a.address[5]);
    EXPECT_STREQ("Healthy", a.name);
    EXPECT_EQ("MFG:Acme;MDL:Laser=9;", r.printers[0].deviceId);
    EXPECT_EQ(static_cast<uint32_t>(QORLSIM_CREDIT_FIXED), a.creditPolicy);
    EXPECT_EQ(2048u, a.creditAmount);
    EXPECT_EQ(50000u, a.printSpeed);
    EXPECT_EQ(0u, a.linkRate);
    EXPECT_EQ(0x1003, a.dataPsm); // default kept
    const QorlSimPrinterConfig& b = r.printers[1].config;
    EXPECT_EQ(0xAA, b.address[0]);
    EXPECT_EQ(0x1005, b.controlPsm);
    EXPECT_EQ(0x38, b.lptStatus);
    EXPECT_EQ(8192u, b.bufferSize);
    EXPECT_EQ(30000u, b.paperOutAfter);
    ASSERT_EQ(2u, r.printers[1].faults.size());
    EXPECT_EQ(static_cast<uint32_t>(QORLSIM_FAULT_RESPONSE_DELAY), r.printers[1].faults[0].kind);
    EXPECT_EQ(11000u, r.printers[1].faults[0].value);
    EXPECT_EQ(1, r.printers[1].faults[0].count);
    EXPECT_EQ(5, r.printers[1].faults[0].pduId);
    EXPECT_EQ(QORLSIM_DATA, r.printers[1].faults[1].channels);
    EXPECT_EQ(5000u, r.printers[1].faults[1].afterBytes);
    EXPECT_EQ(-1, r.printers[1].faults[1].count);
}

TEST(SimConfigText, RejectsBadTextWithTheLine) {
    struct Case {
        const char* text;
        const char* error;
    } cases[] = {
        {"[printer]\naddress = 00:11:22:33:44\n", "line 2: bad address"},
        {"[printer]\naddress = 00:11:22:33:44:55\nspeed = -4\n", "line 3: bad number"},
        {"[printer]\naddress = 00:11:22:33:44:55\ncontrolpsm = 70000\n", "line 3: bad number"},
        {"[printer]\naddress = 00:11:22:33:44:55\ncolour = red\n", "line 3: unknown key"},
        {"address = 00:11:22:33:44:55\n", "line 1: key outside"},
        {"[printers]\n", "line 1: unknown section"},
        {"[printer]\nname = x\n", "printer 1: no address"},
        {"[printer]\naddress=00:11:22:33:44:55\n[printer]\naddress=00:11:22:33:44:55\n",
         "printer 2: address listed twice"},
        {"[printer]\naddress=00:11:22:33:44:55\nfault = melt\n", "line 3: unknown fault"},
        {"[printer]\naddress=00:11:22:33:44:55\nfault = response-lost count=x\n",
         "line 3: bad fault option"},
        {"[printer]\naddress=00:11:22:33:44:55\ncredit = fixed:\n", "line 3: bad credit"},
    };
    for (const Case& c : cases) {
        ConfigResult r;
        EXPECT_FALSE(ParseConfigText(c.text, &r)) << c.text;
        EXPECT_EQ(0u, r.error.find(c.error)) << r.error;
    }
}

TEST(SimCaptureBytes, RecordsAreH4WithDirectionAndLittleEndianHeaders) {
    std::vector<uint8_t> header = PcapFileHeader();
    ASSERT_EQ(24u, header.size());
    EXPECT_EQ(std::vector<uint8_t>({0xD4, 0xC3, 0xB2, 0xA1}),
              std::vector<uint8_t>(header.begin(), header.begin() + 4));
    EXPECT_EQ(201, header[20]);

    const uint8_t payload[] = {0, 5, 0, 1, 0, 0};
    std::vector<uint8_t> acl = AclL2cap(0x0001, 0x0081, payload, 6);
    EXPECT_EQ(std::vector<uint8_t>({0x02, 0x01, 0x20, 10, 0, 6, 0, 0x81, 0, 0, 5, 0, 1, 0, 0}),
              acl);
    std::vector<uint8_t> record = PcapRecord(2500001, PCAP_RECEIVED, acl);
    ASSERT_EQ(16u + 4 + acl.size(), record.size());
    EXPECT_EQ(2, record[0]);    // seconds
    EXPECT_EQ(0x21, record[4]); // 500001 us = 0x07A121, little-endian
    EXPECT_EQ(19, record[8]);   // captured length
    EXPECT_EQ(std::vector<uint8_t>({0, 0, 0, 1}),
              std::vector<uint8_t>(record.begin() + 16, record.begin() + 20));

    const uint8_t address[6] = {0x00, 0x11, 0x22, 0x33, 0x44, 0x55};
    EXPECT_EQ(std::vector<uint8_t>(
                  {0x04, 0x03, 11, 0, 0x01, 0x00, 0x55, 0x44, 0x33, 0x22, 0x11, 0x00, 0x01, 0x00}),
              HciConnectionComplete(1, address));
    EXPECT_EQ(std::vector<uint8_t>({0x02, 3, 4, 0, 0x01, 0x10, 0x41, 0}),
              L2capConnectionRequest(3, 0x1001, 0x41));
    EXPECT_EQ(std::vector<uint8_t>({0x03, 3, 8, 0, 0x81, 0, 0x41, 0, 0, 0, 0, 0}),
              L2capConnectionResponse(3, 0x81, 0x41));
}

TEST(SimPrinterBooks, GetIdBeyondItsEndAndDamagedResponses) {
    QorlSimPrinterConfig c;
    QorlSim_DefaultPrinterConfig(&c);
    SimPrinter none(c);
    std::vector<uint8_t> r;
    const uint8_t getId[] = {0, 6, 0, 1, 0, 4, 0, 0, 1, 0};
    ASSERT_TRUE(none.HandleControl(getId, sizeof(getId), 0, 0, &r));
    EXPECT_EQ(std::vector<uint8_t>({0, 6, 0, 1, 0, 2, 0, 0}), r); // no ID: unsupported

    std::vector<uint8_t> response = BuildResponse(2, 9, 1, nullptr, 0);
    DamageResponse(&response, QORLSIM_FAULT_RESPONSE_WRONG_TRANSACTION, 0xFFFF);
    EXPECT_EQ(std::vector<uint8_t>({0, 2, 0, 8, 0, 2, 0, 1}), response);
    DamageResponse(&response, QORLSIM_FAULT_RESPONSE_TOO_SHORT, 100);
    EXPECT_EQ(8u, response.size());
}

} // namespace
