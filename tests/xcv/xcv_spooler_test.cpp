// Port administration as an administrator drives it: PRNLINK.DLL registered with the test
// prefix's own spooler, the Xcv channel opened with OpenPrinterW(",XcvMonitor <name>"),
// commands sent with XcvDataW, AddPortExW and DeletePortW, and the results read back
// from EnumPortsW, win.ini and the registry of the prefix.

#include <gtest/gtest.h>

#include <windows.h>
#include <winspool.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "support/hcrpdb_writer.h"
#include "support/spooler_monitor.h"
#include "support/spooler_state.h"
#include "support/wide.h"

// winspool exports it; the SDK headers of this toolchain leave it out.
extern "C" BOOL WINAPI AddPortExW(LPWSTR pName, DWORD Level, LPBYTE lpBuffer, LPWSTR lpMonitorName);

namespace {

using testsupport::DeleteRegistryRetryValue;
using testsupport::ProfileHas;
using testsupport::RegistryRetryText;
using testsupport::SpoolerHas;
using testsupport::SpoolerPorts;

// --- HCRPDB.txt, through the shared record writer. ---
testsupport::DeviceEntry ZeroAddress(const char* name) {
    testsupport::DeviceEntry entry = testsupport::MakeEntry(0, name);
    memset(entry.address, 0, sizeof(entry.address));
    return entry;
}

// 00:0a:95:12:34:56
testsupport::DeviceEntry OfficeEntry() {
    return testsupport::MakeEntry(0x123456, "Office");
}

void WriteDatabase(const std::vector<testsupport::DeviceEntry>& entries) {
    ASSERT_TRUE(testsupport::WriteDatabase(entries));
}

size_t DatabaseSize() {
    return testsupport::ReadDatabaseBytes().size();
}

// --- What the spooler, win.ini and the registry say. ---
// The [QuillPorts] section as the file in the prefix holds it.
std::string WinIniSection() {
    std::wstring path = testsupport::WindowsDirectory() + L"\\win.ini";
    HANDLE file = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                              nullptr, OPEN_EXISTING, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        return "";
    }
    std::string content(GetFileSize(file, nullptr), '\0');
    DWORD read = 0;
    ReadFile(file, &content[0], static_cast<DWORD>(content.size()), &read, nullptr);
    CloseHandle(file);
    size_t start = content.find("[QuillPorts]");
    if (start == std::string::npos) {
        return "";
    }
    size_t end = content.find("\n[", start + 1);
    return content.substr(start, end == std::string::npos ? std::string::npos : end - start);
}

// --- The Xcv channel. ---
// Without PRINTER_DEFAULTS, or with them asking for the given access.
HANDLE OpenXcvAsking(const ACCESS_MASK* access) {
    HANDLE handle = testsupport::OpenMonitorXcv(access);
    if (handle == nullptr) {
        ADD_FAILURE() << "OpenPrinterW failed: " << GetLastError();
    }
    return handle;
}

HANDLE OpenXcv(bool administer) {
    const ACCESS_MASK admin = SERVER_ACCESS_ADMINISTER;
    return OpenXcvAsking(administer ? &admin : nullptr);
}

struct XcvResult {
    BOOL ok;
    DWORD status;
    DWORD needed;
    std::vector<BYTE> output;
};

XcvResult Xcv(HANDLE handle, const wchar_t* command, const wchar_t* text = nullptr,
              DWORD outputSize = 0) {
    XcvResult result = {FALSE, 0xDEAD, 0, std::vector<BYTE>(outputSize + 1, 0)};
    BYTE* input = reinterpret_cast<BYTE*>(const_cast<wchar_t*>(text));
    DWORD inputSize = text != nullptr ? static_cast<DWORD>((wcslen(text) + 1) * 2) : 0;
    result.ok = XcvDataW(handle, command, input, inputSize,
                         outputSize != 0 ? result.output.data() : nullptr, outputSize,
                         &result.needed, &result.status);
    return result;
}

DWORD XcvStatus(HANDLE handle, const wchar_t* command, const wchar_t* text = nullptr) {
    XcvResult result = Xcv(handle, command, text);
    EXPECT_TRUE(result.ok) << "XcvDataW " << GetLastError();
    return result.status;
}

DWORD Dword(const XcvResult& result) {
    DWORD value = 0;
    memcpy(&value, result.output.data(), 4);
    return value;
}

class XcvThroughSpooler : public ::testing::Test {
  protected:
    static void SetUpTestSuite() {
        std::string error;
        registered = testsupport::RegisterMonitor(&error);
        ASSERT_TRUE(registered) << error;
    }
    static void TearDownTestSuite() { testsupport::UnregisterMonitor(); }

