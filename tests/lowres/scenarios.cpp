#include "lowres/scenarios.h"

#include <winspool.h>

#include <cstring>

#include "command_support.h"
#include "lowres/fault_injector.h"
#include "lowres/world.h"
#include "spooler_host.h"
#include "support/hcrpdb_writer.h"

namespace lowres {

namespace {

constexpr DWORD kQueryDeviceId = 0x16000C; // IOCTL_PAR_QUERY_DEVICE_ID
constexpr DWORD kPiece = 4096;             // what the spooler hands a monitor per WritePort
constexpr DWORD kJobBytes = 3 * kPiece;
constexpr uint32_t kJobId = 7;

const Monitor2Table* Table() {
    return prnlink::Monitor();
}
HANDLE MonitorValue() {
    return prnlink::MonitorHandleValue();
}

Outcome Succeeded() {
    Outcome outcome;
    outcome.ok = true;
    return outcome;
}

// A failed call: its error, taken at once.
Outcome Failed(const char* operation) {
    Outcome outcome;
    outcome.code = GetLastError();
    outcome.operation = operation;
    return outcome;
}

Outcome Broken(const char* operation, const std::string& problem) {
    Outcome outcome;
    outcome.operation = operation;
    outcome.problem = problem;
    return outcome;
}

std::string Narrow(const std::wstring& text) {
    return std::string(text.begin(), text.end());
}

// EnumPorts as the spooler calls it: the size, then the entries (again when the list grew
// in between). The names go to *names.
Outcome Enumerate(DWORD level, std::vector<std::wstring>* names) {
    DWORD needed = 0;
    DWORD count = 0;
    std::vector<BYTE> buffer;
    for (int attempt = 0; attempt < 3; ++attempt) {
        SetLastError(0);
        if (Table()->pfnEnumPorts(MonitorValue(), nullptr, level,
                                  buffer.empty() ? nullptr : buffer.data(),
                                  static_cast<DWORD>(buffer.size()), &needed, &count)) {
            names->clear();
            for (DWORD i = 0; i < count; ++i) {
                const wchar_t* name =
                    level == 1 ? reinterpret_cast<PORT_INFO_1W*>(buffer.data())[i].pName
                               : reinterpret_cast<PORT_INFO_2W*>(buffer.data())[i].pPortName;
                names->push_back(name != nullptr ? name : L"<null>");
            }
            return Succeeded();
        }
        if (GetLastError() != ERROR_INSUFFICIENT_BUFFER) {
            return Failed("EnumPorts");
        }
        buffer.assign(needed, 0);
    }
    return Broken("EnumPorts", "asked for a larger buffer three times");
}

bool Lists(const std::vector<std::wstring>& names, const std::wstring& port) {
    for (const std::wstring& name : names) {
        if (name == port) {
            return true;
        }
    }
    return false;
}

// "" when the monitor's port list is exactly these ports (in any order).
std::string ListIs(std::vector<std::wstring> expected) {
    std::vector<std::wstring> names;
    Outcome listed = Enumerate(1, &names);
    if (!listed.ok) {
        return "EnumPorts failed without faults (error " + std::to_string(listed.code) + ")";
    }
    std::string listing;
    for (const std::wstring& name : names) {
        listing += (listing.empty() ? "" : ", ") + Narrow(name);
    }
    if (names.size() != expected.size()) {
        return "the port list is [" + listing + "]";
    }
    for (const std::wstring& port : expected) {
        if (!Lists(names, port)) {
            return "the port list is [" + listing + "]";
        }
    }
    return "";
}

std::string StartingList() {
    return ListIs({kPrinterA.Port(), kPrinterB.Port()});
}

void MakeStartingPorts() {
    std::vector<std::wstring> names;
    Enumerate(1, &names);
    prnlink::SetPrinterPort(kPrinterA.Port());
}

Outcome Xcv(const wchar_t* object, const wchar_t* command, const void* input, DWORD inputSize,
            void* output, DWORD outputSize) {
    HANDLE xcv = nullptr;
    SetLastError(0);
    if (!Table()->pfnXcvOpenPort(MonitorValue(), object, SERVER_ACCESS_ADMINISTER, &xcv)) {
        return Failed("XcvOpenPort");
    }
    DWORD needed = 0;
    DWORD result =
        Table()->pfnXcvDataPort(xcv, command, static_cast<BYTE*>(const_cast<void*>(input)),
                                inputSize, static_cast<BYTE*>(output), outputSize, &needed);
    Table()->pfnXcvClosePort(xcv);
    if (result != ERROR_SUCCESS) {
        Outcome outcome;
        outcome.code = result;
        outcome.operation = "XcvDataPort " + Narrow(command);
        return outcome;
    }
    return Succeeded();
}

Outcome XcvWithText(const wchar_t* command, const std::wstring& text, void* output = nullptr,
                    DWORD outputSize = 0) {
    return Xcv(nullptr, command, text.c_str(), static_cast<DWORD>((text.size() + 1) * 2), output,
               outputSize);
}

// Scenarios. Initialisation: the whole load; the check is that the monitor then serves.
Outcome RunInitialisation() {
    std::string error;
    if (!LoadInjectedMonitor(&error)) {
        return Failed("InitializePrintMonitor2");
    }
    return Succeeded();
}

std::string CheckServes() {
    return StartingList();
}

// Enumeration with a known printer and a new one.
void PrepareEnumeration() {
    MakeStartingPorts();
    testsupport::WriteDatabaseBytes(DatabaseWith(kPrinterC));
}
Outcome RunEnumeration(DWORD level) {
    std::vector<std::wstring> names;
    Outcome outcome = Enumerate(level, &names);
    if (outcome.ok && !(Lists(names, kPrinterA.Port()) && Lists(names, kPrinterB.Port()) &&
                        Lists(names, kPrinterC.Port()) && names.size() == 3)) {
        return Broken("EnumPorts", "succeeded without every printer's port");
    }
    return outcome;
}
Outcome RunEnumerationLevel1() {
    return RunEnumeration(1);
}
Outcome RunEnumerationLevel2() {
    return RunEnumeration(2);
}
std::string CheckEnumeration() {
    return ListIs({kPrinterA.Port(), kPrinterB.Port(), kPrinterC.Port()});
}

// OpenPort of a known port, and of a port added by name, which OpenPort rebuilds from the
// device record of its address.
void PrepareOpenPort() {
    MakeStartingPorts();
    std::wstring name = RebuiltPortName();
    PORT_INFO_1W info = {&name[0]};
    Table()->pfnAddPortEx(MonitorValue(), nullptr, 1, reinterpret_cast<LPBYTE>(&info),
                          const_cast<LPWSTR>(L"Prnlink"));
}
Outcome RunOpenPort() {
    for (const std::wstring& port : {kPrinterA.Port(), RebuiltPortName()}) {
        HANDLE handle = nullptr;
        std::wstring name = port;
        SetLastError(0);
        if (!Table()->pfnOpenPort(MonitorValue(), &name[0], &handle)) {
            return Failed("OpenPort");
        }
        Table()->pfnClosePort(handle);
    }
    return Succeeded();
}

// A whole job as the spooler runs it on printer A.
std::string JobBytes() {
    std::string bytes(kJobBytes, '\0');
    for (size_t i = 0; i < bytes.size(); ++i) {
        bytes[i] = static_cast<char>((i * 131 + 7) & 0xFF);
    }
    return bytes;
}
void PrepareJob() {
    MakeStartingPorts();
    ClearSinkOfA();
}
Outcome RunJob() {
    HANDLE port = nullptr;
    std::wstring name = kPrinterA.Port();
    SetLastError(0);
    if (!Table()->pfnOpenPort(MonitorValue(), &name[0], &port)) {
        return Failed("OpenPort");
    }
    Outcome outcome = Succeeded();
    DOC_INFO_1W document = {const_cast<LPWSTR>(L"lowres"), nullptr, nullptr};
    SetLastError(0);
    if (!Table()->pfnStartDocPort(port, const_cast<LPWSTR>(kPrinterName), kJobId, 1,
                                  reinterpret_cast<LPBYTE>(&document))) {
        outcome = Failed("StartDocPort");
        Table()->pfnClosePort(port);
        return outcome;
    }
    const std::string job = JobBytes();
    for (DWORD offset = 0; offset < kJobBytes && outcome.ok;) {
        DWORD written = 0;
        SetLastError(0);
        BOOL wrote = Table()->pfnWritePort(
            port, reinterpret_cast<LPBYTE>(const_cast<char*>(job.data()) + offset), kPiece,
            &written);
        if (written > kPiece) {
            outcome = Broken("WritePort", "reported more bytes written than it was given");
        } else if (!wrote) {
            outcome = Failed("WritePort");
        } else if (written == 0) {
            outcome = Broken("WritePort", "succeeded without writing");
        }
        offset += written;
    }
    if (outcome.ok) {
        // The spooler reads what the printer has to say; a printer with nothing to say
        // fails the read, which does not fail the job.
        BYTE answer[64];
        DWORD read = 0;
        Table()->pfnReadPort(port, answer, sizeof(answer), &read);
        if (read > sizeof(answer)) {
            outcome = Broken("ReadPort", "reported more bytes than the buffer holds");
        }
    }
    SetLastError(0);
    if (!Table()->pfnEndDocPort(port) && outcome.ok) {
        outcome = Failed("EndDocPort");
    }
    Table()->pfnClosePort(port);
    return outcome;
}
std::string CheckJob() {
    // What the printer holds ends with the whole job: a failed run may have sent a part of
    // its own before the retry sent everything.
    const std::string sink = SinkOfA();
    const std::string job = JobBytes();
    if (sink.size() < job.size() || sink.compare(sink.size() - job.size(), job.size(), job) != 0) {
        return "the printer received " + std::to_string(sink.size()) +
               " bytes that do not end with the job";
    }
    return "";
}

// A device-ID request: the spooler asks again while the answer is pending.
Outcome RunDeviceId() {
    HANDLE port = nullptr;
    std::wstring name = kPrinterA.Port();
    SetLastError(0);
    if (!Table()->pfnOpenPort(MonitorValue(), &name[0], &port)) {
        return Failed("OpenPort");
    }
    Outcome outcome = Broken("GetPrinterDataFromPort", "");
    for (int attempt = 0; attempt < 40; ++attempt) {
        char text[256] = {};
        DWORD returned = 0;
        SetLastError(0);
        if (Table()->pfnGetPrinterDataFromPort(port, kQueryDeviceId, nullptr, nullptr, 0,
                                               reinterpret_cast<LPWSTR>(text), sizeof(text) - 1,
                                               &returned)) {
            if (returned > sizeof(text) - 1) {
                outcome = Broken("GetPrinterDataFromPort", "reported more than the buffer holds");
                break;
            }
            if (returned != 0) {
                outcome = std::strcmp(text, kDeviceId) == 0
                              ? Succeeded()
                              : Broken("GetPrinterDataFromPort", "returned another ID");
                break;
            }
        } else if (GetLastError() != ERROR_IO_PENDING) {
            outcome = Failed("GetPrinterDataFromPort");
            break;
        }
        // Pending, or the cache is empty and being refreshed: ask again shortly.
        outcome = Failed("GetPrinterDataFromPort");
        Sleep(10);
    }
    Table()->pfnClosePort(port);
    return outcome;
}

// The Xcv commands.
Outcome RunMonitorUi() {
    wchar_t text[16] = {};
    Outcome outcome = Xcv(nullptr, L"MonitorUI", nullptr, 0, text, sizeof(text));
    if (outcome.ok && std::wcscmp(text, L"QUILLDLG.dll") != 0) {
        return Broken("XcvDataPort MonitorUI", "answered another library");
    }
    return outcome;
}
Outcome RunConfigurePort() {
    return XcvWithText(L"ConfigurePortCommandOK", L"60");
}
std::string CheckConfigurePort() {
    return SettingText() == L"60" ? "" : "the setting is " + Narrow(SettingText());
}
Outcome RunAddPort() {
    return XcvWithText(L"AddPort", AddedPortName());
}
// Whether the port list holds the added port: PortIsValid finds it by name and its address
// in the database (an enumeration would drop it for the port it makes for that record).
bool AddedPortListed() {
    return XcvWithText(L"PortIsValid", AddedPortName()).ok;
}
std::string CheckAdded() {
    if (!ProfileHas(AddedPortName())) {
        return "the added port has no profile entry";
    }
    return AddedPortListed() ? "" : "the added port is not in the port list";
}
std::string CheckNotAdded() {
    if (ProfileHas(AddedPortName())) {
        return "a profile entry stays for the port that was not added";
    }
    return AddedPortListed() ? "the port that was not added is in the port list" : "";
}
void PrepareXcvDeletePort() {
    MakeStartingPorts();
    WriteProfileStringW(L"QuillPorts", kPrinterA.Port().c_str(), L"");
}
Outcome RunXcvDeletePort() {
    return XcvWithText(L"DeletePort", kPrinterA.Port());
}
std::string CheckDeleted() {
    if (ProfileHas(kPrinterA.Port())) {
        return "the deleted port's profile entry stays";
    }
    return ListIs({kPrinterB.Port()});
}
std::string DatabaseWithoutA() {
    return DatabaseWithout(kPrinterA);
}
Outcome RunPortExists() {
    DWORD exists = 2;
    Outcome outcome = XcvWithText(L"PortExists", kPrinterA.Port(), &exists, sizeof(exists));
    if (outcome.ok && exists != 1) {
        return Broken("XcvDataPort PortExists", "answered that a listed port does not exist");
    }
    return outcome;
}
Outcome RunPortIsValid() {
    return XcvWithText(L"PortIsValid", kPrinterA.Port());
}
void PrepareRetryTimeout() {
    MakeStartingPorts();
    RemoveSetting();
}
Outcome RunRetryTimeout() {
    DWORD milliseconds = 0;
    Outcome outcome = Xcv(nullptr, L"GetTransmissionRetryTimeout", nullptr, 0, &milliseconds,
                          sizeof(milliseconds));
    if (outcome.ok && milliseconds != 45000) {
        return Broken("XcvDataPort GetTransmissionRetryTimeout",
                      "answered " + std::to_string(milliseconds) + " ms for the default");
    }
    return outcome;
}
std::string CheckRetryTimeout() {
    // The default is written back when the value is missing; a write that failed leaves it
    // missing, and the next reader writes it.
    const std::wstring text = SettingText();
    return text == L"45" || text == L"<absent>" ? "" : "the setting is " + Narrow(text);
}
Outcome RunGetCommConfig() {
    COMMCONFIG config = {};
    return Xcv(L"COM1", L"GetDefaultCommConfig", L"COM1", sizeof(L"COM1"), &config, sizeof(config));
}
Outcome RunSetCommConfig() {
    COMMCONFIG config = {};
    DWORD size = sizeof(config);
    config.dwSize = size;
    if (!GetDefaultCommConfigW(L"COM1", &config, &size)) {
        return Failed("GetDefaultCommConfigW (the scenario's own)");
    }
    return Xcv(L"COM1", L"SetDefaultCommConfig", &config, config.dwSize, nullptr, 0);
}

// The other port administration entries.
Outcome RunAddPortEx() {
    std::wstring name = AddedPortName();
    PORT_INFO_1W info = {&name[0]};
    SetLastError(0);
    if (!Table()->pfnAddPortEx(MonitorValue(), nullptr, 1, reinterpret_cast<LPBYTE>(&info),
                               const_cast<LPWSTR>(L"Prnlink"))) {
        return Failed("AddPortEx");
    }
    return Succeeded();
}
Outcome RunDeletePort() {
    std::wstring name = kPrinterA.Port();
    SetLastError(0);
    if (!Table()->pfnDeletePort(MonitorValue(), nullptr, nullptr, &name[0])) {
        return Failed("DeletePort");
    }
    return Succeeded();
}
std::string CheckDatabaseDeletion() {
    return ListIs({kPrinterB.Port()});
}

// The end: a port used for a job and asked its device ID, then closed, then Shutdown.
HANDLE g_endingPort;
void PrepareEnding() {
    PrepareJob();
    std::wstring name = kPrinterA.Port();
    Table()->pfnOpenPort(MonitorValue(), &name[0], &g_endingPort);
    char text[256];
    DWORD returned = 0;
    for (int attempt = 0; attempt < 40; ++attempt) {
        if (Table()->pfnGetPrinterDataFromPort(g_endingPort, kQueryDeviceId, nullptr, nullptr, 0,
                                               reinterpret_cast<LPWSTR>(text), sizeof(text),
                                               &returned) &&
            returned != 0) {
            break;
        }
        Sleep(10);
    }
}
Outcome RunEnding() {
    SetLastError(0);
    Outcome outcome = Table()->pfnClosePort(g_endingPort) ? Succeeded() : Failed("ClosePort");
    g_endingPort = nullptr;
    prnlink::ShutdownMonitor();
    return outcome;
}

std::string Nothing() {
    return "";
}

const std::vector<DWORD> kNone;

} // namespace

bool LoadInjectedMonitor(std::string* error) {
    std::string unbound;
    return prnlink::LoadMonitor(prnlink::ProgramDirectory() + L"PRNLINK.DLL", error,
                                [&unbound](HMODULE library, MONITORREG* registry) {
                                    InstallFaultInjector(library, registry, &unbound);
                                });
}

const std::vector<Scenario>& Scenarios() {
    using K = ScenarioKind;
    // AddPort: a name taken to be in use when the spooler's list cannot be had (183, 87).
    // PortIsValid: a port without a readable device record. The job: a link that cannot be
    // had (ERROR_OPEN_FAILED) or was lost (ERROR_INVALID_HANDLE).
    static const std::vector<Scenario> scenarios = {
        {"initialisation", K::Initialisation, nullptr, RunInitialisation, CheckServes, nullptr,
         nullptr, kNone},
        {"EnumPorts level 1", K::Loaded, PrepareEnumeration, RunEnumerationLevel1, CheckEnumeration,
         nullptr, nullptr, kNone},
        {"EnumPorts level 2", K::Loaded, PrepareEnumeration, RunEnumerationLevel2, CheckEnumeration,
         nullptr, nullptr, kNone},
        {"OpenPort", K::Loaded, PrepareOpenPort, RunOpenPort, Nothing, nullptr, nullptr, kNone},
        {"job",
         K::Loaded,
         PrepareJob,
         RunJob,
         CheckJob,
         nullptr,
         nullptr,
         {ERROR_OPEN_FAILED, ERROR_INVALID_HANDLE, ERROR_TIMEOUT}},
        {"device ID",
         K::Loaded,
         MakeStartingPorts,
         RunDeviceId,
         Nothing,
         nullptr,
         nullptr,
         {ERROR_IO_PENDING}},
        {"Xcv MonitorUI", K::Loaded, MakeStartingPorts, RunMonitorUi, Nothing, nullptr, nullptr,
         kNone},
        {"Xcv ConfigurePortCommandOK", K::Loaded, MakeStartingPorts, RunConfigurePort,
         CheckConfigurePort, nullptr, nullptr, kNone},
        {"Xcv AddPort",
         K::Loaded,
         PrepareEnumeration,
         RunAddPort,
         CheckAdded,
         CheckNotAdded,
         nullptr,
         {ERROR_ALREADY_EXISTS}},
        {"Xcv DeletePort", K::Loaded, PrepareXcvDeletePort, RunXcvDeletePort, CheckDeleted, nullptr,
         DatabaseWithoutA, kNone},
        {"Xcv PortExists", K::Loaded, MakeStartingPorts, RunPortExists, Nothing, nullptr, nullptr,
         kNone},
        {"Xcv PortIsValid", K::Loaded, MakeStartingPorts, RunPortIsValid, Nothing, nullptr, nullptr,
         kNone},
        {"Xcv GetTransmissionRetryTimeout", K::Loaded, PrepareRetryTimeout, RunRetryTimeout,
         CheckRetryTimeout, nullptr, nullptr, kNone},
        {"Xcv GetDefaultCommConfig", K::Loaded, MakeStartingPorts, RunGetCommConfig, Nothing,
         nullptr, nullptr, kNone},
        {"Xcv SetDefaultCommConfig", K::Loaded, MakeStartingPorts, RunSetCommConfig, Nothing,
         nullptr, nullptr, kNone},
        {"AddPortEx",
         K::Loaded,
         PrepareEnumeration,
         RunAddPortEx,
         CheckAdded,
         CheckNotAdded,
         nullptr,
         {ERROR_INVALID_PARAMETER}},
        {"DeletePort", K::Loaded, MakeStartingPorts, RunDeletePort, CheckDatabaseDeletion, nullptr,
         DatabaseWithoutA, kNone},
        {"ClosePort and Shutdown", K::Ending, PrepareEnding, RunEnding, Nothing, nullptr, nullptr,
         kNone},
    };
    return scenarios;
}

} // namespace lowres
