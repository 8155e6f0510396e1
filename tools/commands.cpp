#include "commands.h"

#include "ansi_text.h"
#include "console.h"
#include "device_id_fields.h"
#include "spooler_host.h"
#include "status_text.h"
#include "win32_error_names.h"

#include <windows.h>
#include <tlhelp32.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <vector>

namespace prnlink {

namespace {

constexpr DWORD IOCTL_PAR_QUERY_DEVICE_ID = 0x16000C;
constexpr DWORD kChunkSize = 4096; // what the spooler hands a port monitor per WritePort
constexpr const wchar_t* kMonitorName = L"Prnlink";
constexpr const char* kDefaultPrinterName = "Prnlink Printer";

struct CommandHelp {
    const char* name;
    const char* usage;
    const char* text;
};

const CommandHelp kCommands[] = {
    {"ports", "prnlink ports",
     "Lists the monitor's ports (level-2 port entries), one per Bluetooth printer in\n"
     "HCRPDB.txt in the Windows directory."},
    {"status", "prnlink status PORT [--printer NAME]",
     "Shows the printer's line status as the spooler would show it: ready, \"Not Powered On\",\n"
     "paper out or offline. It opens the port and starts an empty document, as the spooler\n"
     "does before it prints (the monitor connects, asks the printer for its IEEE 1284 line\n"
     "status and posts it with SetPortW), then ends the document and closes the port.\n"
     "Exit code 0 when the printer is ready, 3 when it answered but is not ready, 1 when it\n"
     "could not be asked."},
    {"device-id", "prnlink device-id PORT [--wait SECONDS]",
     "Asks the port for the printer's IEEE 1284 device ID (GetPrinterDataFromPort with\n"
     "IOCTL_PAR_QUERY_DEVICE_ID), waiting for the monitor's worker while it answers\n"
     "ERROR_IO_PENDING (at most SECONDS, default 30), and prints the ID and its fields."},
    {"print", "prnlink print PORT FILE [--printer NAME] [--job ID] [--chunk BYTES]",
     "Prints FILE to PORT as the spooler does: OpenPort, StartDocPort, WritePort in pieces of\n"
     "BYTES (default 4096), EndDocPort, ClosePort. Shows a progress bar with the bytes sent,\n"
     "the rate and the time spent waiting for credit: the time inside WritePort beyond\n"
     "handing the data to the Bluetooth library (credit requests and their answers, the\n"
     "monitor's waits for credit, status checks). Status changes are shown as they happen.\n"
     "On failure prints the Win32 error and exits with 1."},
    {"add-port", "prnlink add-port NAME",
     "Adds a port by name through the Xcv command \"AddPort\" (administrator access). The\n"
     "port lives in this process; lasting ports come from HCRPDB.txt."},
    {"delete-port", "prnlink delete-port NAME",
     "Deletes a port through the Xcv command \"DeletePort\" (administrator access): its\n"
     "printer's record is removed from HCRPDB.txt."},
    {"timeout", "prnlink timeout get | prnlink timeout set SECONDS",
     "Reads (\"GetTransmissionRetryTimeout\") or writes (\"ConfigurePortCommandOK\") the\n"
     "transmission retry time-out: how long the monitor keeps asking a printer for credit\n"
     "before a write fails. Ports made afterwards use the new value."},
};

const CommandHelp* FindCommand(const std::string& name) {
    for (const CommandHelp& command : kCommands) {
        if (name == command.name) {
            return &command;
        }
    }
    return nullptr;
}

int Fail(const std::string& message) {
    PrintErrorLine("prnlink: " + message);
    return EXIT_FAILED;
}

int Usage(const std::string& command, const std::string& message) {
    PrintErrorLine("prnlink: " + message);
    const CommandHelp* help = FindCommand(command);
    PrintErrorLine(std::string("usage: ") + (help != nullptr ? help->usage : "prnlink COMMAND"));
    return EXIT_USAGE;
}

double Seconds() {
    static LARGE_INTEGER frequency = [] {
        LARGE_INTEGER value;
        QueryPerformanceFrequency(&value);
        return value;
    }();
    LARGE_INTEGER now;
    QueryPerformanceCounter(&now);
    return static_cast<double>(now.QuadPart) / static_cast<double>(frequency.QuadPart);
}

bool StackProcessRunning() {
    HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
    if (snapshot == INVALID_HANDLE_VALUE) {
        return true; // cannot tell; say nothing
    }
    PROCESSENTRY32W entry;
    entry.dwSize = sizeof(entry);
    bool found = false;
    for (BOOL more = Process32FirstW(snapshot, &entry); more && !found;
         more = Process32NextW(snapshot, &entry)) {
        found = lstrcmpiW(entry.szExeFile, L"Tarnwick.exe") == 0;
    }
    CloseHandle(snapshot);
    return found;
}

// Why the monitor could not reach a printer, from what it wrote on the debug output and
// from the state of the machine.
std::string ReachHint() {
    if (DebugLinesContain("NOT RUNNING") || !StackProcessRunning()) {
        return "the Bluetooth stack is not running (Tarnwick.exe)";
    }
    if (DebugLinesContain("A required function was not found")) {
        return "QORLIB.DLL lacks a required function";
    }
    return "the printer does not answer (switched off or out of range?)";
}

// The option value after name in args (removing both), or fallback.
bool TakeOption(std::vector<std::string>* args, const char* name, std::string* value,
                std::string* error) {
    for (size_t i = 0; i < args->size(); ++i) {
        if ((*args)[i] == name) {
            if (i + 1 >= args->size()) {
                *error = std::string(name) + " needs a value";
                return false;
            }
            *value = (*args)[i + 1];
            args->erase(args->begin() + static_cast<long>(i),
                        args->begin() + static_cast<long>(i) + 2);
            return true;
        }
    }
    return true;
}

bool ParseNumber(const std::string& text, unsigned long max, unsigned long* value) {
    if (text.empty() || text.size() > 10) {
        return false;
    }
    unsigned long long result = 0;
    for (char c : text) {
        if (c < '0' || c > '9') {
            return false;
        }
        result = result * 10 + static_cast<unsigned>(c - '0');
    }
    if (result > max) {
        return false;
    }
    *value = static_cast<unsigned long>(result);
    return true;
}

// ---- the monitor ---------------------------------------------------------------------------

std::wstring DefaultDllPath() {
    wchar_t path[MAX_PATH] = {};
    GetModuleFileNameW(nullptr, path, MAX_PATH);
    std::wstring text(path);
    return text.substr(0, text.find_last_of(L'\\') + 1) + L"PRNLINK.DLL";
}

class MonitorSession {
  public:
    bool Open(const Options& options) {
        StartDebugCapture(options.trace);
        std::string error;
        std::wstring path = options.dllPath.empty() ? DefaultDllPath() : options.dllPath;
        if (!LoadMonitor(path, &error)) {
            Fail(Narrow(path) + ": " + error);
            return false;
        }
        loaded_ = true;
        if (options.trace && !UnboundImports().empty()) {
            PrintErrorLine("prnlink: the library does not import " + UnboundImports());
        }
        return true;
    }
    ~MonitorSession() {
        if (loaded_) {
            UnloadMonitor();
        }
    }

