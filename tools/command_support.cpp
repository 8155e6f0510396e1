#include "command_support.h"

#include "ansi_text.h"
#include "console.h"
#include "status_text.h"
#include "win32_error_names.h"

#include <windows.h>
#include <tlhelp32.h>

namespace prnlink {

const wchar_t* const kMonitorName = L"Prnlink";
const char* const kDefaultPrinterName = "Prnlink Printer";

int Fail(const std::string& message) {
    PrintErrorLine("prnlink: " + message);
    return EXIT_FAILED;
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

bool TakeFlag(std::vector<std::string>* args, const char* name) {
    for (size_t i = 0; i < args->size(); ++i) {
        if ((*args)[i] == name) {
            args->erase(args->begin() + static_cast<long>(i));
            return true;
        }
    }
    return false;
}

std::wstring ProgramDirectory() {
    wchar_t path[MAX_PATH] = {};
    GetModuleFileNameW(nullptr, path, MAX_PATH);
    std::wstring text(path);
    return text.substr(0, text.find_last_of(L'\\') + 1);
}

std::wstring DefaultDllPath() {
    return ProgramDirectory() + L"PRNLINK.DLL";
}

bool FileExists(const std::wstring& path) {
    DWORD attributes = GetFileAttributesW(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
}

bool ReadFileMachine(const std::wstring& path, ImageMachine* machine, DWORD* error) {
    // Opened alongside anyone: the spooler may hold the library loaded, another program may
    // be writing it.
    HANDLE file = CreateFileW(path.c_str(), GENERIC_READ,
                              FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                              OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        *error = GetLastError();
        return false;
    }
    unsigned char head[IMAGE_HEADER_BYTES];
    DWORD length = 0;
    const BOOL read = ReadFile(file, head, sizeof head, &length, nullptr);
    *error = GetLastError();
    CloseHandle(file);
    if (!read) {
        return false;
    }
    *machine = ReadImageMachine(head, length);
    return true;
}

std::string LibraryMachineMismatch(const std::wstring& path) {
    ImageMachine machine = ImageMachine::NOT_AN_IMAGE;
    DWORD error = 0;
    if (!ReadFileMachine(path, &machine, &error) ||
        LibraryFitsProgram(machine, THIS_PROGRAM_MACHINE)) {
        return std::string();
    }
    const std::string ours = ImageMachineName(THIS_PROGRAM_MACHINE);
    return std::string("a ") + ImageMachineName(machine) + " library; this prnlink.exe is " + ours +
           " and loads only " + ours + " libraries";
}

bool MonitorSession::Open(const Options& options) {
    StartDebugCapture(options.trace);
    std::string error;
    std::wstring path = options.dllPath.empty() ? DefaultDllPath() : options.dllPath;
    // Checked before the loader, which would say no more than ERROR_BAD_EXE_FORMAT.
    const std::string mismatch = LibraryMachineMismatch(path);
    if (!mismatch.empty()) {
        wrongDll_ = !options.dllPath.empty();
        if (wrongDll_) {
            Usage(options.args[0], "--dll " + Narrow(path) + ": " + mismatch);
        } else {
            Fail(Narrow(path) + ": " + mismatch);
        }
        return false;
    }
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

int MonitorSession::FailureExitCode() const {
    return wrongDll_ ? EXIT_USAGE : EXIT_FAILED;
}

MonitorSession::~MonitorSession() {
    if (loaded_) {
        UnloadMonitor();
    }
}

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
bool OpenNamedPort(const std::string& name, HANDLE* port, bool* unknown) {
    *unknown = false;
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
        // A mistyped argument: named, with what is allowed.
        std::string allowed;
        for (const std::wstring& candidate : names) {
            allowed += (allowed.empty() ? "" : ", ") + Narrow(candidate);
        }
        PrintErrorLine("prnlink: PORT: no port named \"" + name +
                       "\": " + DescribeWin32Error(ERROR_UNKNOWN_PORT) + "; the monitor's ports: " +
                       (allowed.empty() ? std::string("none") : allowed) +
                       " (prnlink ports lists them)");
        *unknown = true;
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

bool PortSession::Open(const Options& options, const std::string& name) {
    return monitor_.Open(options) && OpenNamedPort(name, &port_, &unknownPort_);
}

void PortSession::Close() {
    if (port_ != nullptr) {
        Monitor()->pfnClosePort(port_);
        port_ = nullptr;
    }
}

PortSession::~PortSession() {
    Close();
}

int PortSession::FailureExitCode() const {
    return unknownPort_ ? EXIT_USAGE : monitor_.FailureExitCode();
}

LPBYTE DocumentInfo::Get() {
    info.pDocName = &name[0];
    info.pOutputFile = nullptr;
    info.pDatatype = &datatype[0];
    return reinterpret_cast<LPBYTE>(&info);
}

std::string StatusOf(const PortStatusPost& post) {
    return DescribePortStatus(post.status, post.text.empty() ? nullptr : post.text.c_str());
}

LineStatus AskLineStatus(HANDLE port, const std::string& portName, const std::string& printer) {
    const Monitor2Table* table = Monitor();
    SetPrinterPort(Widen(portName));
    ForgetPortStatus();
    std::wstring printerName = Widen(printer);
    DocumentInfo document;
    document.name = L"prnlink status";
    SetLastError(0);
    BOOL started = table->pfnStartDocPort(port, &printerName[0], 0, 1, document.Get());
    DWORD code = GetLastError();
    PortStatusPost post;
    bool posted = LastPortStatus(&post);
    if (started) {
        table->pfnEndDocPort(port);
        return {LineStatus::READY, posted ? StatusOf(post) : std::string("ready"), 0};
    }
    if (posted) {
        return {LineStatus::NOT_READY, StatusOf(post), 0};
    }
    return {LineStatus::UNREACHABLE, DescribeWin32Error(code), code};
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

} // namespace prnlink