    void SetUp() override {
        ASSERT_TRUE(registered);
        WriteDatabase({});
        WriteProfileStringW(L"QuillPorts", nullptr, nullptr);
        DeleteRegistryRetryValue();
    }
    void TearDown() override {
        WriteDatabase({});
        WriteProfileStringW(L"QuillPorts", nullptr, nullptr);
    }
    static bool registered;
};
bool XcvThroughSpooler::registered;

TEST_F(XcvThroughSpooler, AdministrativeCommandsFollowTheDesiredAccess) {
    HANDLE user = OpenXcv(false);
    const ACCESS_MASK enumerate = SERVER_ACCESS_ENUMERATE;
    HANDLE enumerator = OpenXcvAsking(&enumerate);
    HANDLE admin = OpenXcv(true);
    ASSERT_NE(user, nullptr);
    ASSERT_NE(enumerator, nullptr);
    ASSERT_NE(admin, nullptr);
    for (HANDLE handle : {user, enumerator, admin}) {
        XcvResult ui = Xcv(handle, L"MonitorUI", nullptr, 26);
        ASSERT_TRUE(ui.ok);
        EXPECT_EQ(ui.status, 0u);
        EXPECT_EQ(ui.needed, 26u);
        EXPECT_STREQ(reinterpret_cast<wchar_t*>(ui.output.data()), L"QUILLDLG.dll");
        XcvResult small = Xcv(handle, L"MonitorUI", nullptr, 25);
        EXPECT_EQ(small.status, DWORD{ERROR_INSUFFICIENT_BUFFER});
        EXPECT_EQ(small.needed, 26u);
    }
    EXPECT_EQ(XcvStatus(user, L"AddPort", L"Desk"), DWORD{ERROR_ACCESS_DENIED});
    EXPECT_FALSE(ProfileHas(L"Desk"));
    EXPECT_EQ(XcvStatus(user, L"DeletePort", L"Desk"), DWORD{ERROR_ACCESS_DENIED});
    EXPECT_EQ(XcvStatus(enumerator, L"AddPort", L"Desk"), DWORD{ERROR_ACCESS_DENIED});
    EXPECT_FALSE(ProfileHas(L"Desk"));
    EXPECT_EQ(XcvStatus(admin, L"AddPort", L"Desk"), 0u);
    EXPECT_TRUE(ProfileHas(L"Desk"));
    EXPECT_EQ(XcvStatus(user, L"DeletePort", L"Desk"), DWORD{ERROR_ACCESS_DENIED});
    EXPECT_TRUE(ProfileHas(L"Desk"));
    EXPECT_EQ(XcvStatus(admin, L"DeletePort", L"Desk"), 0u);
    EXPECT_FALSE(ProfileHas(L"Desk"));
    EXPECT_EQ(XcvStatus(admin, L"monitorui"), DWORD{ERROR_INVALID_PARAMETER});
    ClosePrinter(enumerator);
    ClosePrinter(user);
    ClosePrinter(admin);
}

