// The host's pure helpers and its import binding.

#include "console.h"
#include "device_id_fields.h"
#include "import_patch.h"
#include "status_text.h"
#include "win32_error_names.h"

#include <gtest/gtest.h>

#include <windows.h>

#include <cstring>
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

} // namespace
