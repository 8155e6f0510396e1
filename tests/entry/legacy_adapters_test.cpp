// The legacy entries: byte-wise widening into fixed buffers, forwarding through the
// MONITOR2 table, the AddPort and ConfigurePort refusals, and the GetPrinterDataFromPort
// work buffers.

#include <gtest/gtest.h>

#include "entry/byte_text.h"
#include "entry/legacy_adapters.h"
#include "entry/monitor.h"

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

namespace {

// What the stand-ins behind the MONITOR2 slots saw.
struct Seen {
    int calls = 0;
    HANDLE handle = nullptr;
    bool nameNull = false;
    std::wstring name;
    bool secondNull = false;
    std::wstring second;
    HWND window = nullptr;
    DWORD numbers[3] = {};
    void* pointers[3] = {};
};
Seen g_seen;
BOOL g_result = TRUE;

void Record(const wchar_t* name, const wchar_t* second = nullptr) {
    ++g_seen.calls;
    g_seen.nameNull = name == nullptr;
    g_seen.name = name != nullptr ? name : L"";
    g_seen.secondNull = second == nullptr;
    g_seen.second = second != nullptr ? second : L"";
}

BOOL WINAPI StandInEnumPorts(HANDLE monitor, LPWSTR name, DWORD level, LPBYTE ports, DWORD size,
                             LPDWORD needed, LPDWORD returned) {
    Record(name);
    g_seen.handle = monitor;
    g_seen.numbers[0] = level;
    g_seen.numbers[1] = size;
    g_seen.pointers[0] = ports;
    g_seen.pointers[1] = needed;
    g_seen.pointers[2] = returned;
    SetLastError(ERROR_INSUFFICIENT_BUFFER);
    return g_result;
}

BOOL WINAPI StandInOpenPort(HANDLE monitor, LPWSTR name, PHANDLE port) {
    Record(name);
    g_seen.handle = monitor;
    g_seen.pointers[0] = port;
    return g_result;
}

BOOL WINAPI StandInStartDocPort(HANDLE port, LPWSTR printer, DWORD job, DWORD level, LPBYTE info) {
    Record(printer);
    g_seen.handle = port;
    g_seen.numbers[0] = job;
    g_seen.numbers[1] = level;
    g_seen.pointers[0] = info;
    return g_result;
}

BOOL WINAPI StandInDeletePort(HANDLE monitor, LPWSTR name, HWND window, LPWSTR port) {
    Record(name, port);
    g_seen.handle = monitor;
    g_seen.window = window;
    return g_result;
}

// The device-ID operation as the adapter meets it: 8-bit text with its terminator into the
// output buffer, its size into *returned.
std::string g_deviceId = "MFG:Acme;MDL:P1;";
std::vector<BYTE> g_inputSeen;
BOOL WINAPI StandInGetPrinterDataFromPort(HANDLE port, DWORD control, LPWSTR valueName,
                                          LPWSTR input, DWORD inputSize, LPWSTR output,
                                          DWORD outputSize, LPDWORD returned) {
    ++g_seen.calls;
    g_seen.handle = port;
    g_seen.numbers[0] = control;
    g_seen.numbers[1] = inputSize;
    g_seen.numbers[2] = outputSize;
    g_seen.pointers[0] = valueName;
    g_seen.pointers[1] = input;
    g_seen.pointers[2] = output;
    g_inputSeen.assign(reinterpret_cast<BYTE*>(input),
                       reinterpret_cast<BYTE*>(input) + (input != nullptr ? inputSize : 0));
    *returned = static_cast<DWORD>(g_deviceId.size() + 1);
    if (!g_result || output == nullptr) {
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return FALSE;
    }
    // The work buffer holds twice the caller's size; fill all of it, the text first.
    const size_t capacity = 2 * static_cast<size_t>(outputSize);
    memset(output, 0x5A, capacity);
    memcpy(output, g_deviceId.c_str(), std::min(capacity, g_deviceId.size() + 1));
    return TRUE;
}

// A control code the operation answers TRUE for without data: nothing written, not even
// the count.
BOOL WINAPI StandInAnswersWithoutData(HANDLE, DWORD, LPWSTR, LPWSTR, DWORD, LPWSTR, DWORD,
                                      LPDWORD) {
    ++g_seen.calls;
    return TRUE;
}

struct Box {
    HWND owner;
    std::string text;
    std::string caption;
    UINT type;
};
std::vector<Box> g_boxes;
int WINAPI RecordingMessageBoxA(HWND owner, LPCSTR text, LPCSTR caption, UINT type) {
    g_boxes.push_back({owner, text, caption, type});
    SetLastError(ERROR_NOT_ENOUGH_MEMORY); // a message box may touch the error code
    return IDOK;
}

MonitorHandle g_fakeMonitor = {};

class LegacyAdapters : public ::testing::Test {
  protected:
    void SetUp() override {
        savedTable_ = g_monitor2Table;
        savedCalls_ = g_legacyAdapterCalls;
        savedMonitor_ = g_monitorHandle;
        g_monitor2Table.pfnEnumPorts = StandInEnumPorts;
        g_monitor2Table.pfnOpenPort = StandInOpenPort;
        g_monitor2Table.pfnStartDocPort = StandInStartDocPort;
        g_monitor2Table.pfnDeletePort = StandInDeletePort;
        g_monitor2Table.pfnGetPrinterDataFromPort = StandInGetPrinterDataFromPort;
        g_legacyAdapterCalls.messageBoxA = RecordingMessageBoxA;
        g_monitorHandle = &g_fakeMonitor;
        g_seen = Seen();
        g_result = TRUE;
        g_boxes.clear();
    }
    void TearDown() override {
        g_monitor2Table = savedTable_;
        g_legacyAdapterCalls = savedCalls_;
        g_monitorHandle = savedMonitor_;
    }

