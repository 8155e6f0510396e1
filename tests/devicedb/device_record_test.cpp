#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "devicedb/device_record.h"
#include "support/hcrpdb_writer.h"

namespace {

const uint8_t* Bytes(const std::string& text) {
    return reinterpret_cast<const uint8_t*>(text.data());
}

} // namespace

TEST(ParseHex, ReadsDigitsOfEitherCaseAndRejectsAnythingElse) {
    EXPECT_EQ(ParseHex(""), 0);
    EXPECT_EQ(ParseHex("7"), 7);
    EXPECT_EQ(ParseHex("1f"), 31);
    EXPECT_EQ(ParseHex("1F"), 31);
    EXPECT_EQ(ParseHex("FFFF"), 0xFFFF);
    EXPECT_EQ(ParseHex("0A95"), 0x0A95);
    EXPECT_EQ(ParseHex("0g"), -1);
    EXPECT_EQ(ParseHex("12 "), -1);
    EXPECT_EQ(ParseHex(" 12"), -1);
    EXPECT_EQ(ParseHex("-1"), -1);
}

TEST(ParseHex, FieldsKeepTheirWidthAndEndAtANul) {
    EXPECT_EQ(ParseHexByte(Bytes("a5")), 0xA5);
    EXPECT_EQ(ParseHexByte(Bytes("zz")), 0xFF);
    EXPECT_EQ(ParseHexByte(Bytes(std::string("1\0", 2))), 0x01);
    EXPECT_EQ(ParseHexByte(Bytes(std::string("\0"
                                             "9",
                                             2))),
              0x00);
    EXPECT_EQ(ParseHexWord(Bytes("1001")), 0x1001);
    EXPECT_EQ(ParseHexWord(Bytes("12G4")), 0xFFFF);
    EXPECT_EQ(ParseHexWord(Bytes(std::string("001\0", 4))), 0x001);
    // Only four characters are read, whatever follows.
    EXPECT_EQ(ParseHexWord(Bytes("12345")), 0x1234);
}

TEST(DeviceRecordParse, ReadsEveryFieldInFileOrder) {
    testsupport::DeviceEntry entry = {
        {0x00, 0x0a, 0x95, 0x12, 0x34, 0x56}, "Office printer", 0x1001, 0x1003, 0xBEEF};
    std::string upper = testsupport::FormatRecord(entry, true);
    std::string lower = testsupport::FormatRecord(entry, false);
    for (const std::string& text : {upper, lower}) {
        DeviceRecord record;
        ParseDeviceRecord(Bytes(text), &record);
        const uint8_t expected[6] = {0x00, 0x0a, 0x95, 0x12, 0x34, 0x56};
        EXPECT_EQ(memcmp(record.address, expected, 6), 0);
        EXPECT_EQ(std::string(record.name, 14), "Office printer");
        EXPECT_EQ(record.name[14], ' ');
        EXPECT_EQ(record.controlPsm, 0x1001);
        EXPECT_EQ(record.dataPsm, 0x1003);
        EXPECT_EQ(record.thirdValue, 0xBEEF);
    }
}

TEST(DeviceRecordParse, BadFieldsYieldAllOnes) {
    std::string text(274, ' ');
    text.replace(0, 12, "zz0A95123x56");
    text.replace(260, 12,
                 "12G4"
                 "0000"
                 "FFFF");
    DeviceRecord record;
    ParseDeviceRecord(Bytes(text), &record);
    const uint8_t expected[6] = {0xFF, 0x0A, 0x95, 0x12, 0xFF, 0x56};
    EXPECT_EQ(memcmp(record.address, expected, 6), 0);
    EXPECT_EQ(record.controlPsm, 0xFFFF);
    EXPECT_EQ(record.dataPsm, 0);
    EXPECT_EQ(record.thirdValue, 0xFFFF);
}

TEST(TrimDeviceName, CutsTrailingSpacesAndKeepsAtMost247Bytes) {
    char name[248];
    memset(name, ' ', sizeof(name));
    memcpy(name, "Printer", 7);
    TrimDeviceName(name);
    EXPECT_STREQ(name, "Printer");

    memset(name, 'x', sizeof(name));
    TrimDeviceName(name);
    EXPECT_EQ(strlen(name), 247u);

    // Byte 247 is never looked at: a space at 246 hides it.
    memset(name, ' ', sizeof(name));
    name[0] = 'A';
    name[247] = 'Z';
    TrimDeviceName(name);
    EXPECT_STREQ(name, "A");

    // All spaces after byte 0: the NUL goes after byte 0, even if that is a space.
    memset(name, ' ', sizeof(name));
    TrimDeviceName(name);
    EXPECT_STREQ(name, " ");

    // A NUL inside the field ends the text: the spaces before it go too.
    memset(name, ' ', sizeof(name));
    memcpy(name, "Office", 6);
    name[90] = '\0';
    name[200] = 'B';
    TrimDeviceName(name);
    EXPECT_STREQ(name, "Office");
    memset(name, ' ', sizeof(name));
    name[0] = 'A';
    name[1] = '\0';
    TrimDeviceName(name);
    EXPECT_STREQ(name, "A");

    // Inner spaces stay.
    memset(name, ' ', sizeof(name));
    memcpy(name, "Office  2nd floor", 17);
    TrimDeviceName(name);
    EXPECT_STREQ(name, "Office  2nd floor");
}