  private:
    bool loaded_ = false;
};

// Level-1 or level-2 port entries; false with the error code when enumeration fails.
bool EnumeratePorts(DWORD level, std::vector<BYTE>* buffer, DWORD* count, DWORD* error) {
    const Monitor2Table* table = Monitor();
    DWORD needed = 0;
    *count = 0;
    SetLastError(0);
    if (table->pfnEnumPorts(MonitorHandleValue(), nullptr, level, nullptr, 0, &needed, count)) {
        buffer->clear();
        return true;
    }
    DWORD code = GetLastError();
    if (code != ERROR_INSUFFICIENT_BUFFER) {
        *error = code;
        return false;
    }
    // The list may grow between the two calls (another program writing HCRPDB.txt).
    for (int attempt = 0; attempt < 3; ++attempt) {
        buffer->assign(needed + 1, 0);
        *count = 0;
        if (table->pfnEnumPorts(MonitorHandleValue(), nullptr, level, buffer->data(), needed,
                                &needed, count)) {
            return true;
        }
        code = GetLastError();
        if (code != ERROR_INSUFFICIENT_BUFFER) {
            break;
        }
    }
    *error = code;
    return false;
}

bool PortNames(std::vector<std::wstring>* names, DWORD* error) {
    std::vector<BYTE> buffer;
    DWORD count = 0;
    if (!EnumeratePorts(1, &buffer, &count, error)) {
        return false;
    }
    auto* entries = reinterpret_cast<PORT_INFO_1W*>(buffer.data());
    for (DWORD i = 0; i < count; ++i) {
        names->push_back(entries[i].pName != nullptr ? entries[i].pName : L"");
    }
    return true;
}

// Enumerates (which makes the monitor build its ports from HCRPDB.txt, as the spooler's
// enumeration at start-up does) and opens the port.
bool OpenNamedPort(const std::string& name, HANDLE* port) {
    std::vector<std::wstring> names;
    DWORD error = 0;
    if (!PortNames(&names, &error)) {
        Fail("cannot list the ports: " + DescribeWin32Error(error));
        return false;
    }
    std::wstring wide = Widen(name);
    bool known = false;
    for (const std::wstring& candidate : names) {
        known = known || candidate == wide;
    }
    if (!known) {
        Fail("no port named \"" + name + "\": " + DescribeWin32Error(ERROR_UNKNOWN_PORT) +
             " (prnlink ports lists them)");
        return false;
    }
    SetLastError(0);
    if (!Monitor()->pfnOpenPort(MonitorHandleValue(), &wide[0], port)) {
        DWORD code = GetLastError();
        Fail("cannot open port \"" + name + "\": " +
             DescribeWin32Error(code != 0 ? code : static_cast<DWORD>(ERROR_UNKNOWN_PORT)));
        return false;
    }
    return true;
}

// The monitor loaded and one of its ports opened, as the spooler has them before a job. The
// port is closed (if Close has not done it) and the monitor unloaded when it goes.
class PortSession {
  public:
    // Loads the monitor and opens the named port; false after saying why.
    bool Open(const Options& options, const std::string& name) {
        return monitor_.Open(options) && OpenNamedPort(name, &port_);
    }
    void Close() {
        if (port_ != nullptr) {
            Monitor()->pfnClosePort(port_);
            port_ = nullptr;
        }
    }
    HANDLE port() const { return port_; }
    ~PortSession() { Close(); }