  private:
    Monitor2Table savedTable_;
    LegacyAdapterCalls savedCalls_;
    MonitorHandle* savedMonitor_;
};

std::string Repeat(char c, size_t count) {
    return std::string(count, c);
}

} // namespace

TEST_F(LegacyAdapters, EnumPortsWidensEachByteToTheSameValue) {
    char name[] = "\\\\Server\xE9\x80\xFF";
    BYTE ports[8];
    DWORD needed = 0, returned = 0;
    EXPECT_TRUE(LegacyEnumPorts(name, 2, ports, sizeof(ports), &needed, &returned));
    ASSERT_EQ(g_seen.calls, 1);
    EXPECT_EQ(g_seen.handle, &g_fakeMonitor);
    EXPECT_EQ(g_seen.name, std::wstring(L"\\\\Server\x00E9\x0080\x00FF"));
    EXPECT_EQ(g_seen.numbers[0], 2u);
    EXPECT_EQ(g_seen.numbers[1], sizeof(ports));
    EXPECT_EQ(g_seen.pointers[0], ports);
    EXPECT_EQ(g_seen.pointers[1], &needed);
    EXPECT_EQ(g_seen.pointers[2], &returned);

    // The result and the error code are the operation's own.
    g_result = FALSE;
    SetLastError(0);
    EXPECT_FALSE(LegacyEnumPorts(name, 1, nullptr, 0, &needed, &returned));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER));
}

TEST_F(LegacyAdapters, NullNamesStayNull) {
    DWORD needed = 0, returned = 0;
    EXPECT_TRUE(LegacyEnumPorts(nullptr, 1, nullptr, 0, &needed, &returned));
    EXPECT_TRUE(g_seen.nameNull);
    HANDLE port = nullptr;
    EXPECT_TRUE(LegacyOpenPort(nullptr, &port));
    EXPECT_TRUE(g_seen.nameNull);
    EXPECT_TRUE(LegacyDeletePort(nullptr, nullptr, nullptr));
    EXPECT_TRUE(g_seen.nameNull);
    EXPECT_TRUE(g_seen.secondNull);
}

