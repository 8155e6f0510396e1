// The host's pure helpers and its import binding.

#include "admin_arguments.h"
#include "console.h"
#include "device_id_fields.h"
#include "import_patch.h"
#include "status_text.h"
#include "win32_error_names.h"

#include "devicedb/device_database.h"
#include "devicedb/device_database_edit.h"

#include <gtest/gtest.h>

#include <windows.h>

#include <array>
#include <cstring>
#include <string>
#include <vector>

using namespace prnlink;

namespace {

TEST(DeviceIdFields, SplitsKeysAndValuesInOrder) {
    const char id[] = "MFG:Acme;MDL:Laser 10;CMD:PCL,PS;CLS:PRINTER;";
    auto fields = ParseDeviceId(id, sizeof(id) - 1);
    ASSERT_EQ(fields.size(), 4u);
    EXPECT_EQ(fields[0].key, "MFG");
    EXPECT_EQ(fields[0].value, "Acme");
    EXPECT_EQ(fields[1].value, "Laser 10");
    EXPECT_EQ(fields[2].key, "CMD");
    EXPECT_EQ(fields[2].value, "PCL,PS"); // commas stay inside a value
    EXPECT_EQ(fields[3].key, "CLS");
}

TEST(DeviceIdFields, TrimsSpaceSkipsEmptyPiecesAndKeepsColonsInValues) {
    const char id[] = " MANUFACTURER : Acme ;;DES:Room 2: east;  ;noColon; SN:";
    auto fields = ParseDeviceId(id, sizeof(id) - 1);
    ASSERT_EQ(fields.size(), 4u);
    EXPECT_EQ(fields[0].key, "MANUFACTURER");
    EXPECT_EQ(fields[0].value, "Acme");
    EXPECT_EQ(fields[1].key, "DES");
    EXPECT_EQ(fields[1].value, "Room 2: east"); // split at the first colon only
    EXPECT_EQ(fields[2].key, "");
    EXPECT_EQ(fields[2].value, "noColon");
    EXPECT_EQ(fields[3].key, "SN"); // a last piece without a semicolon still counts
    EXPECT_EQ(fields[3].value, "");
}

TEST(DeviceIdFields, StopsAtTheLengthOrTheFirstNul) {
    const char id[] = "MFG:Acme;MDL:X;";
    EXPECT_EQ(ParseDeviceId(id, 8).size(), 1u); // "MFG:Acme" only
    auto cut = ParseDeviceId(id, 13);           // "MFG:Acme;MDL:": the model's value cut off
    ASSERT_EQ(cut.size(), 2u);
    EXPECT_EQ(cut[1].key, "MDL");
    EXPECT_EQ(cut[1].value, "");
    const char withNul[] = "MFG:A\0MDL:B;";
    EXPECT_EQ(ParseDeviceId(withNul, sizeof(withNul) - 1).size(), 1u);
    EXPECT_TRUE(ParseDeviceId(nullptr, 10).empty());
    EXPECT_TRUE(ParseDeviceId(id, 0).empty());
}

TEST(DeviceIdFields, KnownKeysHaveMeaningsWhateverTheirCase) {
    EXPECT_EQ(DeviceIdKeyMeaning("MFG"), "manufacturer");
    EXPECT_EQ(DeviceIdKeyMeaning("mdl"), "model");
    EXPECT_EQ(DeviceIdKeyMeaning("Command Set"), "command set");
    EXPECT_EQ(DeviceIdKeyMeaning("XYZ"), "");
}

TEST(DeviceIdFields, PrintableTextEscapesControlAndHighBytes) {
    EXPECT_EQ(PrintableText("A\x01z\xff\\"), "A\\x01z\\xFF\\\\");
    EXPECT_EQ(PrintableText("plain text"), "plain text");
}

TEST(Win32ErrorNames, NamesTheMonitorsCodes) {
    EXPECT_EQ(DescribeWin32Error(110), "ERROR_OPEN_FAILED (110)");
    EXPECT_EQ(DescribeWin32Error(1460), "ERROR_TIMEOUT (1460)");
    EXPECT_EQ(DescribeWin32Error(2), "ERROR_FILE_NOT_FOUND (2)");
    EXPECT_EQ(DescribeWin32Error(1796), "ERROR_UNKNOWN_PORT (1796)");
    EXPECT_EQ(DescribeWin32Error(0), "no error code (0)");
    EXPECT_EQ(DescribeWin32Error(4711), "error 4711");
    EXPECT_EQ(Win32ErrorName(4711), nullptr);
}

TEST(StatusText, PortStatusAsTheSpoolerShowsIt) {
    EXPECT_EQ(DescribePortStatus(0, nullptr), "ready");
    EXPECT_EQ(DescribePortStatus(0, L""), "ready");
    EXPECT_EQ(DescribePortStatus(0, L"Not Powered On"), "Not Powered On");
    EXPECT_EQ(DescribePortStatus(3, nullptr), "paper out");
    EXPECT_EQ(DescribePortStatus(1, nullptr), "offline");
    EXPECT_EQ(DescribePortStatus(3, L"Custom"), "Custom"); // a text wins over the code
    EXPECT_EQ(DescribePortStatus(99, nullptr), "port status 99");
}

TEST(StatusText, BytesAndProgress) {
    EXPECT_EQ(FormatBytes(0), "0 B");
    EXPECT_EQ(FormatBytes(1023), "1023 B");
    EXPECT_EQ(FormatBytes(1536), "1.5 KB");
    EXPECT_EQ(FormatBytes(3 * 1048576), "3.00 MB");
    std::string half = FormatProgress(512, 1024, 2.0, 0.5, 10);
    EXPECT_EQ(half.substr(0, 12), "[#####.....]");
    EXPECT_NE(half.find(" 50%"), std::string::npos) << half;
    EXPECT_NE(half.find("512 B / 1.0 KB"), std::string::npos) << half;
    EXPECT_NE(half.find("256 B/s"), std::string::npos) << half;
    EXPECT_NE(half.find("credit wait 0.5 s"), std::string::npos) << half;
    // Nothing to send counts as done; no division by a zero time or size.
    EXPECT_EQ(FormatProgress(0, 0, 0.0, 0.0, 4).substr(0, 6), "[####]");
    // More than the total (a file that grew) never draws past the bar.
    EXPECT_EQ(FormatProgress(2048, 1024, 1.0, 0.0, 4).substr(0, 6), "[####]");
}

// The binding is tried on this very program: it calls GetCurrentProcessId through its
// own import table, like the monitor calls the spooler functions through its table.
DWORD WINAPI FakeProcessId() {
    return 4242;
}
// The compiler takes an import's address as a constant within one function, so each call
// is made from a function of its own, as each of the monitor's calls is.
__attribute__((noinline)) DWORD ProcessIdThroughImport() {
    asm volatile("" ::: "memory");
    return GetCurrentProcessId();
}

TEST(ImportPatch, RebindsAnImportOfThisProgramAndBack) {
    HMODULE self = GetModuleHandleW(nullptr);
    DWORD real = ProcessIdThroughImport();
    void* original = nullptr;
    ASSERT_TRUE(PatchImport(self, "KERNEL32.dll", "GetCurrentProcessId",
                            reinterpret_cast<void*>(FakeProcessId), &original));
    EXPECT_EQ(ProcessIdThroughImport(), 4242u);
    ASSERT_TRUE(PatchImport(self, "kernel32.dll", "GetCurrentProcessId", original, nullptr));
    EXPECT_EQ(ProcessIdThroughImport(), real);
}

TEST(ImportPatch, FindsNothingForWhatIsNotImported) {
    auto* self = reinterpret_cast<const uint8_t*>(GetModuleHandleW(nullptr));
    EXPECT_EQ(FindImportSlot(self, "kernel32.dll", "NoSuchFunction", nullptr), nullptr);
    EXPECT_EQ(FindImportSlot(self, "nosuch.dll", "GetCurrentProcessId", nullptr), nullptr);
    EXPECT_NE(FindImportSlot(self, "KERNEL32.DLL", "GetCurrentProcessId", nullptr), nullptr);
    EXPECT_FALSE(
        PatchImport(GetModuleHandleW(nullptr), "kernel32.dll", "NoSuchFunction", nullptr, nullptr));
    // Not an image at all.
    std::vector<uint8_t> junk(4096, 0);
    EXPECT_EQ(FindImportSlot(junk.data(), "kernel32.dll", "GetCurrentProcessId", nullptr), nullptr);
}

DWORD WINAPI WorkerWritingDebugLine(LPVOID) {
    OutputDebugStringA("from a worker\n");
    return 0;
}

// Debug lines are taken from OutputDebugString on every thread, whole and in order, and
// the program goes on after each.
TEST(DebugCapture, CatchesDebugLinesFromAnyThread) {
    StartDebugCapture(false);
    OutputDebugStringA("LoadQORLIB ==> \n");
    HANDLE thread = CreateThread(nullptr, 0, WorkerWritingDebugLine, nullptr, 0, nullptr);
    ASSERT_NE(thread, nullptr);
    WaitForSingleObject(thread, 5000);
    CloseHandle(thread);
    OutputDebugStringW(L"wide line\n");
    EXPECT_TRUE(DebugLinesContain("LoadQORLIB ==> "));
    EXPECT_TRUE(DebugLinesContain("from a worker"));
    EXPECT_TRUE(DebugLinesContain("wide line"));
    EXPECT_FALSE(DebugLinesContain("never written"));
    std::vector<std::string> lines = DebugLines();
    ASSERT_GE(lines.size(), 3u);
    EXPECT_EQ(lines[0], "LoadQORLIB ==> "); // the line break is not kept
}

TEST(AdminArguments, AddressesAsInPortNamesOrAsTwelveDigits) {
    struct Case {
        const char* text;
        bool good;
        uint8_t bytes[6];
    } cases[] = {
        {"00:1b:dc:0f:10:01", true, {0x00, 0x1b, 0xdc, 0x0f, 0x10, 0x01}},
        {"00:1B:DC:0F:10:01", true, {0x00, 0x1b, 0xdc, 0x0f, 0x10, 0x01}},
        {"001bdc0f1001", true, {0x00, 0x1b, 0xdc, 0x0f, 0x10, 0x01}},
        {"ff:ff:ff:ff:ff:ff", true, {0xff, 0xff, 0xff, 0xff, 0xff, 0xff}},
        {"00:1b:dc:0f:10", false, {}},
        {"00-1b-dc-0f-10-01", false, {}},
        {"00:1b:dc:0f:10:0g", false, {}},
        {"001bdc0f10011", false, {}},
        {"0:1b:dc:0f:10:011", false, {}},
        {"00:00:00:00:00:00", false, {}},
        {"", false, {}},
    };
    for (const Case& c : cases) {
        uint8_t address[6] = {1, 2, 3, 4, 5, 6};
        std::string error = ParseAddressArgument(c.text, address);
        EXPECT_EQ(error.empty(), c.good) << c.text << ": " << error;
        if (c.good) {
            EXPECT_EQ(memcmp(address, c.bytes, 6), 0) << c.text;
            EXPECT_EQ(FormatAddress(address), FormatAddress(c.bytes));
        } else {
            EXPECT_NE(error.find("ADDRESS"), std::string::npos) << error;
            const uint8_t untouched[6] = {1, 2, 3, 4, 5, 6};
            EXPECT_EQ(memcmp(address, untouched, 6), 0) << c.text;
        }
    }
}

TEST(AdminArguments, PsmsAreOddWithAnEvenUpperByte) {
    struct Case {
        const char* text;
        int psm; // -1: refused
    } cases[] = {
        {"0x1001", 0x1001}, {"4097", 0x1001}, {"0x0001", 1},  {"0xFEFF", 0xFEFF},
        {"0x1003", 0x1003}, {"0x1000", -1},   {"0x1101", -1}, {"0", -1},
        {"0xFFFF", -1},     {"65535", -1},    {"0x", -1},     {"-1", -1},
        {"0x10011", -1},    {"1e3", -1},      {"", -1},
    };
    for (const Case& c : cases) {
        uint16_t psm = 0;
        std::string error = ParsePsmArgument("--data-psm", c.text, &psm);
        if (c.psm < 0) {
            EXPECT_NE(error.find("--data-psm"), std::string::npos) << c.text << ": " << error;
        } else {
            EXPECT_EQ(error, "") << c.text;
            EXPECT_EQ(psm, c.psm) << c.text;
        }
    }
    EXPECT_EQ(FormatPsm(0x1001), "0x1001");
    EXPECT_EQ(FormatAddress(std::array<uint8_t, 6>{0x00, 0x1b, 0xdc, 0x0f, 0x10, 0x01}.data()),
              "00:1b:dc:0f:10:01");
}

TEST(AdminArguments, PrinterAndMonitorNames) {
    const std::string longest(247, 'p');
    EXPECT_EQ(CheckPrinterNameArgument("Office Laser"), "");
    EXPECT_EQ(CheckPrinterNameArgument(longest), "");
    struct Case {
        std::string name;
        const char* said;
    } refused[] = {
        {"", "empty"},
        {longest + "p", "248 bytes"},
        {"Lab, Inkjet", "comma"},
        {"Tab\there", "control character"},
        {"Trailing ", "ends in a space"},
    };
    for (const Case& c : refused) {
        std::string error = CheckPrinterNameArgument(c.name);
        EXPECT_NE(error.find("NAME"), std::string::npos) << error;
        EXPECT_NE(error.find(c.said), std::string::npos) << error;
    }
    EXPECT_EQ(CheckMonitorNameArgument("Prnlink"), "");
    for (const char* bad : {"", "a\\b", "a,b", "\x01"}) {
        EXPECT_NE(CheckMonitorNameArgument(bad).find("--name"), std::string::npos) << bad;
    }
    EXPECT_NE(CheckMonitorNameArgument(std::string(65, 'm')), "");
}

TEST(AdminArguments, WatchIntervals) {
    struct Case {
        const char* text;
        int milliseconds; // -1: refused
    } cases[] = {
        {"1", 1000},    {"0.5", 500}, {"0.1", 100}, {"2.25", 2250}, {"3600", 3600000},
        {"0.05", -1},   {"0", -1},    {"3601", -1}, {".", -1},      {"1.", -1},
        {"1.2345", -1}, {"x", -1},    {"", -1},     {"-1", -1},
    };
    for (const Case& c : cases) {
        uint32_t ms = 0;
        std::string error = ParseIntervalArgument(c.text, &ms);
        EXPECT_EQ(error.empty(), c.milliseconds >= 0) << c.text << ": " << error;
        if (c.milliseconds >= 0) {
            EXPECT_EQ(ms, static_cast<uint32_t>(c.milliseconds)) << c.text;
        }
    }
}

// HCRPDB.txt edits, on a file of this test's own (the functions take the path).
class DeviceFileEdit : public ::testing::Test {
  protected:
    void SetUp() override {
        wchar_t directory[MAX_PATH] = {};
        GetTempPathW(MAX_PATH, directory);
        path_ = std::wstring(directory) + L"prnlink-edit-test.txt";
        copy_ = path_ + L".new";
        saved_ = g_deviceFileCalls;
    }
    void TearDown() override {
        g_deviceFileCalls = saved_;
        DeleteFileW(path_.c_str());
        DeleteFileW(copy_.c_str());
    }
    void Write(const std::string& bytes) {
        HANDLE file = CreateFileW(path_.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                  FILE_ATTRIBUTE_NORMAL, nullptr);
        DWORD written = 0;
        WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
        CloseHandle(file);
    }
    std::string Read() {
        DeviceFileImage image;
        EXPECT_TRUE(ReadDeviceFile(path_.c_str(), &image, nullptr));
        std::string bytes(reinterpret_cast<char*>(image.bytes), image.size);
        FreeDeviceFile(&image);
        return bytes;
    }
    static std::string Record(char fill) {
        std::string record(DEVICE_RECORD_SIZE, fill);
        return record;
    }
    std::wstring path_;
    std::wstring copy_;
    DeviceFileCalls saved_;
};

TEST_F(DeviceFileEdit, AppendsToAMissingOrExistingFileAndRemovesAnyRecord) {
    BOOL missing = FALSE;
    DeviceFileImage image;
    ASSERT_TRUE(ReadDeviceFile(path_.c_str(), &image, &missing));
    EXPECT_TRUE(missing);
    EXPECT_EQ(image.size, 0u);
    const std::string a = Record('a'), b = Record('b'), c = Record('c');
    ASSERT_TRUE(AppendDeviceRecord(path_.c_str(), reinterpret_cast<const uint8_t*>(a.data())));
    ASSERT_TRUE(AppendDeviceRecord(path_.c_str(), reinterpret_cast<const uint8_t*>(b.data())));
    ASSERT_TRUE(AppendDeviceRecord(path_.c_str(), reinterpret_cast<const uint8_t*>(c.data())));
    EXPECT_EQ(Read(), a + b + c);
    ASSERT_TRUE(RemoveDeviceRecord(path_.c_str(), 1));
    EXPECT_EQ(Read(), a + c);
    ASSERT_TRUE(RemoveDeviceRecord(path_.c_str(), 1));
    EXPECT_EQ(Read(), a);
    SetLastError(0);
    EXPECT_FALSE(RemoveDeviceRecord(path_.c_str(), 1));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
    EXPECT_EQ(GetFileAttributesW(copy_.c_str()), INVALID_FILE_ATTRIBUTES);
}

TEST_F(DeviceFileEdit, AShortLastRecordIsOneRecordAndIsRemovedWhole) {
    const std::string a = Record('a');
    Write(a + "tail");
    DeviceFileImage image;
    ASSERT_TRUE(ReadDeviceFile(path_.c_str(), &image, nullptr));
    EXPECT_EQ(DeviceRecordCount(image), 2u);
    DWORD length = 0;
    EXPECT_EQ(DeviceRecordAt(image, 1, &length), image.bytes + DEVICE_RECORD_SIZE);
    EXPECT_EQ(length, 4u);
    EXPECT_EQ(DeviceRecordAt(image, 2, &length), nullptr);
    FreeDeviceFile(&image);
    ASSERT_TRUE(RemoveDeviceRecord(path_.c_str(), 1));
    EXPECT_EQ(Read(), a);
}

BOOL WINAPI WriteHalfThenFail(HANDLE file, LPCVOID data, DWORD size, LPDWORD written,
                              LPOVERLAPPED) {
    if (size > 100) {
        WriteFile(file, data, 100, written, nullptr);
        return TRUE;
    }
    SetLastError(ERROR_DISK_FULL);
    *written = 0;
    return FALSE;
}

TEST_F(DeviceFileEdit, AFailedWriteLeavesTheFileAsItWasAndNoCopy) {
    const std::string a = Record('a'), b = Record('b');
    Write(a + b);
    g_deviceFileCalls.writeFile = WriteHalfThenFail;
    SetLastError(0);
    EXPECT_FALSE(AppendDeviceRecord(path_.c_str(), reinterpret_cast<const uint8_t*>(a.data())));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_DISK_FULL));
    EXPECT_FALSE(RemoveDeviceRecord(path_.c_str(), 0));
    g_deviceFileCalls = saved_;
    EXPECT_EQ(Read(), a + b);
    EXPECT_EQ(GetFileAttributesW(copy_.c_str()), INVALID_FILE_ATTRIBUTES);
}

VOID WINAPI NoSleep(DWORD) {}

TEST_F(DeviceFileEdit, AFileHeldByAnotherProgramIsLeftAlone) {
    const std::string a = Record('a');
    Write(a);
    // Held without sharing, as a program that is writing it would hold it.
    HANDLE held = CreateFileW(path_.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                              OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(held, INVALID_HANDLE_VALUE);
    g_deviceFileCalls.sleep = NoSleep;
    EXPECT_FALSE(AppendDeviceRecord(path_.c_str(), reinterpret_cast<const uint8_t*>(a.data())));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_SHARING_VIOLATION));
    CloseHandle(held);
    g_deviceFileCalls = saved_;
    EXPECT_EQ(Read(), a);
    EXPECT_EQ(GetFileAttributesW(copy_.c_str()), INVALID_FILE_ATTRIBUTES);
}

} // namespace
