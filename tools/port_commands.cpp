// The commands that list and query the monitor's ports and administer them through Xcv.

#include "command_support.h"
#include "command_table.h"

#include "admin_arguments.h"
#include "ansi_text.h"
#include "console.h"
#include "device_id_fields.h"
#include "win32_error_names.h"

#include <windows.h>

#include "job/device_id.h"
#include "ports/retry_timeout_range.h"

#include <cstdio>
#include <cstring>
#include <vector>

namespace prnlink {

namespace {

// Set by Ctrl+C (or Ctrl+Break) while a status watch runs; made once for the process.
HANDLE WatchStopEvent() {
    static HANDLE event = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    return event;
}

BOOL WINAPI StopWatching(DWORD) {
    SetEvent(WatchStopEvent());
    return TRUE;
}

std::string TimeStamp() {
    SYSTEMTIME now;
    GetLocalTime(&now);
    char text[32];
    std::snprintf(text, sizeof(text), "%04u-%02u-%02u %02u:%02u:%02u", now.wYear, now.wMonth,
                  now.wDay, now.wHour, now.wMinute, now.wSecond);
    return text;
}

// Polls the line status every intervalMs and prints a line, with the time, whenever it
// differs from the last one: until Ctrl+C, or after count polls when count is not 0.
int WatchStatus(HANDLE port, const std::string& name, const std::string& printer,
                uint32_t intervalMs, unsigned long count) {
    ResetEvent(WatchStopEvent());
    SetConsoleCtrlHandler(StopWatching, TRUE);
    std::string shown;
    for (unsigned long poll = 0; count == 0 || poll < count; ++poll) {
        if (poll > 0 && WaitForSingleObject(WatchStopEvent(), intervalMs) == WAIT_OBJECT_0) {
            break;
        }
        LineStatus status = AskLineStatus(port, name, printer);
        std::string text = status.text;
        if (status.kind == LineStatus::UNREACHABLE) {
            // Asked afresh each time: the stack may come and go while the watch runs.
            text = "cannot ask the printer: " + status.text + "; " +
                   (StackProcessRunning() ? "the printer does not answer (switched off or "
                                            "out of range?)"
                                          : "the Bluetooth stack is not running (Tarnwick.exe)");
        }
        if (text != shown) {
            PrintLine(TimeStamp() + "  " + name + ": " + text);
            shown = text;
        }
    }
    SetConsoleCtrlHandler(StopWatching, FALSE);
    return EXIT_OK;
}

int AddOrDeletePort(const Options& options, bool add) {
    const char* command = add ? "add-port" : "delete-port";
    if (options.args.size() != 2) {
        return Usage(command, std::string(command) + " needs one port name");
    }
    const std::string& name = options.args[1];
    MonitorSession session;
    if (!session.Open(options)) {
        return session.FailureExitCode();
    }
    // The port list as the spooler knows it: built from HCRPDB.txt.
    std::vector<std::wstring> names;
    DWORD error = 0;
    PortNames(&names, &error);
    std::wstring wide = Widen(name);
    DWORD needed = 0;
    DWORD result =
        XcvCommand(add ? std::wstring(kMonitorName) : wide, add ? L"AddPort" : L"DeletePort",
                   reinterpret_cast<const BYTE*>(wide.c_str()),
                   static_cast<DWORD>((wide.size() + 1) * sizeof(wchar_t)), nullptr, 0, &needed);
    if (result != ERROR_SUCCESS) {
        return Fail(std::string(command) + " \"" + name + "\": " + DescribeWin32Error(result));
    }
    PrintLine(std::string(add ? "added" : "deleted") + " port \"" + name + "\"");
    return EXIT_OK;
}

} // namespace

int CommandPorts(const Options& options) {
    if (options.args.size() != 1) {
        return Usage("ports", "ports takes no arguments");
    }
    MonitorSession session;
    if (!session.Open(options)) {
        return session.FailureExitCode();
    }
    std::vector<BYTE> buffer;
    DWORD count = 0;
    DWORD error = 0;
    if (!EnumeratePorts(2, &buffer, &count, &error)) {
        return Fail("EnumPorts failed: " + DescribeWin32Error(error));
    }
    if (count == 0) {
        wchar_t windows[MAX_PATH] = {};
        GetWindowsDirectoryW(windows, MAX_PATH);
        PrintLine("no ports: " + Narrow(windows) + "\\HCRPDB.txt lists no printers");
        return EXIT_OK;
    }
    auto* entries = reinterpret_cast<PORT_INFO_2W*>(buffer.data());
    size_t width = 4;
    for (DWORD i = 0; i < count; ++i) {
        size_t length = Narrow(entries[i].pPortName != nullptr ? entries[i].pPortName : L"").size();
        width = length > width ? length : width;
    }
    auto row = [width](const std::string& port, const std::string& description,
                       const std::string& monitor, const std::string& type) {
        std::string line = port + std::string(width + 2 - port.size(), ' ');
        char rest[256];
        std::snprintf(rest, sizeof(rest), "%-16s %-18s %s", description.c_str(), monitor.c_str(),
                      type.c_str());
        return line + rest;
    };
    PrintLine(row("PORT", "DESCRIPTION", "MONITOR", "TYPE"));
    for (DWORD i = 0; i < count; ++i) {
        const PORT_INFO_2W& entry = entries[i];
        std::string type;
        if (entry.fPortType & PORT_TYPE_WRITE) {
            type += "write";
        }
        if (entry.fPortType & PORT_TYPE_READ) {
            type += type.empty() ? "read" : ",read";
        }
        PrintLine(row(Narrow(entry.pPortName ? entry.pPortName : L""),
                      Narrow(entry.pDescription ? entry.pDescription : L""),
                      Narrow(entry.pMonitorName ? entry.pMonitorName : L""), type));
    }
    PrintLine(std::to_string(count) + (count == 1 ? " port" : " ports"));
    return EXIT_OK;
}

int CommandStatus(const Options& options) {
    std::vector<std::string> args = options.args;
    std::string printer = kDefaultPrinterName;
    std::string intervalText = "1";
    std::string countText;
    std::string error;
    bool watch = TakeFlag(&args, "--watch");
    if (!TakeOption(&args, "--printer", &printer, &error) ||
        !TakeOption(&args, "--interval", &intervalText, &error) ||
        !TakeOption(&args, "--count", &countText, &error)) {
        return Usage("status", error);
    }
    uint32_t intervalMs = 1000;
    unsigned long count = 0;
    if (watch) {
        error = ParseIntervalArgument(intervalText, &intervalMs);
        if (error.empty() && !countText.empty() &&
            (!ParseNumber(countText, 1000000ul, &count) || count == 0)) {
            error = "--count \"" + countText + "\" is not a number of polls from 1 to 1000000";
        }
        if (!error.empty()) {
            return Usage("status", error);
        }
    } else if (intervalText != "1" || !countText.empty()) {
        return Usage("status", "--interval and --count go with --watch");
    }
    if (args.size() != 2) {
        return Usage("status", "status needs one port name");
    }
    const std::string& name = args[1];
    PortSession session;
    if (!session.Open(options, name)) {
        return session.FailureExitCode();
    }
    if (watch) {
        return WatchStatus(session.port(), name, printer, intervalMs, count);
    }
    LineStatus status = AskLineStatus(session.port(), name, printer);
    session.Close();
    switch (status.kind) {
    case LineStatus::READY:
        PrintLine(name + ": " + status.text);
        return EXIT_OK;
    case LineStatus::NOT_READY:
        PrintLine(name + ": " + status.text);
        return EXIT_NOT_READY;
    case LineStatus::UNREACHABLE:
        break;
    }
    return Fail(name + ": cannot ask the printer: " + status.text + "; " + ReachHint());
}

int CommandDeviceId(const Options& options) {
    std::vector<std::string> args = options.args;
    std::string waitText = "30";
    std::string error;
    if (!TakeOption(&args, "--wait", &waitText, &error)) {
        return Usage("device-id", error);
    }
    unsigned long waitSeconds = 0;
    if (!ParseNumber(waitText, 3600, &waitSeconds)) {
        return Usage("device-id", "--wait takes a number of seconds");
    }
    if (args.size() != 2) {
        return Usage("device-id", "device-id needs one port name");
    }
    const std::string& name = args[1];
    PortSession session;
    if (!session.Open(options, name)) {
        return session.FailureExitCode();
    }
    HANDLE port = session.port();
    const Monitor2Table* table = Monitor();
    std::vector<char> output(4096, 0);
    DWORD returned = 0;
    double deadline = Seconds() + static_cast<double>(waitSeconds);
    BOOL ok = FALSE;
    DWORD code = 0;
    for (;;) {
        returned = 0;
        SetLastError(0);
        ok = table->pfnGetPrinterDataFromPort(port, IOCTL_PAR_QUERY_DEVICE_ID, nullptr, nullptr, 0,
                                              reinterpret_cast<LPWSTR>(output.data()),
                                              static_cast<DWORD>(output.size()), &returned);
        code = GetLastError();
        if (ok || code != ERROR_IO_PENDING) {
            break;
        }
        // The worker connects and asks the printer; a worker that cannot bind the stack
        // ends at once and would be started again and again: stop on that.
        if (DebugLinesContain("NOT RUNNING") || Seconds() >= deadline) {
            break;
        }
        Sleep(100);
    }
    session.Close();
    if (!ok) {
        if (code == ERROR_IO_PENDING) {
            return Fail(name + ": no device ID within " + std::to_string(waitSeconds) +
                        " s: " + DescribeWin32Error(code) + "; " + ReachHint());
        }
        return Fail(name + ": GetPrinterDataFromPort failed: " + DescribeWin32Error(code));
    }
    if (returned == 0) {
        return Fail(name + ": the printer sent no device ID; " + ReachHint());
    }
    size_t length = returned <= output.size() ? returned : output.size();
    std::string id(output.data(), strnlen(output.data(), length));
    PrintLine(name + ": device ID (" + std::to_string(id.size()) + " bytes)");
    PrintLine("  " + PrintableText(id));
    for (const DeviceIdField& field : ParseDeviceId(id.data(), id.size())) {
        std::string meaning = DeviceIdKeyMeaning(field.key);
        std::string key = field.key.empty() ? std::string("(no key)") : PrintableText(field.key);
        PrintLine("  " + key + (meaning.empty() ? "" : " (" + meaning + ")") + ": " +
                  PrintableText(field.value));
    }
    return EXIT_OK;
}

int CommandAddPort(const Options& options) {
    return AddOrDeletePort(options, true);
}

int CommandDeletePort(const Options& options) {
    return AddOrDeletePort(options, false);
}

int CommandTimeout(const Options& options) {
    const std::vector<std::string>& args = options.args;
    bool get = args.size() == 2 && args[1] == "get";
    bool set = args.size() == 3 && args[1] == "set";
    if (!get && !set) {
        return Usage("timeout", "timeout takes get, or set and a number of seconds");
    }
    unsigned long seconds = 0;
    // Seconds times 1000 must fit 32 bits: the monitor keeps milliseconds.
    if (set && !ParseNumber(args[2], RETRY_TIMEOUT_MAX_SECONDS, &seconds)) {
        return Usage("timeout", "the time-out is a whole number of seconds from 0 to 4294967");
    }
    MonitorSession session;
    if (!session.Open(options)) {
        return session.FailureExitCode();
    }
    DWORD needed = 0;
    if (set) {
        std::wstring text = std::to_wstring(seconds);
        DWORD result = XcvCommand(
            kMonitorName, L"ConfigurePortCommandOK", reinterpret_cast<const BYTE*>(text.c_str()),
            static_cast<DWORD>((text.size() + 1) * sizeof(wchar_t)), nullptr, 0, &needed);
        if (result != ERROR_SUCCESS) {
            return Fail("timeout set: " + DescribeWin32Error(result));
        }
    }
    DWORD milliseconds = 0;
    DWORD result =
        XcvCommand(kMonitorName, L"GetTransmissionRetryTimeout", nullptr, 0,
                   reinterpret_cast<BYTE*>(&milliseconds), sizeof(milliseconds), &needed);
    if (result != ERROR_SUCCESS) {
        return Fail("timeout get: " + DescribeWin32Error(result));
    }
    char text[96];
    std::snprintf(text, sizeof(text), "transmission retry time-out: %lu s (%lu ms)",
                  static_cast<unsigned long>(milliseconds / 1000),
                  static_cast<unsigned long>(milliseconds));
    PrintLine(text);
    return EXIT_OK;
}

} // namespace prnlink