TEST_F(LegacyAdapters, NamesThatDoNotFitAreRefusedNotCut) {
    // 249 characters and the terminator fill the 250-character buffer exactly.
    std::string fits = Repeat('a', 249);
    std::string overlong = Repeat('a', 250);
    HANDLE port = nullptr;
    EXPECT_TRUE(LegacyOpenPort(&fits[0], &port));
    EXPECT_EQ(g_seen.name, std::wstring(249, L'a'));
    EXPECT_EQ(g_seen.pointers[0], &port);

    g_seen = Seen();
    SetLastError(0);
    EXPECT_FALSE(LegacyOpenPort(&overlong[0], &port));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_NAME));
    DWORD needed = 0, returned = 0;
    EXPECT_FALSE(LegacyEnumPorts(&overlong[0], 1, nullptr, 0, &needed, &returned));
    EXPECT_FALSE(LegacyStartDocPort(nullptr, &overlong[0], 1, 1, nullptr));
    EXPECT_EQ(g_seen.calls, 0);

    // DeletePort and AddPort have 262 characters.
    std::string fitsLong = Repeat('p', 261);
    std::string overlongLong = Repeat('p', 262);
    EXPECT_TRUE(LegacyDeletePort(&fits[0], nullptr, &fitsLong[0]));
    EXPECT_EQ(g_seen.second, std::wstring(261, L'p'));
    g_seen = Seen();
    EXPECT_FALSE(LegacyDeletePort(&fits[0], nullptr, &overlongLong[0]));
    EXPECT_FALSE(LegacyDeletePort(&overlongLong[0], nullptr, &fits[0]));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_NAME));
    EXPECT_EQ(g_seen.calls, 0);
    EXPECT_FALSE(LegacyAddPort(&overlongLong[0], nullptr, &fits[0]));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_NAME));
    EXPECT_TRUE(g_boxes.empty());
}

TEST_F(LegacyAdapters, StartDocPortPassesEverythingElseUnchanged) {
    char printer[] = "Office \xE9";
    BYTE info[4];
    HANDLE port = reinterpret_cast<HANDLE>(0x1234);
    EXPECT_TRUE(LegacyStartDocPort(port, printer, 77, 1, info));
    EXPECT_EQ(g_seen.handle, port);
    EXPECT_EQ(g_seen.name, std::wstring(L"Office \x00E9"));
    EXPECT_EQ(g_seen.numbers[0], 77u);
    EXPECT_EQ(g_seen.numbers[1], 1u);
    EXPECT_EQ(g_seen.pointers[0], info);
}

TEST_F(LegacyAdapters, DeletePortForwardsBothNamesAndTheWindow) {
    char server[] = "\\\\host";
    char port[] = "00:0a:95:12:34:56.1";
    HWND window = reinterpret_cast<HWND>(0x40);
    EXPECT_TRUE(LegacyDeletePort(server, window, port));
    EXPECT_EQ(g_seen.handle, &g_fakeMonitor);
    EXPECT_EQ(g_seen.name, L"\\\\host");
    EXPECT_EQ(g_seen.second, L"00:0a:95:12:34:56.1");
    EXPECT_EQ(g_seen.window, window);
}

TEST_F(LegacyAdapters, MonitorLevelEntriesNeedAMonitor) {
    g_monitorHandle = nullptr;
    char name[] = "x";
    HANDLE port = nullptr;
    SetLastError(0);
    EXPECT_FALSE(LegacyOpenPort(name, &port));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
    DWORD needed = 0, returned = 0;
    EXPECT_FALSE(LegacyEnumPorts(name, 1, nullptr, 0, &needed, &returned));
    EXPECT_FALSE(LegacyDeletePort(name, nullptr, name));
    EXPECT_EQ(g_seen.calls, 0);
}