// AddPort, PortExists, PortIsValid and DeletePort, with EnumPortsW, win.ini and
// HCRPDB.txt read back after each command. The open Xcv handle keeps the monitor loaded,
// so its port list lives across the spooler's calls.
TEST_F(XcvThroughSpooler, PortsAddedAndDeletedByCommand) {
    HANDLE admin = OpenXcv(true);
    ASSERT_NE(admin, nullptr);
    XcvResult exists = Xcv(admin, L"PortExists", L"lpt1:", 4);
    EXPECT_EQ(exists.status, 0u);
    EXPECT_EQ(exists.needed, 4u);
    EXPECT_EQ(Dword(exists), 1u) << "the local port monitor's LPT1:, in other letter case";
    exists = Xcv(admin, L"PortExists", L"Desk", 4);
    EXPECT_EQ(Dword(exists), 0u);
    EXPECT_EQ(Xcv(admin, L"PortExists", L"Desk", 3).status, DWORD{ERROR_INSUFFICIENT_BUFFER});

    EXPECT_EQ(XcvStatus(admin, L"AddPort", L"Desk"), 0u);
    EXPECT_TRUE(ProfileHas(L"Desk"));
    EXPECT_NE(WinIniSection().find("Desk="), std::string::npos) << WinIniSection();
    // The port has the zero address: it is listed while the database lists that address.
    WriteDatabase({ZeroAddress("Zero Printer")});
    std::vector<std::wstring> ports = SpoolerPorts();
    EXPECT_TRUE(SpoolerHas(L"Desk"));
    EXPECT_FALSE(SpoolerHas(L"Zero Printer")) << "the address already has its port";
    EXPECT_EQ(Dword(Xcv(admin, L"PortExists", L"DESK", 4)), 1u);
    EXPECT_EQ(XcvStatus(admin, L"AddPort", L"dESK"), DWORD{ERROR_ALREADY_EXISTS});
    EXPECT_EQ(XcvStatus(admin, L"PortIsValid", L"Desk"), 0u);
    EXPECT_EQ(XcvStatus(admin, L"PortIsValid", L"Nowhere"), DWORD{ERROR_FILE_NOT_FOUND});

    // Any letter case for the list and the profile, the exact name for the device record.
    EXPECT_EQ(XcvStatus(admin, L"DeletePort", L"desk"), 0u);
    EXPECT_FALSE(ProfileHas(L"Desk"));
    EXPECT_EQ(WinIniSection().find("Desk="), std::string::npos) << WinIniSection();
    EXPECT_EQ(DatabaseSize(), 274u) << "the device record stays";
    EXPECT_FALSE(SpoolerHas(L"Desk"));
    EXPECT_TRUE(SpoolerHas(L"Zero Printer")) << "back under its device record's name";
    EXPECT_EQ(XcvStatus(admin, L"DeletePort", L"Zero Printer"), 0u);
    EXPECT_EQ(DatabaseSize(), 0u) << "the device record of the port's address is gone";
    EXPECT_FALSE(SpoolerHas(L"Zero Printer"));
    EXPECT_EQ(XcvStatus(admin, L"DeletePort", L"Zero Printer"), DWORD{ERROR_FILE_NOT_FOUND});
    ClosePrinter(admin);
}

TEST_F(XcvThroughSpooler, AddPortExWAndDeletePortWReachTheMonitor) {
    // Held open so that the port made by AddPortExW is still in memory afterwards.
    HANDLE keep = OpenXcv(false);
    ASSERT_NE(keep, nullptr);
    wchar_t monitorName[64];
    wcscpy(monitorName, testsupport::kMonitorName);
    wchar_t portName[] = L"00:0a:95:12:34:56.1";
    PORT_INFO_1W info = {portName};

    SetLastError(0);
    EXPECT_FALSE(AddPortExW(nullptr, 2, reinterpret_cast<BYTE*>(&info), monitorName));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_LEVEL));
    wchar_t notAnAddress[] = L"Printer1";
    PORT_INFO_1W bad = {notAnAddress};
    EXPECT_FALSE(AddPortExW(nullptr, 1, reinterpret_cast<BYTE*>(&bad), monitorName));
    EXPECT_FALSE(ProfileHas(L"Printer1"));
    EXPECT_TRUE(WinIniSection().empty());

    ASSERT_TRUE(AddPortExW(nullptr, 1, reinterpret_cast<BYTE*>(&info), monitorName))
        << GetLastError();
    EXPECT_TRUE(ProfileHas(portName));
    // The printer appears in the database afterwards: the port keeps the added name.
    WriteDatabase({OfficeEntry()});
    EXPECT_TRUE(SpoolerHas(portName));
    EXPECT_FALSE(SpoolerHas(L"Office"));
    EXPECT_EQ(XcvStatus(keep, L"PortIsValid", portName), 0u);
    SetLastError(0);
    EXPECT_FALSE(AddPortExW(nullptr, 1, reinterpret_cast<BYTE*>(&info), monitorName));
    EXPECT_EQ(GetLastError(), DWORD{ERROR_INVALID_PARAMETER}) << "a name the spooler has";

    // DeletePortW removes the device record; the next enumeration drops the port. The
    // profile entry stays.
    ASSERT_TRUE(testsupport::RegisterPortKey(portName));
    EXPECT_TRUE(DeletePortW(nullptr, nullptr, portName)) << GetLastError();
    EXPECT_EQ(DatabaseSize(), 0u);
    EXPECT_FALSE(SpoolerHas(portName));
    EXPECT_TRUE(ProfileHas(portName));
    EXPECT_FALSE(DeletePortW(nullptr, nullptr, portName));
    ClosePrinter(keep);
}

