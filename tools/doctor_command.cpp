// prnlink doctor: what must hold for the monitor to print, checked one line at a time,
// each with a verdict and, when it fails, what to do.

#include "command_support.h"
#include "command_table.h"

#include "ansi_text.h"
#include "console.h"
#include "image_machine.h"
#include "spooler_registration.h"
#include "win32_error_names.h"

#include "devicedb/device_database.h"
#include "devicedb/device_database_edit.h"
#include "devicedb/device_record.h"

#include <windows.h>

#include "job/device_id.h"
#include "ports/retry_timeout_range.h"

#include <cstring>
#include <string>
#include <vector>

namespace prnlink {

namespace {

constexpr double kDeviceIdWaitSeconds = 10.0;
const wchar_t kInstallKey[] = L"SOFTWARE\\Corvane Corporation\\Orvendel\\1.0";
const char* const kStackOperations[5] = {"QORL_Register", "QORL_Unregister", "QORL_Connect",
                                         "QORL_Disconnect", "QORL_SendData"};

struct Verdict {
    bool passed;
    std::string detail; // what was found
    std::string advice; // on failure: what to do
};

Verdict Pass(const std::string& detail) {
    return {true, detail, std::string()};
}

Verdict Failed(const std::string& detail, const std::string& advice) {
    return {false, detail, advice};
}

// What the checks find out and share.
struct Findings {
    std::wstring libraryPath;              // the PRNLINK.DLL this program would load
    std::vector<std::wstring> recordPorts; // the port name of each well-formed record
    std::wstring monitorName;              // the registered monitor that uses PRNLINK.DLL
    bool registered = false;
};

bool ReadString(HKEY root, const wchar_t* path, const wchar_t* value, std::wstring* text,
                LONG* status) {
    HKEY key = nullptr;
    *status = RegOpenKeyExW(root, path, 0, KEY_QUERY_VALUE, &key);
    if (*status != ERROR_SUCCESS) {
        return false;
    }
    wchar_t buffer[512] = {};
    DWORD size = sizeof(buffer) - sizeof(wchar_t);
    DWORD type = 0;
    *status = RegQueryValueExW(key, value, nullptr, &type, reinterpret_cast<BYTE*>(buffer), &size);
    RegCloseKey(key);
    if (*status != ERROR_SUCCESS) {
        return false;
    }
    if (type != REG_SZ && type != REG_EXPAND_SZ) {
        *status = ERROR_INVALID_DATATYPE;
        return false;
    }
    *text = buffer;
    return true;
}

// The directory the spooler loads its monitors from. A 32-bit program on 64-bit Windows sees
// SysWOW64 under the name System32; Sysnative is its name for the real one.
std::wstring SpoolerSystemDirectory() {
    wchar_t directory[MAX_PATH] = {};
    if (!InstallsForSpooler(THIS_PROGRAM_MACHINE, WindowsIs64Bit())) {
        GetWindowsDirectoryW(directory, MAX_PATH);
        return std::wstring(directory) + L"\\Sysnative";
    }
    GetSystemDirectoryW(directory, MAX_PATH);
    return directory;
}

// The spooler loads only a monitor of its own machine: the installed PRNLINK.DLL, or before
// an installation the one that prnlink install would copy.
Verdict CheckLibraryArchitecture(Findings* findings) {
    const ImageMachine spooler = SpoolerMachine(WindowsIs64Bit());
    const std::string spoolerName = ImageMachineName(spooler);
    const std::wstring directory = SpoolerSystemDirectory();
    const std::wstring installed = directory + L"\\PRNLINK.DLL";
    const bool isInstalled = FileExists(installed);
    const std::wstring path = isInstalled ? installed : findings->libraryPath;
    if (!isInstalled && !FileExists(path)) {
        return Failed("neither " + Narrow(installed) + " nor " + Narrow(path) + " exists",
                      "put the " + spoolerName + " PRNLINK.DLL beside the " + spoolerName +
                          " prnlink.exe and run prnlink install");
    }
    ImageMachine machine = ImageMachine::NOT_AN_IMAGE;
    DWORD error = 0;
    if (!ReadFileMachine(path, &machine, &error)) {
        return Failed("cannot read " + Narrow(path) + ": " + DescribeWin32Error(error),
                      "give this account read access to it");
    }
    if (machine == spooler) {
        return Pass(Narrow(path) + " and the spooler of this Windows are " + spoolerName);
    }
    const std::string found = machine == ImageMachine::NOT_AN_IMAGE
                                  ? " is not a Windows library (it has no PE headers)"
                                  : std::string(" is ") + ImageMachineName(machine) +
                                        "; the spooler of this Windows is " + spoolerName;
    return Failed(Narrow(path) + found,
                  isInstalled ? "put the " + spoolerName + " PRNLINK.DLL in its place with the " +
                                    spoolerName + " Swapwell.exe, then restart Windows"
                              : "install the " + spoolerName + " PRNLINK.DLL with the " +
                                    spoolerName + " prnlink.exe");
}

Verdict CheckStackProcess(Findings*) {
    if (StackProcessRunning()) {
        return Pass("Tarnwick.exe runs");
    }
    return Failed("Tarnwick.exe is not running",
                  "start the Bluetooth stack (Tarnwick.exe); the monitor reaches no printer "
                  "without it");
}

Verdict CheckInstallDirectory(Findings*) {
    std::wstring directory;
    LONG status = 0;
    std::string where = "HKLM\\" + Narrow(kInstallKey);
    if (!ReadString(HKEY_LOCAL_MACHINE, kInstallKey, L"InstallDir", &directory, &status)) {
        return Failed("no \"InstallDir\" under " + where + " (" +
                          DescribeWin32Error(static_cast<DWORD>(status)) + ")",
                      "reinstall the Bluetooth stack, which records its directory there");
    }
    return Pass("\"InstallDir\" is " + Narrow(directory));
}

Verdict CheckStackLibrary(Findings*) {
    // Loaded by name, as the monitor loads it.
    SetLastError(0);
    HMODULE library = LoadLibraryA("QORLIB.DLL");
    if (library == nullptr) {
        return Failed("QORLIB.DLL does not load: " + DescribeWin32Error(GetLastError()),
                      "put the Bluetooth stack's QORLIB.DLL on the system's search path "
                      "(reinstall the stack)");
    }
    wchar_t path[MAX_PATH] = {};
    GetModuleFileNameW(library, path, MAX_PATH);
    std::string missing;
    for (const char* operation : kStackOperations) {
        if (GetProcAddress(library, operation) == nullptr) {
            missing += (missing.empty() ? "" : ", ") + std::string(operation);
        }
    }
    FreeLibrary(library);
    if (!missing.empty()) {
        return Failed(Narrow(path) + " lacks " + missing,
                      "this is not the stack's library: reinstall the Bluetooth stack");
    }
    return Pass(Narrow(path) + " loads with its five operations");
}

Verdict CheckDeviceDatabase(Findings* findings) {
    DeviceDatabase database;
    std::string path = Narrow(database.path);
    DeviceFileImage image = {nullptr, 0};
    BOOL missing = FALSE;
    if (!ReadDeviceFile(database.path, &image, &missing)) {
        return Failed("cannot read " + path + ": " + DescribeWin32Error(GetLastError()),
                      "give the spooler's account read access to the file, or close the "
                      "program that holds it");
    }
    if (missing) {
        return Failed(path + " does not exist",
                      "add each printer with prnlink devices add ADDRESS NAME");
    }
    DWORD count = DeviceRecordCount(image);
    std::string malformed;
    DWORD wellFormed = 0;
    for (DWORD i = 0; i < count; ++i) {
        DWORD length = 0;
        const uint8_t* bytes = DeviceRecordAt(image, i, &length);
        DeviceRecordProblem problem = CheckDeviceRecord(bytes, length);
        if (problem != DEVICE_RECORD_WELL_FORMED) {
            malformed += (malformed.empty() ? "" : "; ") + std::string("record ") +
                         std::to_string(i + 1) + ": " + DescribeDeviceRecordProblem(problem);
            continue;
        }
        ++wellFormed;
        DeviceRecord record;
        ParseDeviceRecord(bytes, &record);
        char name[DEVICE_NAME_FIELD_SIZE];
        memcpy(name, record.name, sizeof(name));
        TrimDeviceName(name);
        std::wstring port = Widen(name);
        for (wchar_t& c : port) {
            c = c == L',' ? L' ' : c;
        }
        findings->recordPorts.push_back(port);
    }
    FreeDeviceFile(&image);
    std::string summary = path + " holds " + std::to_string(wellFormed) + " well-formed record" +
                          (wellFormed == 1 ? "" : "s");
    if (!malformed.empty()) {
        return Failed(summary + "; " + malformed,
                      "remove the malformed records (prnlink devices remove) and add the "
                      "printers again with prnlink devices add");
    }
    if (count == 0) {
        return Failed(path + " lists no printers",
                      "add each printer with prnlink devices add ADDRESS NAME");
    }
    return Pass(summary);
}

Verdict CheckRegistration(Findings* findings) {
    std::vector<RegisteredMonitor> monitors;
    DWORD error = 0;
    if (!RegisteredMonitors(&monitors, &error)) {
        return Failed("the spooler does not list its monitors: " + DescribeWin32Error(error),
                      "start the print spooler");
    }
    for (const RegisteredMonitor& monitor : monitors) {
        if (lstrcmpiW(monitor.dllName.c_str(), L"PRNLINK.DLL") == 0) {
            findings->registered = true;
            findings->monitorName = monitor.name;
            return Pass("\"" + Narrow(monitor.name) + "\" (PRNLINK.DLL) is registered");
        }
    }
    return Failed("no monitor of the spooler uses PRNLINK.DLL", "run prnlink install");
}

Verdict CheckSpoolerPorts(Findings* findings) {
    if (!findings->registered) {
        return Failed("the spooler lists none of the monitor's ports",
                      "install the monitor first (prnlink install)");
    }
    std::vector<std::wstring> listed;
    DWORD error = 0;
    if (!SpoolerPortNames(&listed, &error)) {
        return Failed("EnumPortsW failed: " + DescribeWin32Error(error),
                      "restart the print spooler");
    }
    std::string missing;
    for (const std::wstring& port : findings->recordPorts) {
        bool found = false;
        for (const std::wstring& name : listed) {
            found = found || lstrcmpiW(name.c_str(), port.c_str()) == 0;
        }
        if (!found) {
            missing += (missing.empty() ? "\"" : ", \"") + Narrow(port) + "\"";
        }
    }
    if (!missing.empty()) {
        return Failed("the spooler does not list " + missing,
                      "restart the print spooler so that it loads the monitor afresh");
    }
    return Pass("the spooler lists " + std::to_string(findings->recordPorts.size()) + " port" +
                (findings->recordPorts.size() == 1 ? "" : "s") + " of the monitor");
}

Verdict CheckRetryTimeout(Findings* findings) {
    std::wstring name = findings->registered ? findings->monitorName : kMonitorName;
    std::wstring key = L"System\\CurrentControlSet\\Control\\Print\\Monitors\\" + name;
    std::wstring text;
    LONG status = 0;
    if (!ReadString(HKEY_LOCAL_MACHINE, key.c_str(), L"TransmissionRetryTimeout", &text, &status)) {
        if (status == ERROR_FILE_NOT_FOUND) {
            return Pass("45 s (the default; no \"TransmissionRetryTimeout\" set)");
        }
        return Failed("\"TransmissionRetryTimeout\" under HKLM\\" + Narrow(key) +
                          " cannot be read: " + DescribeWin32Error(static_cast<DWORD>(status)),
                      "set it with prnlink timeout set SECONDS");
    }
    bool digits = !text.empty() && text.size() <= 7;
    unsigned long seconds = 0;
    for (wchar_t c : text) {
        digits = digits && c >= L'0' && c <= L'9';
        seconds = seconds * 10 + static_cast<unsigned long>(c - L'0');
    }
    if (!digits || seconds < RETRY_TIMEOUT_MIN_SECONDS || seconds > RETRY_TIMEOUT_MAX_SECONDS) {
        return Failed("\"TransmissionRetryTimeout\" is \"" + Narrow(text) +
                          "\", not a number of seconds from 1 to 4294967: a write gives up "
                          "at its first wait for credit",
                      "set it with prnlink timeout set SECONDS (45 is the default)");
    }
    return Pass(std::to_string(seconds) + " s");
}

struct Check {
    const char* name;
    Verdict (*run)(Findings* findings);
};

const Check kChecks[] = {
    {"library architecture", CheckLibraryArchitecture},
    {"stack process", CheckStackProcess},
    {"install directory", CheckInstallDirectory},
    {"Bluetooth library", CheckStackLibrary},
    {"device database", CheckDeviceDatabase},
    {"spooler registration", CheckRegistration},
    {"spooler ports", CheckSpoolerPorts},
    {"retry time-out", CheckRetryTimeout},
};

bool Report(const char* name, const Verdict& verdict) {
    std::string line =
        std::string(verdict.passed ? "ok    " : "FAIL  ") + name + ": " + verdict.detail;
    if (!verdict.passed) {
        line += "\n      to do: " + verdict.advice;
    }
    PrintLine(line);
    return verdict.passed;
}

// The printer on PORT: it connects and reports its line status (as before a document),
// and it sends its device ID.
bool CheckPrinter(const Options& options, const std::string& name) {
    PortSession session;
    if (!session.Open(options, name)) {
        return Report("printer connection",
                      Failed("cannot open port \"" + name + "\"", "see the message above"));
    }
    const Monitor2Table* table = Monitor();
    HANDLE port = session.port();
    LineStatus status = AskLineStatus(port, name, kDefaultPrinterName);
    bool ok = true;
    if (status.kind == LineStatus::UNREACHABLE) {
        bool stack = StackProcessRunning();
        Report(
            "printer connection",
            Failed(name + " does not connect: " + status.text +
                       (stack ? "; the printer does not answer" : "; Tarnwick.exe is not running"),
                   stack ? "switch the printer on and bring it within range, and check its "
                           "address (prnlink devices list)"
                         : "start the Bluetooth stack (Tarnwick.exe)"));
        return false;
    }
    Report("printer connection", Pass(name + " connects"));
    if (status.kind == LineStatus::READY) {
        ok = Report("printer status", Pass(status.text));
    } else {
        ok = Report("printer status",
                    Failed(status.text, "attend to the printer (paper, power, online "
                                        "button), then print again"));
    }
    DWORD code = 0;
    std::vector<char> output(4096, 0);
    DWORD returned = 0;
    double deadline = Seconds() + kDeviceIdWaitSeconds;
    BOOL answered = FALSE;
    for (;;) {
        returned = 0;
        SetLastError(0);
        answered = table->pfnGetPrinterDataFromPort(
            port, IOCTL_PAR_QUERY_DEVICE_ID, nullptr, nullptr, 0,
            reinterpret_cast<LPWSTR>(output.data()), static_cast<DWORD>(output.size()), &returned);
        code = GetLastError();
        if (answered || code != ERROR_IO_PENDING || Seconds() >= deadline) {
            break;
        }
        Sleep(100);
    }
    if (answered && returned > 0) {
        size_t length = returned <= output.size() ? returned : output.size();
        std::string id(output.data(), strnlen(output.data(), length));
        ok = Report("printer device ID", Pass(std::to_string(id.size()) + " bytes")) && ok;
    } else {
        ok = Report("printer device ID",
                    Failed("no device ID: " + DescribeWin32Error(code),
                           "the printer may not support HCRP's device ID request; printing "
                           "can still work")) &&
             ok;
    }
    return ok;
}

} // namespace

int CommandDoctor(const Options& options) {
    if (options.args.size() > 2) {
        return Usage("doctor", "doctor takes at most one port name");
    }
    if (options.args.size() == 2) {
        // A port that is not the monitor's is refused before any check runs.
        PortSession session;
        if (!session.Open(options, options.args[1])) {
            return session.FailureExitCode();
        }
    }
    Findings findings;
    findings.libraryPath = options.dllPath.empty() ? DefaultDllPath() : options.dllPath;
    bool ok = true;
    for (const Check& check : kChecks) {
        ok = Report(check.name, check.run(&findings)) && ok;
    }
    if (options.args.size() == 2) {
        ok = CheckPrinter(options, options.args[1]) && ok;
    }
    PrintLine(ok ? "all checks passed" : "some checks failed");
    return ok ? EXIT_OK : EXIT_FAILED;
}

} // namespace prnlink