TEST_F(LegacyAdapters, AddPortShowsTheRefusalOncePerCallAndKeepsTheErrorCode) {
    char name[] = "\\\\host";
    char monitor[] = "Bluetooth Monitor";
    HWND window = reinterpret_cast<HWND>(0x20);
    SetLastError(0x1234);
    EXPECT_FALSE(LegacyAddPort(name, window, monitor));
    EXPECT_EQ(GetLastError(), 0x1234u);
    ASSERT_EQ(g_boxes.size(), 1u);
    EXPECT_EQ(g_boxes[0].owner, window);
    EXPECT_EQ(g_boxes[0].caption, "Bluetooth HCRP");
    EXPECT_EQ(g_boxes[0].text, "Bluetooth Ports are not added through the Spooler!\nYou must "
                               "perform a Service Discovery on the device you wish\nto print to.");
    EXPECT_EQ(g_boxes[0].type, static_cast<UINT>(MB_ICONINFORMATION));
    EXPECT_FALSE(LegacyAddPort(nullptr, nullptr, nullptr));
    EXPECT_EQ(g_boxes.size(), 2u);
    EXPECT_EQ(g_seen.calls, 0);
}

TEST_F(LegacyAdapters, AddPortWithTheRealMessageBoxReturnsWithoutADisplay) {
    g_legacyAdapterCalls.messageBoxA = MessageBoxA;
    char name[] = "x";
    SetLastError(0x4321);
    EXPECT_FALSE(LegacyAddPort(name, nullptr, name));
    EXPECT_EQ(GetLastError(), 0x4321u);
}

TEST_F(LegacyAdapters, ConfigurePortRefusesSilently) {
    char name[] = "x";
    SetLastError(0x55);
    EXPECT_FALSE(LegacyConfigurePort(name, nullptr, name));
    EXPECT_EQ(GetLastError(), 0x55u);
    EXPECT_TRUE(g_boxes.empty());
    EXPECT_EQ(g_seen.calls, 0);
}

TEST_F(LegacyAdapters, GetPrinterDataFromPortReturnsTheTextIntoTheCallersBuffer) {
    HANDLE port = reinterpret_cast<HANDLE>(0x77);
    char valueName[] = "value";
    char input[3] = {1, 2, 3};
    char output[40];
    memset(output, '#', sizeof(output));
    DWORD returned = 0;
    ASSERT_TRUE(LegacyGetPrinterDataFromPort(port, 0x16000C, valueName, input, sizeof(input),
                                             output, 30, &returned));
    EXPECT_EQ(g_seen.handle, port);
    EXPECT_EQ(g_seen.numbers[0], 0x16000Cu);
    EXPECT_EQ(g_seen.numbers[1], 3u);
    EXPECT_EQ(g_seen.numbers[2], 30u);
    EXPECT_EQ(g_seen.pointers[0], valueName);
    // Work buffers of the operation's own, the input carried into them.
    EXPECT_NE(g_seen.pointers[1], input);
    EXPECT_NE(g_seen.pointers[2], output);
    EXPECT_EQ(g_inputSeen, (std::vector<BYTE>{1, 2, 3}));
    EXPECT_EQ(returned, g_deviceId.size() + 1);
    EXPECT_STREQ(output, g_deviceId.c_str());
    // Only the returned bytes reach the caller.
    EXPECT_EQ(output[g_deviceId.size() + 1], '#');
}

TEST_F(LegacyAdapters, GetPrinterDataFromPortNeverWritesBeyondTheCallersBuffer) {
    char output[12];
    memset(output, '#', sizeof(output));
    DWORD returned = 0;
    // The operation reports more than the caller's 8 bytes: only 8 are copied.
    ASSERT_TRUE(
        LegacyGetPrinterDataFromPort(nullptr, 0x16000C, nullptr, nullptr, 0, output, 8, &returned));
    EXPECT_EQ(g_seen.pointers[1], nullptr); // no input: no input buffer
    EXPECT_EQ(memcmp(output, g_deviceId.c_str(), 8), 0);
    EXPECT_EQ(output[8], '#');

    // A failure leaves the caller's buffer alone and passes the error and count on.
    g_result = FALSE;
    memset(output, '#', sizeof(output));
    SetLastError(0);
    EXPECT_FALSE(
        LegacyGetPrinterDataFromPort(nullptr, 0x16000C, nullptr, nullptr, 0, output, 8, &returned));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER));
    EXPECT_EQ(returned, g_deviceId.size() + 1);
    EXPECT_EQ(output[0], '#');

    // No output buffer at all: the operation gets none either, and its answer (the size
    // needed) comes back.
    g_result = TRUE;
    g_seen = Seen();
    returned = 0;
    EXPECT_FALSE(LegacyGetPrinterDataFromPort(nullptr, 0x16000C, nullptr, nullptr, 0, nullptr, 0,
                                              &returned));
    EXPECT_EQ(g_seen.calls, 1);
    EXPECT_EQ(g_seen.pointers[2], nullptr);
    EXPECT_EQ(returned, g_deviceId.size() + 1);
}