TEST_F(XcvThroughSpooler, RetryTimeoutLivesInTheMonitorsRegistryKey) {
    HANDLE user = OpenXcv(false);
    ASSERT_NE(user, nullptr);
    EXPECT_EQ(RegistryRetryText(), L"<absent>");
    XcvResult timeout = Xcv(user, L"GetTransmissionRetryTimeout", nullptr, 4);
    EXPECT_EQ(timeout.status, 0u);
    EXPECT_EQ(timeout.needed, 4u);
    EXPECT_EQ(Dword(timeout), 45000u);
    EXPECT_EQ(RegistryRetryText(), L"45") << "the default is written when missing";
    EXPECT_EQ(XcvStatus(user, L"ConfigurePortCommandOK", L"60"), 0u);
    EXPECT_EQ(RegistryRetryText(), L"60");
    EXPECT_EQ(Dword(Xcv(user, L"GetTransmissionRetryTimeout", nullptr, 4)), 60000u);
    EXPECT_EQ(XcvStatus(user, L"ConfigurePortCommandOK", L"abc"), 0u);
    EXPECT_EQ(RegistryRetryText(), L"abc");
    EXPECT_EQ(Dword(Xcv(user, L"GetTransmissionRetryTimeout", nullptr, 4)), 0u);
    EXPECT_EQ(Xcv(user, L"GetTransmissionRetryTimeout", nullptr, 3).status,
              DWORD{ERROR_INSUFFICIENT_BUFFER});
    ClosePrinter(user);
    // The setting outlives the loaded monitor.
    HANDLE again = OpenXcv(false);
    EXPECT_EQ(RegistryRetryText(), L"abc");
    EXPECT_EQ(XcvStatus(again, L"ConfigurePortCommandOK", L"30"), 0u);
    ClosePrinter(again);
    HANDLE third = OpenXcv(false);
    EXPECT_EQ(Dword(Xcv(third, L"GetTransmissionRetryTimeout", nullptr, 4)), 30000u);
    ClosePrinter(third);
}

// The spooler runs the monitor in the calling process and loads it again for every
// EnumPortsW, also for the one that PortExistsInSpooler makes from inside the monitor: the
// running copy must stay loaded and keep its state. (This process registered the monitor,
// and Wine's AddMonitorW keeps it loaded here; see the fresh process below.)
TEST_F(XcvThroughSpooler, NestedEnumerationKeepsTheRunningCopy) {
    HANDLE admin = OpenXcv(true);
    ASSERT_NE(admin, nullptr);
    HMODULE loaded = GetModuleHandleW(L"PRNLINK.DLL");
    ASSERT_NE(loaded, nullptr);
    EXPECT_EQ(XcvStatus(admin, L"AddPort", L"Kept"), 0u);
    // Listed after the port is made, so that its zero address is not taken first by a
    // port made for the record.
    WriteDatabase({ZeroAddress("Zero")});
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(Dword(Xcv(admin, L"PortExists", L"Kept", 4)), 1u);
    }
    EXPECT_EQ(GetModuleHandleW(L"PRNLINK.DLL"), loaded);
    EXPECT_TRUE(SpoolerHas(L"Kept"));
    EXPECT_EQ(XcvStatus(admin, L"DeletePort", L"Kept"), 0u);
    ClosePrinter(admin);
}