  private:
    MonitorSession monitor_;
    HANDLE port_ = nullptr;
};

// A level-1 document description, as the spooler passes to StartDocPort.
struct DocumentInfo {
    std::wstring name;
    std::wstring datatype = L"RAW";
    DOC_INFO_1W info;
    LPBYTE Get() {
        info.pDocName = &name[0];
        info.pOutputFile = nullptr;
        info.pDatatype = &datatype[0];
        return reinterpret_cast<LPBYTE>(&info);
    }
};

std::string StatusOf(const PortStatusPost& post) {
    return DescribePortStatus(post.status, post.text.empty() ? nullptr : post.text.c_str());
}

// ---- commands -----------------------------------------------------------------------------

int CommandPorts(const Options& options) {
    if (options.args.size() != 1) {
        return Usage("ports", "ports takes no arguments");
    }
    MonitorSession session;
    if (!session.Open(options)) {
        return EXIT_FAILED;
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
    std::string error;
    if (!TakeOption(&args, "--printer", &printer, &error)) {
        return Usage("status", error);
    }
    if (args.size() != 2) {
        return Usage("status", "status needs one port name");
    }
    const std::string& name = args[1];
    PortSession session;
    if (!session.Open(options, name)) {
        return EXIT_FAILED;
    }
    HANDLE port = session.port();
    const Monitor2Table* table = Monitor();
    SetPrinterPort(Widen(name));
    ForgetPortStatus();
    std::wstring printerName = Widen(printer);
    DocumentInfo document;
    document.name = L"prnlink status";
    SetLastError(0);
    BOOL started = table->pfnStartDocPort(port, &printerName[0], 0, 1, document.Get());
    DWORD code = GetLastError();
    PortStatusPost post;
    bool posted = LastPortStatus(&post);
    int result;
    if (started) {
        PrintLine(name + ": " + (posted ? StatusOf(post) : std::string("ready")));
        table->pfnEndDocPort(port);
        result = EXIT_OK;
    } else if (posted) {
        PrintLine(name + ": " + StatusOf(post));
        result = EXIT_NOT_READY;
    } else {
        result = Fail(name + ": cannot ask the printer: " + DescribeWin32Error(code) + "; " +
                      ReachHint());
    }
    session.Close();
    return result;
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
        return EXIT_FAILED;
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

int CommandPrint(const Options& options) {
    std::vector<std::string> args = options.args;
    std::string printer = kDefaultPrinterName;
    std::string jobText = "1";
    std::string chunkText = std::to_string(kChunkSize);
    std::string error;
    if (!TakeOption(&args, "--printer", &printer, &error) ||
        !TakeOption(&args, "--job", &jobText, &error) ||
        !TakeOption(&args, "--chunk", &chunkText, &error)) {
        return Usage("print", error);
    }
    unsigned long jobId = 0;
    unsigned long chunk = 0;
    if (!ParseNumber(jobText, 0xFFFFFFFFul, &jobId)) {
        return Usage("print", "--job takes a number");
    }
    if (!ParseNumber(chunkText, 1u << 20, &chunk) || chunk == 0) {
        return Usage("print", "--chunk takes a number of bytes from 1 to 1048576");
    }
    if (args.size() != 3) {
        return Usage("print", "print needs a port name and a file");
    }
    const std::string& name = args[1];
    const std::string& file = args[2];
    std::wstring widePath = Widen(file);
    HANDLE input = CreateFileW(widePath.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                               OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (input == INVALID_HANDLE_VALUE) {
        return Fail("cannot read " + file + ": " + DescribeWin32Error(GetLastError()));
    }
    std::unique_ptr<void, decltype(&CloseHandle)> inputCloser(input, CloseHandle);
    LARGE_INTEGER fileSize;
    if (!GetFileSizeEx(input, &fileSize)) {
        return Fail("cannot read " + file + ": " + DescribeWin32Error(GetLastError()));
    }
    uint64_t total = static_cast<uint64_t>(fileSize.QuadPart);

    PortSession session;
    if (!session.Open(options, name)) {
        return EXIT_FAILED;
    }
    HANDLE port = session.port();
    const Monitor2Table* table = Monitor();
    SetPrinterPort(Widen(name));
    ForgetPortStatus();

    // Status changes as the monitor posts them. The post that clears the status when the
    // document ends (severity 0) is the job's end, not a printer change: not shown.
    struct Watch {
        CRITICAL_SECTION lock;
        std::string shown;
        bool active = true;
    };
    static Watch watch;
    InitializeCriticalSection(&watch.lock);
    watch.shown.clear();
    SpoolerHostEvents events;
    events.portStatus = [name](const PortStatusPost& post) {
        if (post.severity == 0) {
            return;
        }
        std::string text = StatusOf(post);
        EnterCriticalSection(&watch.lock);
        bool changed = watch.active && text != watch.shown;
        if (changed) {
            watch.shown = text;
        }
        LeaveCriticalSection(&watch.lock);
        if (changed) {
            PrintLine("  " + name + ": " + text);
        }
    };
    SetSpoolerHostEvents(events);

    PrintLine("printing " + file + " (" + FormatBytes(total) + ") to " + name);
    std::wstring printerName = Widen(printer);
    DocumentInfo document;
    document.name = widePath.substr(widePath.find_last_of(L"\\/") + 1);
    SetLastError(0);
    if (!table->pfnStartDocPort(port, &printerName[0], jobId, 1, document.Get())) {
        DWORD code = GetLastError();
        PortStatusPost post;
        std::string reason = LastPortStatus(&post) ? "the printer is not ready: " + StatusOf(post)
                                                   : DescribeWin32Error(code) + "; " + ReachHint();
        session.Close();
        SetSpoolerHostEvents(SpoolerHostEvents());
        return Fail("StartDocPort on " + name + " failed: " + reason);
    }

    std::vector<BYTE> buffer(chunk);
    uint64_t sent = 0;
    double start = Seconds();
    double writeSeconds = 0.0;
    double linkSeconds = 0.0;
    std::string failure;
    for (;;) {
        DWORD got = 0;
        if (!ReadFile(input, buffer.data(), static_cast<DWORD>(buffer.size()), &got, nullptr)) {
            failure = "reading " + file + " failed: " + DescribeWin32Error(GetLastError());
            break;
        }
        if (got == 0) {
            break;
        }
        // The spooler gives the rest of a buffer again when a write took only part of it.
        DWORD offset = 0;
        while (offset < got && failure.empty()) {
            DWORD written = 0;
            double linkBefore = LinkSendSeconds();
            double before = Seconds();
            SetLastError(0);
            BOOL ok = table->pfnWritePort(port, buffer.data() + offset, got - offset, &written);
            DWORD code = GetLastError();
            writeSeconds += Seconds() - before;
            linkSeconds += LinkSendSeconds() - linkBefore;
            if (written > got - offset) {
                written = got - offset; // never trust a count beyond what was given
            }
            offset += written;
            sent += written;
            double elapsed = Seconds() - start;
            double wait = writeSeconds - linkSeconds;
            unsigned percent = total == 0 ? 100u : static_cast<unsigned>(sent * 100 / total);
            ShowProgress(FormatProgress(sent, total, elapsed, wait > 0 ? wait : 0, 30), percent,
                         false);
            if (!ok || written == 0) {
                failure = "WritePort failed after " + std::to_string(sent) + " of " +
                          std::to_string(total) + " bytes: " + DescribeWin32Error(code);
            }
        }
        if (!failure.empty()) {
            break;
        }
    }
    double elapsed = Seconds() - start;
    double wait = writeSeconds - linkSeconds;
    if (wait < 0) {
        wait = 0;
    }
    unsigned percent = total == 0 ? 100u : static_cast<unsigned>(sent * 100 / total);
    ShowProgress(FormatProgress(sent, total, elapsed, wait, 30), percent, true);

    if (!failure.empty()) {
        // A write that sends nothing makes the monitor ask the printer for its status again
        // and post it: how the reason for the failure reaches the spooler's queue window.
        DWORD ignored = 0;
        BYTE none = 0;
        table->pfnWritePort(port, &none, 0, &ignored);
        PortStatusPost post;
        if (LastPortStatus(&post) && post.severity != 0) {
            failure += "; printer status: " + StatusOf(post);
        } else {
            failure += "; " + ReachHint();
        }
    }
    EnterCriticalSection(&watch.lock);
    watch.active = false;
    LeaveCriticalSection(&watch.lock);
    SetLastError(0);
    BOOL ended = table->pfnEndDocPort(port);
    DWORD endCode = GetLastError();
    session.Close();
    SetSpoolerHostEvents(SpoolerHostEvents());
    if (!failure.empty()) {
        return Fail("printing " + file + " to " + name + " failed: " + failure);
    }
    if (!ended) {
        return Fail("EndDocPort on " + name + " failed: " + DescribeWin32Error(endCode) +
                    " (the link was lost before the end of the document)");
    }
    char summary[200];
    std::snprintf(
        summary, sizeof(summary), "sent %s to %s in %.1f s (%s/s), %.1f s waiting for credit",
        FormatBytes(sent).c_str(), name.c_str(), elapsed,
        FormatBytes(elapsed > 0 ? static_cast<uint64_t>(sent / elapsed) : sent).c_str(), wait);
    PrintLine(summary);
    return EXIT_OK;
}

// One Xcv command on a handle opened with administrator access.
DWORD XcvCommand(const std::wstring& object, const wchar_t* command, const BYTE* input,
                 DWORD inputSize, BYTE* output, DWORD outputSize, DWORD* needed) {
    const Monitor2Table* table = Monitor();
    HANDLE xcv = nullptr;
    SetLastError(0);
    if (!table->pfnXcvOpenPort(MonitorHandleValue(), object.c_str(), SERVER_ACCESS_ADMINISTER,
                               &xcv)) {
        DWORD code = GetLastError();
        return code != 0 ? code : static_cast<DWORD>(ERROR_INVALID_HANDLE);
    }
    DWORD result = table->pfnXcvDataPort(xcv, command, const_cast<BYTE*>(input), inputSize, output,
                                         outputSize, needed);
    table->pfnXcvClosePort(xcv);
    return result;
}

int CommandAddOrDeletePort(const Options& options, bool add) {
    const char* command = add ? "add-port" : "delete-port";
    if (options.args.size() != 2) {
        return Usage(command, std::string(command) + " needs one port name");
    }
    const std::string& name = options.args[1];
    MonitorSession session;
    if (!session.Open(options)) {
        return EXIT_FAILED;
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

int CommandTimeout(const Options& options) {
    const std::vector<std::string>& args = options.args;
    bool get = args.size() == 2 && args[1] == "get";
    bool set = args.size() == 3 && args[1] == "set";
    if (!get && !set) {
        return Usage("timeout", "timeout takes get, or set and a number of seconds");
    }
    unsigned long seconds = 0;
    // Seconds times 1000 must fit 32 bits: the monitor keeps milliseconds.
    if (set && !ParseNumber(args[2], 4294967ul, &seconds)) {
        return Usage("timeout", "the time-out is a whole number of seconds from 0 to 4294967");
    }
    MonitorSession session;
    if (!session.Open(options)) {
        return EXIT_FAILED;
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

} // namespace

std::string HelpText(const std::string& command) {
    if (const CommandHelp* help = FindCommand(command)) {
        return std::string("usage: ") + help->usage + "\n\n" + help->text;
    }
    std::string text =
        "prnlink: a spooler host for the PRNLINK.DLL port monitor. It loads the monitor as\n"
        "the print spooler does and drives it through its function table.\n\n"
        "usage: prnlink [--trace] [--dll PATH] COMMAND [ARGUMENTS]\n\ncommands:\n";
    for (const CommandHelp& entry : kCommands) {
        text += "  " + std::string(entry.usage) + "\n";
    }
    text += "\n  --trace     print the monitor's debug lines as it writes them (on stderr)\n"
            "  --dll PATH  the monitor library (default: PRNLINK.DLL beside prnlink.exe)\n"
            "  prnlink COMMAND --help shows what a command does.\n\n"
            "exit codes: 0 done, 1 failed (the message says why), 2 bad command line,\n"
            "3 status: printer not ready";
    return text;
}

int RunCommand(const Options& options) {
    const std::string& command = options.args[0];
    if (command == "help") {
        PrintLine(HelpText(options.args.size() > 1 ? options.args[1] : std::string()));
        return EXIT_OK;
    }
    if (command == "ports") {
        return CommandPorts(options);
    }
    if (command == "status") {
        return CommandStatus(options);
    }
    if (command == "device-id") {
        return CommandDeviceId(options);
    }
    if (command == "print") {
        return CommandPrint(options);
    }
    if (command == "add-port") {
        return CommandAddOrDeletePort(options, true);
    }
    if (command == "delete-port") {
        return CommandAddOrDeletePort(options, false);
    }
    if (command == "timeout") {
        return CommandTimeout(options);
    }
    return Usage("", "unknown command \"" + command + "\"");
}

} // namespace prnlink