TEST(ClearRecordTail, MissingBytesOfAShortReadAreAbsentNotStale) {
    uint8_t record[DEVICE_RECORD_SIZE];
    memset(record, 'q', sizeof(record));
    ClearRecordTail(record, 6);
    EXPECT_EQ(record[5], 'q');
    for (size_t i = 6; i < sizeof(record); ++i) {
        bool inName = i >= 12 && i < 260;
        ASSERT_EQ(record[i], inName ? ' ' : 0) << i;
    }
    memset(record, 'q', sizeof(record));
    ClearRecordTail(record, DEVICE_RECORD_SIZE);
    EXPECT_EQ(record[DEVICE_RECORD_SIZE - 1], 'q');

    // A record cut inside its name: the name trims, the missing numbers are 0.
    memset(record, 'q', sizeof(record));
    memcpy(record, "001122334455Printer   ", 22);
    ClearRecordTail(record, 22);
    DeviceRecord parsed;
    ParseDeviceRecord(record, &parsed);
    TrimDeviceName(parsed.name);
    EXPECT_STREQ(parsed.name, "Printer");
    EXPECT_EQ(parsed.controlPsm, 0);
    EXPECT_EQ(parsed.dataPsm, 0);
    EXPECT_EQ(parsed.thirdValue, 0);
    // Cut inside the address: the missing pairs are 0.
    memset(record, 'q', sizeof(record));
    memcpy(record, "a1b2c", 5);
    ClearRecordTail(record, 5);
    ParseDeviceRecord(record, &parsed);
    const uint8_t expected[6] = {0xA1, 0xB2, 0x0C, 0, 0, 0};
    EXPECT_EQ(memcmp(parsed.address, expected, 6), 0);
}

TEST(FormatDeviceRecord, WritesTheLayoutTheDiscoveryProgramWrites) {
    testsupport::DeviceEntry entry =
        testsupport::MakeEntry(0x10bcde, "Office Laser", 0x1001, 0x1003);
    DeviceRecord in = {};
    memcpy(in.address, entry.address, 6);
    memcpy(in.name, entry.name.data(), entry.name.size());
    in.controlPsm = entry.controlPsm;
    in.dataPsm = entry.dataPsm;
    uint8_t record[DEVICE_RECORD_SIZE];
    FormatDeviceRecord(in, record);
    std::string expected = testsupport::FormatRecord(entry, true);
    expected.replace(272, 2, "\r\n");
    EXPECT_EQ(std::string(reinterpret_cast<char*>(record), sizeof(record)), expected);
    EXPECT_EQ(CheckDeviceRecord(record, sizeof(record)), DEVICE_RECORD_WELL_FORMED);
}

TEST(FormatDeviceRecord, WhatIsWrittenIsReadBack) {
    const std::string names[] = {"X", "Lab Inkjet", std::string(247, 'n'), " leading space"};
    for (const std::string& name : names) {
        DeviceRecord in = {{0xff, 0x00, 0xab, 0x12, 0x9c, 0x01}, {}, 0xFEFF, 0x0001, 0xBEEF};
        memcpy(in.name, name.data(), name.size());
        uint8_t record[DEVICE_RECORD_SIZE];
        FormatDeviceRecord(in, record);
        DeviceRecord out;
        ParseDeviceRecord(record, &out);
        TrimDeviceName(out.name);
        EXPECT_EQ(memcmp(out.address, in.address, 6), 0) << name;
        EXPECT_EQ(std::string(out.name), name);
        EXPECT_EQ(out.controlPsm, 0xFEFF);
        EXPECT_EQ(out.dataPsm, 0x0001);
        EXPECT_EQ(out.thirdValue, 0xBEEF);
    }
}

TEST(CheckDeviceRecord, NamesTheFirstProblem) {
    const std::string good = testsupport::FormatRecord(testsupport::MakeEntry(1, "Good"));
    struct Case {
        size_t offset;
        const char* bytes;
        DeviceRecordProblem problem;
    } cases[] = {
        {0, "0g", DEVICE_RECORD_BAD_ADDRESS},
        {10, " 1", DEVICE_RECORD_BAD_ADDRESS},
        {260, "10 1", DEVICE_RECORD_BAD_CONTROL_PSM},
        {264, "x003", DEVICE_RECORD_BAD_DATA_PSM},
        {268, "    ", DEVICE_RECORD_BAD_THIRD_VALUE},
        {272, "zz", DEVICE_RECORD_WELL_FORMED}, // the last two bytes are not interpreted
    };
    for (const Case& c : cases) {
        std::string record = good;
        record.replace(c.offset, strlen(c.bytes), c.bytes);
        EXPECT_EQ(CheckDeviceRecord(Bytes(record), record.size()), c.problem) << c.offset;
    }
    std::string unnamed = good;
    unnamed.replace(12, 248, std::string(248, ' '));
    EXPECT_EQ(CheckDeviceRecord(Bytes(unnamed), unnamed.size()), DEVICE_RECORD_NO_NAME);
    EXPECT_EQ(CheckDeviceRecord(Bytes(good), 273), DEVICE_RECORD_SHORT);
    EXPECT_STREQ(DescribeDeviceRecordProblem(DEVICE_RECORD_BAD_ADDRESS),
                 "the address is not 12 hexadecimal digits");
}