// In a process that has not registered the monitor, only the spooler's own references
// keep it: the Xcv handle holds it, the nested enumerations come and go, and closing the
// handle unloads it (Shutdown, FreeLibrary) at the next enumeration.
TEST_F(XcvThroughSpooler, FreshProcessHoldsTheMonitorOnlyWhileTheXcvHandleIsOpen) {
    wchar_t program[MAX_PATH];
    GetModuleFileNameW(nullptr, program, MAX_PATH);
    std::wstring command = std::wstring(L"\"") + program +
                           L"\" --gtest_filter=XcvFreshProcess.* --gtest_also_run_disabled_tests";
    STARTUPINFOW startup = {};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION process = {};
    SetEnvironmentVariableW(L"PRNLINK_XCV_FRESH_PROCESS", L"1");
    ASSERT_TRUE(CreateProcessW(nullptr, &command[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                               &startup, &process));
    SetEnvironmentVariableW(L"PRNLINK_XCV_FRESH_PROCESS", nullptr);
    ASSERT_EQ(WaitForSingleObject(process.hProcess, 60000), WAIT_OBJECT_0);
    DWORD exitCode = 99;
    GetExitCodeProcess(process.hProcess, &exitCode);
    EXPECT_EQ(exitCode, 0u) << "the fresh process's checks failed (its output is above)";
    CloseHandle(process.hProcess);
    CloseHandle(process.hThread);
}

// Runs only inside the process started above.
TEST(XcvFreshProcess, DISABLED_MonitorLifetime) {
    if (GetEnvironmentVariableW(L"PRNLINK_XCV_FRESH_PROCESS", nullptr, 0) == 0) {
        GTEST_SKIP() << "started by FreshProcessHoldsTheMonitorOnlyWhileTheXcvHandleIsOpen";
    }
    EXPECT_EQ(GetModuleHandleW(L"PRNLINK.DLL"), nullptr);
    HANDLE admin = OpenXcv(true);
    ASSERT_NE(admin, nullptr);
    HMODULE loaded = GetModuleHandleW(L"PRNLINK.DLL");
    ASSERT_NE(loaded, nullptr);
    EXPECT_EQ(XcvStatus(admin, L"AddPort", L"Fresh"), 0u);
    WriteDatabase({ZeroAddress("Zero")});
    EXPECT_EQ(Dword(Xcv(admin, L"PortExists", L"Fresh", 4)), 1u);
    EXPECT_EQ(GetModuleHandleW(L"PRNLINK.DLL"), loaded);
    EXPECT_TRUE(SpoolerHas(L"Fresh"));
    EXPECT_EQ(Dword(Xcv(admin, L"PortExists", L"Fresh", 4)), 1u);
    ClosePrinter(admin);
    // The next enumeration loads a new copy, whose port list knows only the database.
    std::vector<std::wstring> ports = SpoolerPorts();
    EXPECT_EQ(GetModuleHandleW(L"PRNLINK.DLL"), nullptr);
    bool fresh = false;
    bool zero = false;
    for (const auto& port : ports) {
        fresh = fresh || port == L"Fresh";
        zero = zero || port == L"Zero";
    }
    EXPECT_FALSE(fresh);
    EXPECT_TRUE(zero);
    WriteProfileStringW(L"QuillPorts", nullptr, nullptr);
}

// Threads enumerating through the spooler (spooler lock, then MonitorLock) while others
// add, test and delete ports by command (the spooler asked without MonitorLock).
struct Workload {
    HANDLE xcv;
    int rounds;
    int worker;
    DWORD failures;
};

DWORD WINAPI EnumerateLoop(LPVOID parameter) {
    auto* work = static_cast<Workload*>(parameter);
    for (int i = 0; i < work->rounds; ++i) {
        DWORD needed = 0;
        DWORD returned = 0;
        EnumPortsW(nullptr, 1, nullptr, 0, &needed, &returned);
    }
    return 0;
}

DWORD WINAPI CommandLoop(LPVOID parameter) {
    auto* work = static_cast<Workload*>(parameter);
    wchar_t name[32];
    swprintf(name, 32, L"Busy%d", work->worker);
    for (int i = 0; i < work->rounds; ++i) {
        DWORD needed = 0;
        DWORD status = 0;
        BYTE output[4];
        DWORD size = static_cast<DWORD>((wcslen(name) + 1) * 2);
        if (!XcvDataW(work->xcv, L"AddPort", reinterpret_cast<BYTE*>(name), size, nullptr, 0,
                      &needed, &status) ||
            (status != 0 && status != ERROR_ALREADY_EXISTS)) {
            work->failures++;
        }
        XcvDataW(work->xcv, L"PortExists", reinterpret_cast<BYTE*>(name), size, output, 4, &needed,
                 &status);
        XcvDataW(work->xcv, L"DeletePort", reinterpret_cast<BYTE*>(name), size, nullptr, 0, &needed,
                 &status);
    }
    return 0;
}

TEST_F(XcvThroughSpooler, SpoolerEnumerationAndCommandsNeverDeadlock) {
    HANDLE admin = OpenXcv(true);
    ASSERT_NE(admin, nullptr);
    WriteDatabase({OfficeEntry()});
    Workload work[4] = {{admin, 40, 0, 0}, {admin, 40, 1, 0}, {admin, 40, 2, 0}, {admin, 40, 3, 0}};
    HANDLE threads[4];
    threads[0] = CreateThread(nullptr, 0, EnumerateLoop, &work[0], 0, nullptr);
    threads[1] = CreateThread(nullptr, 0, EnumerateLoop, &work[1], 0, nullptr);
    threads[2] = CreateThread(nullptr, 0, CommandLoop, &work[2], 0, nullptr);
    threads[3] = CreateThread(nullptr, 0, CommandLoop, &work[3], 0, nullptr);
    DWORD waited = WaitForMultipleObjects(4, threads, TRUE, 60000);
    if (waited == WAIT_TIMEOUT) {
        // A deadlock: report it and end the program, whose threads cannot be ended.
        ADD_FAILURE() << "threads still blocked after 60 s";
        fflush(stdout);
        TerminateProcess(GetCurrentProcess(), 3);
    }
    EXPECT_EQ(work[2].failures + work[3].failures, 0u);
    for (HANDLE thread : threads) {
        CloseHandle(thread);
    }
    EXPECT_TRUE(SpoolerHas(L"Office"));
    ClosePrinter(admin);
}

} // namespace
