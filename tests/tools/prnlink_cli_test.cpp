// prnlink.exe run as a user runs it: a separate process in the test prefix, with the
// simulated stack's printers named by a configuration file, HCRPDB.txt listing them, and
// Tarnwick.exe running or not. Checks what it prints and its exit codes.

#include "support/hcrpdb_writer.h"
#include "support/synthetic_image.h"

#include <gtest/gtest.h>

#include <windows.h>
#include <winspool.h>

#include <cstdio>
#include <cwchar>
#include <fstream>
#include <functional>
#include <sstream>
#include <string>
#include <vector>

namespace {

struct RunResult {
    DWORD exitCode = 0xFFFFFFFF;
    std::string out;
    std::string err;
};

const char kTestDirectory[] = "C:\\prnlink-cli-test";
const char kConfigPath[] = "C:\\prnlink-cli-test\\printers.conf";
const char kSinkDirectory[] = "C:\\prnlink-cli-test\\received";

std::string ReadWholeFile(const std::string& path) {
    std::ifstream file(path, std::ios::binary);
    std::ostringstream text;
    text << file.rdbuf();
    return text.str();
}

bool WriteWholeFile(const std::string& path, const std::string& bytes) {
    std::ofstream file(path, std::ios::binary | std::ios::trunc);
    file << bytes;
    return static_cast<bool>(file);
}

// prnlink.exe started with the given argument text; standard output and error are
// collected through files. program is the executable (default: the one beside this test).
class PrnlinkProcess {
  public:
    explicit PrnlinkProcess(const std::string& arguments,
                            const std::string& program = "prnlink.exe") {
        outPath_ = std::string(kTestDirectory) + "\\out.txt";
        errPath_ = std::string(kTestDirectory) + "\\err.txt";
        SECURITY_ATTRIBUTES inherit = {sizeof(inherit), nullptr, TRUE};
        out_ = CreateFileA(outPath_.c_str(), GENERIC_WRITE, FILE_SHARE_READ, &inherit,
                           CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
        err_ = CreateFileA(errPath_.c_str(), GENERIC_WRITE, FILE_SHARE_READ, &inherit,
                           CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
        STARTUPINFOA startup = {};
        startup.cb = sizeof(startup);
        startup.dwFlags = STARTF_USESTDHANDLES;
        startup.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
        startup.hStdOutput = out_;
        startup.hStdError = err_;
        std::string command = "\"" + program + "\" " + arguments;
        // A program given by its path runs in its own directory, so that the libraries it
        // loads by name are looked for there and not in this test's directory.
        size_t slash = program.find_last_of('\\');
        std::string directory =
            slash == std::string::npos ? std::string() : program.substr(0, slash);
        started_ = CreateProcessA(nullptr, &command[0], nullptr, nullptr, TRUE, 0, nullptr,
                                  directory.empty() ? nullptr : directory.c_str(), &startup,
                                  &process_) != FALSE;
        startError_ = started_ ? 0 : GetLastError();
    }
    // Waits at most 90 s for the end.
    RunResult Finish() {
        RunResult run;
        // A run that never started or never ended says so, rather than showing only as an
        // exit code of -1 with no output.
        if (!started_) {
            ADD_FAILURE() << "CreateProcess failed, error " << startError_;
        }
        if (started_) {
            const DWORD waited = WaitForSingleObject(process_.hProcess, 90000);
            if (waited != WAIT_OBJECT_0) {
                ADD_FAILURE() << "prnlink.exe did not end: wait result " << waited << ", error "
                              << GetLastError();
                TerminateProcess(process_.hProcess, 99);
                WaitForSingleObject(process_.hProcess, 5000);
            }
            if (!GetExitCodeProcess(process_.hProcess, &run.exitCode)) {
                ADD_FAILURE() << "no exit code, error " << GetLastError();
            }
            CloseHandle(process_.hThread);
            CloseHandle(process_.hProcess);
            started_ = false;
        }
        CloseHandle(out_);
        CloseHandle(err_);
        run.out = ReadWholeFile(outPath_);
        run.err = ReadWholeFile(errPath_);
        return run;
    }

  private:
    std::string outPath_;
    std::string errPath_;
    HANDLE out_;
    HANDLE err_;
    PROCESS_INFORMATION process_ = {};
    bool started_ = false;
    DWORD startError_ = 0;
};

// Runs prnlink.exe (beside this program) with the given argument text, waiting at most
// 90 s.
RunResult RunPrnlink(const std::string& arguments, const std::string& program = "prnlink.exe") {
    return PrnlinkProcess(arguments, program).Finish();
}

::testing::AssertionResult Contains(const std::string& text, const std::string& part) {
    if (text.find(part) != std::string::npos) {
        return ::testing::AssertionSuccess();
    }
    return ::testing::AssertionFailure() << "\"" << part << "\" not in:\n" << text;
}

// The simulated stack process. Tarnwick.exe stops when its named event is signalled.
class StackProcess {
  public:
    bool Start() {
        STARTUPINFOA startup = {};
        startup.cb = sizeof(startup);
        std::string command = "Tarnwick.exe";
        if (!CreateProcessA(nullptr, &command[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                            &startup, &process_)) {
            return false;
        }
        // Wait until it is listed among the processes (it creates its event first).
        for (int i = 0; i < 50; ++i) {
            HANDLE event = OpenEventW(EVENT_MODIFY_STATE, FALSE, L"TarnwickStackStop");
            if (event != nullptr) {
                CloseHandle(event);
                return true;
            }
            Sleep(100);
        }
        return true;
    }
    void Stop() {
        if (process_.hProcess == nullptr) {
            return;
        }
        HANDLE event = OpenEventW(EVENT_MODIFY_STATE, FALSE, L"TarnwickStackStop");
        if (event != nullptr) {
            SetEvent(event);
        }
        if (WaitForSingleObject(process_.hProcess, 5000) != WAIT_OBJECT_0) {
            TerminateProcess(process_.hProcess, 1);
            WaitForSingleObject(process_.hProcess, 5000);
        }
        if (event != nullptr) {
            ResetEvent(event);
            CloseHandle(event);
        }
        CloseHandle(process_.hThread);
        CloseHandle(process_.hProcess);
        process_ = PROCESS_INFORMATION{};
    }
    ~StackProcess() { Stop(); }

  private:
    PROCESS_INFORMATION process_ = {};
};

std::string AddressText(const testsupport::DeviceEntry& entry) {
    char text[24];
    std::snprintf(text, sizeof(text), "%02x:%02x:%02x:%02x:%02x:%02x", entry.address[0],
                  entry.address[1], entry.address[2], entry.address[3], entry.address[4],
                  entry.address[5]);
    return text;
}

std::string SinkFileOf(const testsupport::DeviceEntry& entry, int job) {
    char text[64];
    std::snprintf(text, sizeof(text), "%s\\%02x%02x%02x%02x%02x%02x-%d.prn", kSinkDirectory,
                  entry.address[0], entry.address[1], entry.address[2], entry.address[3],
                  entry.address[4], entry.address[5], job);
    return text;
}

// Printers of the simulated stack, one per HCRPDB.txt record:
//   Ready      healthy, with a device ID
//   Off        line status 0x38 (not powered on)
//   Paper      out of paper from the start
//   Offline    deselected
//   Runs Out   runs out of paper after 20000 bytes
//   Absent     listed in HCRPDB.txt but not known to the stack: out of range
class PrnlinkCli : public ::testing::Test {
  protected:
    static void SetUpTestSuite() {
        CreateDirectoryA(kTestDirectory, nullptr);
        CreateDirectoryA(kSinkDirectory, nullptr);
        entries_ = {testsupport::MakeEntry(1, "Ready"),    testsupport::MakeEntry(2, "Off"),
                    testsupport::MakeEntry(3, "Paper"),    testsupport::MakeEntry(4, "Offline"),
                    testsupport::MakeEntry(5, "Runs Out"), testsupport::MakeEntry(6, "Absent")};
        std::string config = std::string("[output]\nsinkdir = ") + kSinkDirectory + "\n";
        const char* extra[] = {
            "deviceid = MFG:Halden;MDL:LaserLine 2400 BT;CMD:PCL6,POSTSCRIPT;CLS:PRINTER;\n",
            "status = off\n",
            "status = paper-out\n",
            "status = offline\n",
            "paperOutAfter = 20000\nbuffer = 8192\n",
        };
        for (int i = 0; i < 5; ++i) {
            config += "[printer]\naddress = " + AddressText(entries_[i]) +
                      "\nname = " + entries_[i].name + "\n" + extra[i];
        }
        ASSERT_TRUE(WriteWholeFile(kConfigPath, config));
        SetEnvironmentVariableA("QORLIB_CONFIG", kConfigPath);
    }

    void SetUp() override {
        ASSERT_TRUE(testsupport::WriteDatabase(entries_));
        // A short retry time-out, so that a printer that grants no credit fails quickly.
        ASSERT_EQ(RunPrnlink("timeout set 1").exitCode, 0u);
    }

    static std::vector<testsupport::DeviceEntry> entries_;
};

std::vector<testsupport::DeviceEntry> PrnlinkCli::entries_;

TEST_F(PrnlinkCli, HelpForTheProgramAndEachCommand) {
    RunResult help = RunPrnlink("--help");
    EXPECT_EQ(help.exitCode, 0u);
    for (const char* command :
         {"ports", "status PORT", "device-id PORT", "print PORT FILE", "add-port NAME",
          "delete-port NAME", "timeout get", "--trace", "devices list | add ADDRESS NAME",
          "install [--name NAME]", "uninstall [--name NAME]", "doctor [PORT]", "--watch"}) {
        EXPECT_TRUE(Contains(help.out, command));
    }
    for (const char* command : {"ports", "status", "device-id", "print", "add-port", "delete-port",
                                "timeout", "devices", "install", "uninstall", "doctor"}) {
        RunResult one = RunPrnlink(std::string(command) + " --help");
        EXPECT_EQ(one.exitCode, 0u) << command;
        EXPECT_TRUE(Contains(one.out, std::string("usage: prnlink ") + command));
    }
    RunResult none = RunPrnlink("");
    EXPECT_EQ(none.exitCode, 2u);
    RunResult unknown = RunPrnlink("frobnicate");
    EXPECT_EQ(unknown.exitCode, 2u);
    EXPECT_TRUE(Contains(unknown.err, "unknown command \"frobnicate\""));
    RunResult missing = RunPrnlink("print Ready");
    EXPECT_EQ(missing.exitCode, 2u);
    EXPECT_TRUE(Contains(missing.err, "usage: prnlink print PORT FILE"));
}

TEST_F(PrnlinkCli, PortsListsTheDatabaseAndNothingWhenItIsEmpty) {
    RunResult run = RunPrnlink("ports");
    EXPECT_EQ(run.exitCode, 0u);
    EXPECT_TRUE(Contains(run.out, "Ready"));
    EXPECT_TRUE(Contains(run.out, "Runs Out"));
    EXPECT_TRUE(Contains(run.out, "Bluetooth Port"));
    EXPECT_TRUE(Contains(run.out, "Bluetooth Monitor"));
    EXPECT_TRUE(Contains(run.out, "6 ports"));
    ASSERT_TRUE(testsupport::WriteDatabase({}));
    RunResult empty = RunPrnlink("ports");
    EXPECT_EQ(empty.exitCode, 0u);
    EXPECT_TRUE(Contains(empty.out, "no ports"));
}

TEST_F(PrnlinkCli, StatusOfEachKindOfPrinter) {
    StackProcess stack;
    ASSERT_TRUE(stack.Start());
    struct Case {
        const char* port;
        DWORD exitCode;
        const char* shown;
    } cases[] = {
        {"Ready", 0, "Ready: ready"},
        {"Off", 3, "Off: Not Powered On"},
        {"Paper", 3, "Paper: paper out"},
        {"Offline", 3, "Offline: offline"},
    };
    for (const Case& c : cases) {
        RunResult run = RunPrnlink(std::string("status \"") + c.port + "\"");
        EXPECT_EQ(run.exitCode, c.exitCode) << c.port << "\n" << run.out << run.err;
        EXPECT_TRUE(Contains(run.out, c.shown));
    }
    // Listed in HCRPDB.txt, but no such printer answers.
    RunResult absent = RunPrnlink("status Absent");
    EXPECT_EQ(absent.exitCode, 1u);
    EXPECT_TRUE(Contains(absent.err, "ERROR_OPEN_FAILED (110)"));
    EXPECT_TRUE(Contains(absent.err, "does not answer"));
    // A mistyped port name is a bad command line.
    RunResult unknown = RunPrnlink("status Nowhere");
    EXPECT_EQ(unknown.exitCode, 2u);
    EXPECT_TRUE(Contains(unknown.err, "the monitor's ports: Ready, Off, Paper, Offline"));
    EXPECT_TRUE(Contains(unknown.err, "no port named \"Nowhere\""));
    EXPECT_TRUE(Contains(unknown.err, "ERROR_UNKNOWN_PORT (1796)"));
}

TEST_F(PrnlinkCli, StackNotRunning) {
    RunResult status = RunPrnlink("status Ready");
    EXPECT_EQ(status.exitCode, 1u);
    EXPECT_TRUE(Contains(status.err, "ERROR_OPEN_FAILED (110)"));
    EXPECT_TRUE(Contains(status.err, "Tarnwick.exe"));
    RunResult print = RunPrnlink(std::string("print Ready ") + kConfigPath);
    EXPECT_EQ(print.exitCode, 1u);
    EXPECT_TRUE(Contains(print.err, "StartDocPort on Ready failed"));
    EXPECT_TRUE(Contains(print.err, "Tarnwick.exe"));
    RunResult id = RunPrnlink("device-id Ready --wait 5");
    EXPECT_EQ(id.exitCode, 1u);
    EXPECT_TRUE(Contains(id.err, "Tarnwick.exe"));
    // The monitor's own debug lines say the same.
    RunResult traced = RunPrnlink("--trace status Ready");
    EXPECT_TRUE(Contains(traced.err, "LoadQORLIB ERROR Tarnwick is NOT RUNNING"));
}

TEST_F(PrnlinkCli, DeviceIdAndItsFields) {
    StackProcess stack;
    ASSERT_TRUE(stack.Start());
    RunResult run = RunPrnlink("device-id Ready");
    EXPECT_EQ(run.exitCode, 0u) << run.out << run.err;
    EXPECT_TRUE(Contains(run.out, "MFG:Halden;MDL:LaserLine 2400 BT;CMD:PCL6,POSTSCRIPT;"));
    EXPECT_TRUE(Contains(run.out, "MFG (manufacturer): Halden"));
    EXPECT_TRUE(Contains(run.out, "MDL (model): LaserLine 2400 BT"));
    EXPECT_TRUE(Contains(run.out, "CMD (command set): PCL6,POSTSCRIPT"));
    EXPECT_TRUE(Contains(run.out, "CLS (class): PRINTER"));
    RunResult absent = RunPrnlink("device-id Absent --wait 3");
    EXPECT_EQ(absent.exitCode, 1u);
    EXPECT_TRUE(Contains(absent.err, "no device ID within 3 s"));
}

TEST_F(PrnlinkCli, PrintDeliversTheFileByteForByte) {
    StackProcess stack;
    ASSERT_TRUE(stack.Start());
    std::string document;
    for (int i = 0; i < 3000; ++i) {
        document += "line " + std::to_string(i) + " of the test document\n";
    }
    std::string path = std::string(kTestDirectory) + "\\document.txt";
    ASSERT_TRUE(WriteWholeFile(path, document));
    DeleteFileA(SinkFileOf(entries_[0], 1).c_str());
    RunResult run = RunPrnlink("print Ready " + path);
    EXPECT_EQ(run.exitCode, 0u) << run.out << run.err;
    EXPECT_TRUE(Contains(run.out, "100%"));
    EXPECT_TRUE(Contains(run.out, "sent "));
    EXPECT_TRUE(Contains(run.out, "Ready: ready"));
    EXPECT_EQ(ReadWholeFile(SinkFileOf(entries_[0], 1)), document);

    RunResult missing = RunPrnlink(std::string("print Ready ") + kTestDirectory + "\\nothing.txt");
    EXPECT_EQ(missing.exitCode, 1u);
    EXPECT_TRUE(Contains(missing.err, "ERROR_FILE_NOT_FOUND (2)"));
}

TEST_F(PrnlinkCli, PrintFailuresSayWhy) {
    StackProcess stack;
    ASSERT_TRUE(stack.Start());
    std::string document(100000, 'x');
    std::string path = std::string(kTestDirectory) + "\\long.txt";
    ASSERT_TRUE(WriteWholeFile(path, document));
    // Out of paper before the job: the document does not start.
    RunResult paper = RunPrnlink("print Paper " + path);
    EXPECT_EQ(paper.exitCode, 1u);
    EXPECT_TRUE(Contains(paper.err, "not ready: paper out"));
    // Off: the same path, another status.
    RunResult off = RunPrnlink("print Off " + path);
    EXPECT_EQ(off.exitCode, 1u);
    EXPECT_TRUE(Contains(off.err, "not ready: Not Powered On"));
    // Out of paper mid-job: WritePort fails once the credit wait has timed out, and the
    // fresh status says why.
    RunResult runsOut = RunPrnlink("print \"Runs Out\" " + path);
    EXPECT_EQ(runsOut.exitCode, 1u) << runsOut.out << runsOut.err;
    EXPECT_TRUE(Contains(runsOut.err, "WritePort failed after"));
    EXPECT_TRUE(Contains(runsOut.err, "printer status: paper out"));
    EXPECT_TRUE(Contains(runsOut.err, "ERROR_TIMEOUT (1460)"));
    EXPECT_TRUE(Contains(runsOut.out, "Runs Out: paper out")); // shown as it happened
    RunResult absent = RunPrnlink("print Absent " + path);
    EXPECT_EQ(absent.exitCode, 1u);
    EXPECT_TRUE(Contains(absent.err, "ERROR_OPEN_FAILED (110)"));
}

TEST_F(PrnlinkCli, TimeoutAddPortAndDeletePortThroughXcv) {
    RunResult set = RunPrnlink("timeout set 30");
    EXPECT_EQ(set.exitCode, 0u);
    EXPECT_TRUE(Contains(set.out, "30 s (30000 ms)"));
    RunResult get = RunPrnlink("timeout get");
    EXPECT_EQ(get.exitCode, 0u);
    EXPECT_TRUE(Contains(get.out, "30 s (30000 ms)"));
    RunResult bad = RunPrnlink("timeout set 5000000");
    EXPECT_EQ(bad.exitCode, 2u);

    RunResult add = RunPrnlink("add-port 00:0a:95:00:00:09.1");
    EXPECT_EQ(add.exitCode, 0u) << add.err;
    RunResult again = RunPrnlink("add-port Ready");
    EXPECT_EQ(again.exitCode, 1u);
    EXPECT_TRUE(Contains(again.err, "ERROR_ALREADY_EXISTS (183)"));

    RunResult remove = RunPrnlink("delete-port Offline");
    EXPECT_EQ(remove.exitCode, 0u) << remove.err;
    EXPECT_TRUE(Contains(remove.out, "deleted port \"Offline\""));
    RunResult listed = RunPrnlink("ports");
    EXPECT_TRUE(Contains(listed.out, "5 ports"));
    EXPECT_FALSE(Contains(listed.out, "Offline"));
    RunResult gone = RunPrnlink("delete-port Offline");
    EXPECT_EQ(gone.exitCode, 1u);
    EXPECT_TRUE(Contains(gone.err, "ERROR_FILE_NOT_FOUND (2)"));
}

// ---- administration ----------------------------------------------------------------------

const char kAdminMonitor[] = "Prnlink CLI Test";

std::wstring SystemLibraryPath(const wchar_t* file = L"PRNLINK.DLL") {
    wchar_t system[MAX_PATH] = {};
    GetSystemDirectoryW(system, MAX_PATH);
    return std::wstring(system) + L"\\" + file;
}

bool FileExists(const std::wstring& path) {
    return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

// The spooler's monitors (name, library), asked the way an administrator's tools ask.
std::vector<std::pair<std::wstring, std::wstring>> SpoolerMonitors() {
    std::vector<std::pair<std::wstring, std::wstring>> monitors;
    DWORD needed = 0, count = 0;
    EnumMonitorsW(nullptr, 2, nullptr, 0, &needed, &count);
    std::vector<BYTE> buffer(needed + 1);
    if (EnumMonitorsW(nullptr, 2, buffer.data(), needed, &needed, &count)) {
        auto* entries = reinterpret_cast<MONITOR_INFO_2W*>(buffer.data());
        for (DWORD i = 0; i < count; ++i) {
            monitors.emplace_back(entries[i].pName,
                                  entries[i].pDLLName ? entries[i].pDLLName : L"");
        }
    }
    return monitors;
}

bool MonitorRegistered(const std::wstring& name) {
    for (const auto& monitor : SpoolerMonitors()) {
        if (monitor.first == name) {
            EXPECT_EQ(monitor.second, L"PRNLINK.DLL");
            return true;
        }
    }
    return false;
}

bool SpoolerListsPort(const std::wstring& port) {
    DWORD needed = 0, count = 0;
    EnumPortsW(nullptr, 1, nullptr, 0, &needed, &count);
    std::vector<BYTE> buffer(needed + 1);
    if (!EnumPortsW(nullptr, 1, buffer.data(), needed, &needed, &count)) {
        return false;
    }
    auto* entries = reinterpret_cast<PORT_INFO_1W*>(buffer.data());
    for (DWORD i = 0; i < count; ++i) {
        if (port == entries[i].pName) {
            return true;
        }
    }
    return false;
}

// A printer of Wine's spooler on one of the monitor's ports (wineps as its driver).
class SpoolerPrinter {
  public:
    explicit SpoolerPrinter(const wchar_t* port) {
        wchar_t system[MAX_PATH] = {};
        GetSystemDirectoryW(system, MAX_PATH);
        std::wstring driverFile = std::wstring(system) + L"\\wineps.drv";
        DRIVER_INFO_3W driver = {};
        driver.cVersion = 3;
        driver.pName = const_cast<wchar_t*>(L"Prnlink CLI Test Driver");
        driver.pDriverPath = &driverFile[0];
        driver.pDataFile = &driverFile[0];
        driver.pConfigFile = &driverFile[0];
        AddPrinterDriverExW(nullptr, 3, reinterpret_cast<LPBYTE>(&driver), APD_COPY_NEW_FILES);
        PRINTER_INFO_2W info = {};
        info.pPrinterName = const_cast<wchar_t*>(L"Prnlink CLI Test Printer");
        info.pPortName = const_cast<wchar_t*>(port);
        info.pDriverName = driver.pName;
        info.pPrintProcessor = const_cast<wchar_t*>(L"winprint");
        info.pDatatype = const_cast<wchar_t*>(L"RAW");
        printer_ = AddPrinterW(nullptr, 2, reinterpret_cast<LPBYTE>(&info));
    }
    bool added() const { return printer_ != nullptr; }
    void Delete() {
        if (printer_ != nullptr) {
            DeletePrinter(printer_);
            ClosePrinter(printer_);
            printer_ = nullptr;
        }
    }
    ~SpoolerPrinter() { Delete(); }

  private:
    HANDLE printer_ = nullptr;
};

TEST_F(PrnlinkCli, DevicesAddListAndRemoveThroughTheMonitorsRecords) {
    ASSERT_TRUE(testsupport::WriteDatabase({}));
    RunResult add = RunPrnlink("devices add 00:1b:dc:0f:10:01 \"Front Desk\"");
    EXPECT_EQ(add.exitCode, 0u) << add.err;
    EXPECT_TRUE(Contains(add.out, "added 00:1b:dc:0f:10:01 \"Front Desk\" (control PSM 0x1001, "
                                  "data PSM 0x1003) as record 1"));
    RunResult second = RunPrnlink("devices add 001BDC0F1002 Back --control-psm 0x1011 "
                                  "--data-psm 4115");
    EXPECT_EQ(second.exitCode, 0u) << second.err;
    // Exactly the records the discovery program writes, read back by the monitor itself.
    testsupport::DeviceEntry front = {
        {0x00, 0x1b, 0xdc, 0x0f, 0x10, 0x01}, "Front Desk", 0x1001, 0x1003, 0};
    testsupport::DeviceEntry back = {
        {0x00, 0x1b, 0xdc, 0x0f, 0x10, 0x02}, "Back", 0x1011, 0x1013, 0};
    std::string expected = testsupport::FormatRecord(front, true).replace(272, 2, "\r\n") +
                           testsupport::FormatRecord(back, true).replace(272, 2, "\r\n");
    EXPECT_EQ(testsupport::ReadDatabaseBytes(), expected);
    RunResult ports = RunPrnlink("ports");
    EXPECT_TRUE(Contains(ports.out, "Front Desk"));
    EXPECT_TRUE(Contains(ports.out, "2 ports"));
    RunResult list = RunPrnlink("devices list");
    EXPECT_EQ(list.exitCode, 0u);
    EXPECT_TRUE(Contains(list.out, "2    00:1b:dc:0f:10:02  Back        0x1011       0x1013"));
    EXPECT_TRUE(Contains(list.out, "2 printers in C:\\windows\\HCRPDB.txt"));

    // Refused: exit code 2 or 1 with a message naming the problem, and the file untouched.
    struct Refusal {
        const char* arguments;
        DWORD exitCode;
        const char* said;
    } refusals[] = {
        {"devices add 00:1b:dc:0f:10 X", 2, "ADDRESS \"00:1b:dc:0f:10\" is not a Bluetooth"},
        {"devices add 00:1b:dc:0f:10:03 \"Trailing \"", 2, "ends in a space"},
        {"devices add 00:1b:dc:0f:10:03 \"A,B\"", 2, "holds a comma"},
        {"devices add 00:1b:dc:0f:10:03 C --data-psm 0x1000", 2, "--data-psm \"0x1000\""},
        {"devices add 00:1b:dc:0f:10:03 C --control-psm 0x1003", 2, "different PSMs"},
        {"devices add 00:1b:dc:0f:10:03 C --data-psm", 2, "--data-psm needs a value"},
        {"devices add 00:1b:dc:0f:10:03", 2, "needs an address and a name"},
        {"devices frob", 2, "not \"frob\""},
        {"devices remove \"A,B\"", 2, "neither a device address"},
        {"devices add 001bdc0f1001 Other", 1, "record 1 already lists 00:1b:dc:0f:10:01"},
        {"devices add 00:1b:dc:0f:10:03 back", 1, "already has the name \"Back\""},
        {"devices remove Nobody", 1, "no printer named \"Nobody\""},
    };
    for (const Refusal& refusal : refusals) {
        RunResult run = RunPrnlink(refusal.arguments);
        EXPECT_EQ(run.exitCode, refusal.exitCode) << refusal.arguments;
        EXPECT_TRUE(Contains(run.err, refusal.said)) << refusal.arguments;
        EXPECT_EQ(testsupport::ReadDatabaseBytes(), expected) << refusal.arguments;
    }
    std::string name249(249, 'n');
    RunResult longName = RunPrnlink("devices add 00:1b:dc:0f:10:03 " + name249);
    EXPECT_EQ(longName.exitCode, 2u);
    EXPECT_TRUE(Contains(longName.err, "NAME is 249 bytes long"));

    RunResult byName = RunPrnlink("devices remove \"front desk\"");
    EXPECT_EQ(byName.exitCode, 0u) << byName.err;
    EXPECT_TRUE(Contains(byName.out, "removed record 1, 00:1b:dc:0f:10:01 \"Front Desk\""));
    RunResult byAddress = RunPrnlink("devices remove 00:1B:DC:0F:10:02");
    EXPECT_EQ(byAddress.exitCode, 0u) << byAddress.err;
    EXPECT_EQ(testsupport::ReadDatabaseBytes(), "");
    testsupport::RemoveDatabase();
    RunResult none = RunPrnlink("devices list");
    EXPECT_EQ(none.exitCode, 0u);
    EXPECT_TRUE(Contains(none.out, "does not exist"));
}

TEST_F(PrnlinkCli, InstallAndUninstallInWinesSpooler) {
    const std::wstring name = L"Prnlink CLI Test";
    const std::string nameOption = std::string(" --name \"") + kAdminMonitor + "\"";
    RunPrnlink("uninstall" + nameOption); // whatever an interrupted run left
    DeleteFileW(SystemLibraryPath().c_str());
    DeleteFileW(SystemLibraryPath(L"QUILLDLG.dll").c_str());
    ASSERT_FALSE(MonitorRegistered(name));
    ASSERT_FALSE(SpoolerListsPort(L"Ready"));

    // A library of the other architecture beside a copy of prnlink.exe, where the copy takes
    // it by default.
    const std::string otherDirectory = std::string(kTestDirectory) + "\\other-machine";
    const std::string otherLibrary = otherDirectory + "\\PRNLINK.DLL";
    CreateDirectoryA(otherDirectory.c_str(), nullptr);
    ASSERT_TRUE(CopyFileA("prnlink.exe", (otherDirectory + "\\prnlink.exe").c_str(), FALSE));
    ASSERT_TRUE(
        WriteWholeFile(otherLibrary, testsupport::SyntheticImage(testsupport::OTHER_MACHINE)));
    const std::string wrongMachine = std::string(": a ") + testsupport::OTHER_ARCHITECTURE +
                                     " library; this prnlink.exe is " +
                                     testsupport::THIS_ARCHITECTURE + " and loads only " +
                                     testsupport::THIS_ARCHITECTURE + " libraries";
    const std::string otherInstall = "--dll " + otherLibrary + " install";
    const std::string otherPorts = "--dll " + otherLibrary + " ports";
    const std::string otherRefused = "--dll " + otherLibrary + wrongMachine;

    // Refused before anything is touched.
    struct Refusal {
        const char* arguments;
        const char* said;
    } refusals[] = {
        {"install --name \"a\\b\"", "--name \"a\\b\""},
        {"install --name \"\"", "--name \"\""},
        {"--dll C:\\nowhere\\PRNLINK.DLL install", "--dll C:\\nowhere\\PRNLINK.DLL: no such file"},
        {"--dll C:\\windows\\system32\\kernel32.dll install", "not a port monitor library"},
        {otherInstall.c_str(), otherRefused.c_str()},
        {otherPorts.c_str(), otherRefused.c_str()},
        {"install extra", "not \"extra\""},
        {"uninstall --name", "--name needs a value"},
    };
    for (const Refusal& refusal : refusals) {
        RunResult run = RunPrnlink(refusal.arguments);
        EXPECT_EQ(run.exitCode, 2u) << refusal.arguments << run.err;
        EXPECT_TRUE(Contains(run.err, refusal.said)) << refusal.arguments;
        EXPECT_FALSE(FileExists(SystemLibraryPath())) << refusal.arguments;
    }
    // Taken from beside prnlink.exe, it is not a bad command line but still refused.
    RunResult besides = RunPrnlink("install" + nameOption, otherDirectory + "\\prnlink.exe");
    EXPECT_EQ(besides.exitCode, 1u) << besides.out << besides.err;
    EXPECT_TRUE(Contains(besides.err, otherLibrary + wrongMachine + "; put the " +
                                          testsupport::THIS_ARCHITECTURE +
                                          " PRNLINK.DLL beside prnlink.exe"));
    EXPECT_FALSE(FileExists(SystemLibraryPath()));
    EXPECT_FALSE(MonitorRegistered(name));

    RunResult install = RunPrnlink("install" + nameOption);
    EXPECT_EQ(install.exitCode, 0u) << install.out << install.err;
    EXPECT_TRUE(Contains(install.out, "registered the monitor \"Prnlink CLI Test\""));
    EXPECT_TRUE(Contains(install.out, "(the port dialogs)"));
    EXPECT_TRUE(FileExists(SystemLibraryPath()));
    EXPECT_TRUE(FileExists(SystemLibraryPath(L"QUILLDLG.dll")));
    EXPECT_TRUE(MonitorRegistered(name));
    EXPECT_TRUE(SpoolerListsPort(L"Ready"));
    RunResult again = RunPrnlink("install" + nameOption);
    EXPECT_EQ(again.exitCode, 0u);
    EXPECT_TRUE(Contains(again.out, "is already installed"));

    {
        // A printer on one of its ports keeps the monitor, and nothing changes.
        SpoolerPrinter printer(L"Ready");
        ASSERT_TRUE(printer.added()) << GetLastError();
        RunResult inUse = RunPrnlink("uninstall" + nameOption);
        EXPECT_EQ(inUse.exitCode, 1u);
        EXPECT_TRUE(Contains(inUse.err, "printer \"Prnlink CLI Test Printer\" prints to port "
                                        "\"Ready\""));
        EXPECT_TRUE(Contains(inUse.err, "printers still use its ports"));
        EXPECT_TRUE(MonitorRegistered(name));
        EXPECT_TRUE(FileExists(SystemLibraryPath()));
    }

    {
        // The library held open, as a spooler that loaded it holds it: the registration
        // goes, the file stays, and the message asks for a restart.
        HANDLE held = CreateFileW(SystemLibraryPath().c_str(), GENERIC_READ, FILE_SHARE_READ,
                                  nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
        ASSERT_NE(held, INVALID_HANDLE_VALUE);
        RunResult heldRun = RunPrnlink("uninstall" + nameOption);
        CloseHandle(held);
        EXPECT_EQ(heldRun.exitCode, 1u) << heldRun.out << heldRun.err;
        EXPECT_TRUE(Contains(heldRun.out, "removed the monitor \"Prnlink CLI Test\""));
        EXPECT_TRUE(Contains(heldRun.err, "Restart Windows, then run prnlink uninstall again"));
        EXPECT_FALSE(MonitorRegistered(name));
        EXPECT_TRUE(FileExists(SystemLibraryPath()));
    }
    EXPECT_FALSE(SpoolerListsPort(L"Ready"));
    RunResult rest = RunPrnlink("uninstall" + nameOption);
    EXPECT_EQ(rest.exitCode, 0u) << rest.err;
    EXPECT_TRUE(Contains(rest.out, "deleted C:\\windows\\system32\\PRNLINK.DLL"));
    EXPECT_FALSE(FileExists(SystemLibraryPath()));
    EXPECT_FALSE(FileExists(SystemLibraryPath(L"QUILLDLG.dll")));
    RunResult nothing = RunPrnlink("uninstall" + nameOption);
    EXPECT_EQ(nothing.exitCode, 0u);
    EXPECT_TRUE(Contains(nothing.out, "is not installed: nothing to do"));
}

void SetRegistryText(HKEY root, const std::wstring& path, const wchar_t* value,
                     const wchar_t* text) {
    HKEY key = nullptr;
    if (RegCreateKeyExW(root, path.c_str(), 0, nullptr, 0, KEY_SET_VALUE, nullptr, &key, nullptr) !=
        ERROR_SUCCESS) {
        return;
    }
    if (text != nullptr) {
        RegSetValueExW(key, value, 0, REG_SZ, reinterpret_cast<const BYTE*>(text),
                       static_cast<DWORD>((wcslen(text) + 1) * sizeof(wchar_t)));
    } else {
        RegDeleteValueW(key, value);
    }
    RegCloseKey(key);
}

const wchar_t kInstallKey[] = L"SOFTWARE\\Corvane Corporation\\Orvendel\\1.0";
const wchar_t kMonitorKey[] = L"System\\CurrentControlSet\\Control\\Print\\Monitors\\Prnlink";

// Every check of doctor passes on a machine set up as the README says, and each one fails
// once, alone, with its verdict and what to do.
TEST_F(PrnlinkCli, DoctorChecksEachThingOnceAndSaysWhatToDo) {
    StackProcess stack;
    ASSERT_TRUE(stack.Start());
    wchar_t directory[MAX_PATH] = {};
    GetCurrentDirectoryW(MAX_PATH, directory);
    SetRegistryText(HKEY_LOCAL_MACHINE, kInstallKey, L"InstallDir", directory);
    RunResult install = RunPrnlink("install");
    ASSERT_EQ(install.exitCode, 0u) << install.err;
    RunResult healthy = RunPrnlink("doctor Ready");
    EXPECT_EQ(healthy.exitCode, 0u) << healthy.out << healthy.err;
    // First, since the spooler loads no library of another architecture at all.
    const std::string architectureLine =
        std::string("ok    library architecture: C:\\windows\\system32\\PRNLINK.DLL and the "
                    "spooler of this Windows are ") +
        testsupport::THIS_ARCHITECTURE + "\r\n";
    EXPECT_EQ(healthy.out.substr(0, architectureLine.size()), architectureLine);
    for (const char* line :
         {"ok    stack process: Tarnwick.exe runs", "ok    install directory",
          "ok    Bluetooth library",
          "ok    device database: C:\\windows\\HCRPDB.txt holds 6 well-formed records",
          "ok    spooler registration: \"Prnlink\" (PRNLINK.DLL) is registered",
          "ok    spooler ports: the spooler lists 6 ports", "ok    retry time-out: 1 s",
          "ok    printer connection", "ok    printer status: ready", "ok    printer device ID",
          "all checks passed"}) {
        EXPECT_TRUE(Contains(healthy.out, line));
    }

    // Copies of prnlink.exe in directories of their own. Beside the first, a QORLIB.DLL that
    // is not the stack's library (a copy of the monitor): it lacks the five operations. Beside
    // the second, the stack's QORLIB.DLL but no PRNLINK.DLL, so that with the installed copy
    // moved away the spooler finds no library to load and lists none of the ports.
    const std::string lacking = std::string(kTestDirectory) + "\\lacking";
    const std::string unlisted = std::string(kTestDirectory) + "\\unlisted";
    CreateDirectoryA(lacking.c_str(), nullptr);
    CreateDirectoryA(unlisted.c_str(), nullptr);
    ASSERT_TRUE(CopyFileA("prnlink.exe", (lacking + "\\prnlink.exe").c_str(), FALSE));
    ASSERT_TRUE(CopyFileA("PRNLINK.DLL", (lacking + "\\QORLIB.DLL").c_str(), FALSE));
    ASSERT_TRUE(CopyFileA("prnlink.exe", (unlisted + "\\prnlink.exe").c_str(), FALSE));
    ASSERT_TRUE(CopyFileA("QORLIB.DLL", (unlisted + "\\QORLIB.DLL").c_str(), FALSE));
    std::wstring moved = SystemLibraryPath() + L".away";
    const std::string otherArchitecture =
        std::string("FAIL  library architecture: C:\\windows\\system32\\PRNLINK.DLL is ") +
        testsupport::OTHER_ARCHITECTURE + "; the spooler of this Windows is " +
        testsupport::THIS_ARCHITECTURE + "\r\n      to do: put the " +
        testsupport::THIS_ARCHITECTURE + " PRNLINK.DLL in its place with the " +
        testsupport::THIS_ARCHITECTURE + " Swapwell.exe, then restart Windows";
    const std::string noLibrary =
        "FAIL  library architecture: neither C:\\windows\\system32\\PRNLINK.DLL nor " + unlisted +
        "\\PRNLINK.DLL exists";

    // alsoSaid: the second failure of a break that fails two checks.
    struct Case {
        const char* check;
        std::function<void()> breakIt;
        std::function<void()> mendIt;
        const char* program;
        const char* arguments;
        const char* said;
        const char* alsoSaid = nullptr;
    } cases[] = {
        // Wine's spooler, in prnlink.exe's process, finds the PRNLINK.DLL beside it first and
        // still lists the ports.
        {"library architecture",
         [&] {
             MoveFileExW(SystemLibraryPath().c_str(), moved.c_str(), MOVEFILE_REPLACE_EXISTING);
             const std::wstring path = SystemLibraryPath(); // ASCII in the test prefix
             WriteWholeFile(std::string(path.begin(), path.end()),
                            testsupport::SyntheticImage(testsupport::OTHER_MACHINE));
         },
         [&] {
             MoveFileExW(moved.c_str(), SystemLibraryPath().c_str(), MOVEFILE_REPLACE_EXISTING);
         },
         "prnlink.exe", "doctor", otherArchitecture.c_str()},
        {"stack process", [&] { stack.Stop(); }, [&] { stack.Start(); }, "prnlink.exe", "doctor",
         "FAIL  stack process: Tarnwick.exe is not running"},
        {"install directory",
         [] { SetRegistryText(HKEY_LOCAL_MACHINE, kInstallKey, L"InstallDir", nullptr); },
         [&] { SetRegistryText(HKEY_LOCAL_MACHINE, kInstallKey, L"InstallDir", directory); },
         "prnlink.exe", "doctor", "FAIL  install directory: no \"InstallDir\" under"},
        {"Bluetooth library", [] {}, [] {}, "C:\\prnlink-cli-test\\lacking\\prnlink.exe", "doctor",
         "FAIL  Bluetooth library: C:\\prnlink-cli-test\\lacking\\QORLIB.DLL lacks QORL_Register, "
         "QORL_Unregister, QORL_Connect, QORL_Disconnect, QORL_SendData"},
        {"device database",
         [] { testsupport::WriteDatabaseBytes(testsupport::ReadDatabaseBytes() + "zz"); },
         [] { testsupport::WriteDatabase(entries_); }, "prnlink.exe", "doctor",
         "FAIL  device database: C:\\windows\\HCRPDB.txt holds 6 well-formed records; record 7: "
         "shorter than 274 bytes"},
        {"spooler registration", [] { RunPrnlink("uninstall"); }, [] { RunPrnlink("install"); },
         "prnlink.exe", "doctor",
         "FAIL  spooler registration: no monitor of the spooler uses "
         "PRNLINK.DLL",
         "FAIL  spooler ports: the spooler lists none of the monitor's ports"},
        {"spooler ports",
         [&] {
             MoveFileExW(SystemLibraryPath().c_str(), moved.c_str(), MOVEFILE_REPLACE_EXISTING);
         },
         [&] {
             MoveFileExW(moved.c_str(), SystemLibraryPath().c_str(), MOVEFILE_REPLACE_EXISTING);
         },
         "C:\\prnlink-cli-test\\unlisted\\prnlink.exe", "doctor",
         "FAIL  spooler ports: the spooler does not list \"Ready\"", noLibrary.c_str()},
        {"retry time-out",
         [] {
             SetRegistryText(HKEY_LOCAL_MACHINE, kMonitorKey, L"TransmissionRetryTimeout", L"abc");
         },
         [] {
             SetRegistryText(HKEY_LOCAL_MACHINE, kMonitorKey, L"TransmissionRetryTimeout", L"1");
         },
         "prnlink.exe", "doctor", "FAIL  retry time-out: \"TransmissionRetryTimeout\" is \"abc\""},
        {"printer", [] {}, [] {}, "prnlink.exe", "doctor Absent",
         "FAIL  printer connection: Absent does not connect: ERROR_OPEN_FAILED (110); the "
         "printer does not answer"},
    };
    for (const Case& c : cases) {
        c.breakIt();
        RunResult run = RunPrnlink(c.arguments, c.program);
        c.mendIt();
        EXPECT_EQ(run.exitCode, 1u) << c.check << "\n" << run.out << run.err;
        EXPECT_TRUE(Contains(run.out, c.said)) << c.check;
        EXPECT_TRUE(Contains(run.out, "      to do: ")) << c.check;
        EXPECT_TRUE(Contains(run.out, "some checks failed")) << c.check;
        // The one failure, and the one that goes with it: the ports of a monitor that is not
        // registered, the architecture of a library that is nowhere.
        if (c.alsoSaid != nullptr) {
            EXPECT_TRUE(Contains(run.out, c.alsoSaid)) << c.check;
        }
        size_t failures = 0;
        for (size_t at = run.out.find("FAIL  "); at != std::string::npos;
             at = run.out.find("FAIL  ", at + 1)) {
            ++failures;
        }
        EXPECT_EQ(failures, c.alsoSaid != nullptr ? 2u : 1u) << c.check << "\n" << run.out;
    }
    RunResult unknown = RunPrnlink("doctor Nowhere");
    EXPECT_EQ(unknown.exitCode, 2u);
    EXPECT_TRUE(Contains(unknown.err, "PORT: no port named \"Nowhere\""));
    RunResult extra = RunPrnlink("doctor Ready Off");
    EXPECT_EQ(extra.exitCode, 2u);
    RunPrnlink("uninstall");
    SetRegistryText(HKEY_LOCAL_MACHINE, kInstallKey, L"InstallDir", nullptr);
}

TEST_F(PrnlinkCli, StatusWatchPrintsAChangeOnlyWhenItHappens) {
    StackProcess stack;
    ASSERT_TRUE(stack.Start());
    RunResult steady = RunPrnlink("status Ready --watch --interval 0.2 --count 3");
    EXPECT_EQ(steady.exitCode, 0u) << steady.err;
    EXPECT_TRUE(Contains(steady.out, "  Ready: ready"));
    EXPECT_EQ(steady.out.find("Ready: ready"), steady.out.rfind("Ready: ready")) << steady.out;
    // "2026-12-09 02:40:01  Ready: ready": a date and a time first.
    ASSERT_GE(steady.out.size(), 21u);
    EXPECT_EQ(steady.out[4], '-');
    EXPECT_EQ(steady.out[13], ':');

    // The stack stops while the watch runs: one more line, saying why.
    PrnlinkProcess watch("status Ready --watch --interval 0.3 --count 12");
    Sleep(2000);
    stack.Stop();
    RunResult changed = watch.Finish();
    EXPECT_EQ(changed.exitCode, 0u) << changed.err;
    size_t ready = changed.out.find("Ready: ready");
    size_t gone = changed.out.find("Ready: cannot ask the printer");
    ASSERT_NE(ready, std::string::npos) << changed.out;
    ASSERT_NE(gone, std::string::npos) << changed.out;
    EXPECT_LT(ready, gone);
    EXPECT_TRUE(Contains(changed.out, "Tarnwick.exe"));

    for (const char* bad : {"status Ready --watch --interval 0", "status Ready --watch --count 0",
                            "status Ready --interval 2", "status Ready --watch --interval x"}) {
        RunResult run = RunPrnlink(bad);
        EXPECT_EQ(run.exitCode, 2u) << bad;
        EXPECT_TRUE(Contains(run.err, "usage: prnlink status PORT")) << bad;
    }
}

} // namespace