TEST_F(LegacyAdapters, GetPrinterDataFromPortCopiesNothingTheOperationDidNotReport) {
    g_monitor2Table.pfnGetPrinterDataFromPort = StandInAnswersWithoutData;
    char output[16];
    memset(output, '#', sizeof(output));
    DWORD returned = 9; // what the caller's variable held before
    ASSERT_TRUE(
        LegacyGetPrinterDataFromPort(nullptr, 0x1234, nullptr, nullptr, 0, output, 16, &returned));
    EXPECT_EQ(g_seen.calls, 1);
    EXPECT_EQ(returned, 0u);
    EXPECT_EQ(std::string(output, sizeof(output)), std::string(sizeof(output), '#'));
}

TEST_F(LegacyAdapters, GetPrinterDataFromPortRefusesSizesItCannotDouble) {
    char output[4];
    DWORD returned = 0;
    SetLastError(0);
    EXPECT_FALSE(LegacyGetPrinterDataFromPort(nullptr, 0x16000C, nullptr, nullptr, 0, output,
                                              0x80000000u, &returned));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_NOT_ENOUGH_MEMORY));
    EXPECT_EQ(g_seen.calls, 0);
}

TEST(ByteText, WidenBytesFillsExactlyItsCapacity) {
    wchar_t buffer[5];
    wmemset(buffer, L'#', 5);
    EXPECT_TRUE(WidenBytes("abc", buffer, 4));
    EXPECT_EQ(std::wstring(buffer), L"abc");
    EXPECT_EQ(buffer[4], L'#');

    wmemset(buffer, L'#', 5);
    EXPECT_FALSE(WidenBytes("abcd", buffer, 4));
    EXPECT_EQ(buffer[0], L'\0');
    EXPECT_EQ(buffer[4], L'#');
    EXPECT_FALSE(WidenBytes("a", buffer, 0));

    wchar_t all[256];
    char bytes[256];
    for (int i = 1; i < 256; ++i) {
        bytes[i - 1] = static_cast<char>(i);
    }
    bytes[255] = '\0';
    ASSERT_TRUE(WidenBytes(bytes, all, 256));
    for (int i = 1; i < 256; ++i) {
        EXPECT_EQ(static_cast<int>(all[i - 1]), i);
    }
}

TEST(ByteText, NarrowingRefusesCharactersWithoutAByte) {
    size_t length = 99;
    EXPECT_TRUE(MeasureNarrowable(L"ab\x00E9", 10, &length));
    EXPECT_EQ(length, 3u);
    EXPECT_TRUE(MeasureNarrowable(L"abcdef", 4, &length));
    EXPECT_EQ(length, 4u);
    EXPECT_FALSE(MeasureNarrowable(L"ab\x0100", 10, &length));
    // A character beyond the limit is not looked at.
    EXPECT_TRUE(MeasureNarrowable(L"ab\x4E2D", 2, &length));
    EXPECT_EQ(length, 2u);

    char out[4] = {'#', '#', '#', '#'};
    NarrowBytes(L"a\x00FF", 2, out);
    EXPECT_EQ(out[0], 'a');
    EXPECT_EQ(static_cast<unsigned char>(out[1]), 0xFF);
    EXPECT_EQ(out[2], '\0');
    EXPECT_EQ(out[3], '#');
}
