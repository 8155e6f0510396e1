// Soak of the whole monitor: PRNLINK.DLL loaded and initialised as the spooler loads it,
// spooler threads running mixed operations (EnumPorts, OpenPort/ClosePort, whole small jobs,
// ReadPort, device-ID requests, Xcv AddPort/DeletePort/PortExists/
// GetTransmissionRetryTimeout) against four simulated printers: one healthy, one that drops
// its links, one that answers late, one that duplicates and mangles its responses.
//
// Prints the operations done, the failures by error code, the bytes lost (bytes of jobs
// reported sent that the printer did not receive as sent; must be 0), and the process's
// handle count and heap use after warm-up and at the end.
//
//   soak_benchmark.exe [OPERATIONS_PER_THREAD [THREADS [OPERATION]]]   (defaults 10000, 8)
// OPERATION (0-7, in the order of the report) runs that operation only, to tell which one a
// growth comes from.

#include <windows.h>
#include <tlhelp32.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <mutex>
#include <random>
#include <string>
#include <vector>

#include "qorlib_control.h"
#include "command_support.h"
#include "spooler_host.h"
#include "support/handle_count.h"
#include "support/hcrpdb_writer.h"
#include "support/stack_program.h"
#include "win32_error_names.h"

namespace {

constexpr DWORD kQueryDeviceId = 0x16000C; // IOCTL_PAR_QUERY_DEVICE_ID
constexpr DWORD kPiece = 4096;             // what the spooler hands a monitor per WritePort
const wchar_t kXcvObject[] = L",XcvMonitor Prnlink";
constexpr size_t kHandleSlots = 0x20000 / 4 - 1; // handle values below 0x20000

enum Operation {
    OP_ENUM_PORTS,
    OP_OPEN_CLOSE,
    OP_JOB,
    OP_READ_PORT,
    OP_DEVICE_ID,
    OP_XCV_ADD_DELETE,
    OP_XCV_PORT_EXISTS,
    OP_XCV_RETRY_TIMEOUT,
    OP_COUNT
};
const char* const kOperationNames[OP_COUNT] = {"EnumPorts",
                                               "OpenPort/ClosePort",
                                               "job",
                                               "ReadPort",
                                               "device ID",
                                               "Xcv AddPort/DeletePort",
                                               "Xcv PortExists",
                                               "Xcv GetTransmissionRetryTimeout"};
// Relative frequency of each operation.
const int kWeights[OP_COUNT] = {15, 15, 20, 10, 15, 10, 8, 7};

struct Printer {
    const char* role;
    std::string name;
    uint8_t address[6];
    std::wstring port;
    std::mutex jobLock; // the spooler runs one job at a time per port
};
Printer g_printers[4];

struct Totals {
    std::mutex lock;
    uint64_t done[OP_COUNT] = {};
    uint64_t failed[OP_COUNT] = {};
    std::map<DWORD, uint64_t> failures; // by error code, over every call that failed
    std::map<DWORD, uint64_t> failuresByOperation[OP_COUNT];
    uint64_t jobsSent = 0;
    uint64_t jobsFailed = 0;
    uint64_t bytesSent = 0;
    uint64_t bytesLost = 0;
    uint64_t anomalies = 0; // answers that break what the operation promises
};
Totals g_totals;

// The spooler host's own helpers: where the program lies, whether the stack process runs.
using prnlink::ProgramDirectory;

bool StackRunning() {
    return prnlink::StackProcessRunning();
}

const Monitor2Table* Table() {
    return prnlink::Monitor();
}

// The thread's error for a failed call; 0 is kept as 0 (a failure without a code).
void Failed(int operation, DWORD code) {
    std::lock_guard<std::mutex> lock(g_totals.lock);
    g_totals.failed[operation]++;
    g_totals.failures[code]++;
    g_totals.failuresByOperation[operation][code]++;
}

void Anomaly(const char* what) {
    std::lock_guard<std::mutex> lock(g_totals.lock);
    if (g_totals.anomalies++ < 10) {
        std::printf("  anomaly: %s\n", what);
    }
}

DWORD Xcv(const wchar_t* command, const std::wstring* text, BYTE* output, DWORD outputSize) {
    HANDLE xcv = nullptr;
    SetLastError(0);
    if (!Table()->pfnXcvOpenPort(prnlink::MonitorHandleValue(), kXcvObject,
                                 SERVER_ACCESS_ADMINISTER, &xcv)) {
        DWORD code = GetLastError();
        return code != 0 ? code : static_cast<DWORD>(ERROR_INVALID_HANDLE);
    }
    DWORD needed = 0;
    const BYTE* input = text != nullptr ? reinterpret_cast<const BYTE*>(text->c_str()) : nullptr;
    DWORD inputSize = text != nullptr ? static_cast<DWORD>((text->size() + 1) * 2) : 0;
    DWORD result = Table()->pfnXcvDataPort(xcv, command, const_cast<BYTE*>(input), inputSize,
                                           output, outputSize, &needed);
    Table()->pfnXcvClosePort(xcv);
    return result;
}

bool OpenPort(int operation, Printer& printer, HANDLE* port) {
    SetLastError(0);
    if (!Table()->pfnOpenPort(prnlink::MonitorHandleValue(), &printer.port[0], port)) {
        Failed(operation, GetLastError());
        return false;
    }
    return true;
}

int32_t SinkSize(const Printer& printer) {
    return QorlSim_GetSink(printer.address, 0, nullptr, 0);
}

std::vector<uint8_t> JobBytes(size_t size, std::mt19937& random) {
    std::vector<uint8_t> bytes(size);
    for (uint8_t& byte : bytes) {
        byte = static_cast<uint8_t>(random());
    }
    return bytes;
}

// One whole small job as the spooler runs it, then a check of what the printer received.
void RunJob(Printer& printer, std::mt19937& random, uint32_t jobId) {
    std::lock_guard<std::mutex> jobLock(printer.jobLock);
    const std::vector<uint8_t> job = JobBytes(2048 + random() % (14 * 1024), random);
    HANDLE port = nullptr;
    if (!OpenPort(OP_JOB, printer, &port)) {
        return;
    }
    const int32_t before = SinkSize(printer);
    DOC_INFO_1W document = {const_cast<LPWSTR>(L"soak"), nullptr, nullptr};
    SetLastError(0);
    const bool started = Table()->pfnStartDocPort(port, const_cast<LPWSTR>(L"Soak Printer"), jobId,
                                                  1, reinterpret_cast<LPBYTE>(&document));
    if (!started) {
        Failed(OP_JOB, GetLastError());
    }
    bool ok = started;
    for (size_t offset = 0; ok && offset < job.size();) {
        DWORD piece =
            static_cast<DWORD>(job.size() - offset < kPiece ? job.size() - offset : kPiece);
        DWORD written = 0;
        SetLastError(0);
        BOOL wrote =
            Table()->pfnWritePort(port, const_cast<LPBYTE>(job.data() + offset), piece, &written);
        if (written > piece) {
            Anomaly("WritePort reported more bytes than it was given");
        }
        if (!wrote || written == 0) {
            Failed(OP_JOB, GetLastError());
            ok = false;
            break;
        }
        offset += written;
    }
    if (started) {
        SetLastError(0);
        if (!Table()->pfnEndDocPort(port) && ok) {
            Failed(OP_JOB, GetLastError());
            ok = false;
        }
    }
    Table()->pfnClosePort(port);
    std::lock_guard<std::mutex> lock(g_totals.lock);
    if (!ok) {
        g_totals.jobsFailed++;
        return;
    }
    g_totals.jobsSent++;
    g_totals.bytesSent += job.size();
    // Everything reported sent must be in the printer's sink, in order, right after what
    // it held before the job.
    const int32_t after = SinkSize(printer);
    std::vector<uint8_t> received(job.size());
    const int32_t total = QorlSim_GetSink(printer.address, static_cast<uint32_t>(before),
                                          received.data(), static_cast<uint32_t>(job.size()));
    size_t intact = 0;
    if (before >= 0 && total >= before) {
        size_t available = static_cast<size_t>(total - before);
        while (intact < job.size() && intact < available && received[intact] == job[intact]) {
            ++intact;
        }
    }
    g_totals.bytesLost += job.size() - intact;
    if (after - before > static_cast<int32_t>(job.size())) {
        g_totals.anomalies++;
    }
    // The sink need not keep the job: it is checked (this port's jobs are serialised).
    QorlSim_ClearSink(printer.address);
}

void RunReadPort(Printer& printer, uint32_t jobId) {
    std::lock_guard<std::mutex> jobLock(printer.jobLock);
    HANDLE port = nullptr;
    if (!OpenPort(OP_READ_PORT, printer, &port)) {
        return;
    }
    DOC_INFO_1W document = {const_cast<LPWSTR>(L"soak read"), nullptr, nullptr};
    SetLastError(0);
    if (!Table()->pfnStartDocPort(port, const_cast<LPWSTR>(L"Soak Printer"), jobId, 1,
                                  reinterpret_cast<LPBYTE>(&document))) {
        Failed(OP_READ_PORT, GetLastError());
    } else {
        BYTE buffer[256];
        DWORD read = 0xFFFFFFFF;
        SetLastError(0);
        if (!Table()->pfnReadPort(port, buffer, sizeof(buffer), &read)) {
            Failed(OP_READ_PORT, GetLastError());
        } else if (read > sizeof(buffer)) {
            Anomaly("ReadPort reported more bytes than the buffer holds");
        }
        Table()->pfnEndDocPort(port);
    }
    Table()->pfnClosePort(port);
}

void RunDeviceId(Printer& printer) {
    HANDLE port = nullptr;
    if (!OpenPort(OP_DEVICE_ID, printer, &port)) {
        return;
    }
    char buffer[1024 + 1];
    buffer[1024] = '#';
    DWORD returned = 0;
    SetLastError(0);
    if (!Table()->pfnGetPrinterDataFromPort(port, kQueryDeviceId, nullptr, nullptr, 0,
                                            reinterpret_cast<LPWSTR>(buffer), 1024, &returned)) {
        Failed(OP_DEVICE_ID, GetLastError());
    } else if (returned > 1024 || buffer[1024] != '#') {
        Anomaly("device ID beyond the caller's buffer");
    }
    Table()->pfnClosePort(port);
}

void RunEnumPorts() {
    DWORD needed = 0;
    DWORD count = 0;
    SetLastError(0);
    if (Table()->pfnEnumPorts(prnlink::MonitorHandleValue(), nullptr, 2, nullptr, 0, &needed,
                              &count)) {
        return;
    }
    if (GetLastError() != ERROR_INSUFFICIENT_BUFFER) {
        Failed(OP_ENUM_PORTS, GetLastError());
        return;
    }
    std::vector<BYTE> buffer(needed + 64, 0xCD);
    SetLastError(0);
    if (!Table()->pfnEnumPorts(prnlink::MonitorHandleValue(), nullptr, 2, buffer.data(), needed,
                               &needed, &count)) {
        // The list may have grown in between (another thread's AddPort).
        Failed(OP_ENUM_PORTS, GetLastError());
        return;
    }
    if (buffer[needed] != 0xCD) {
        Anomaly("EnumPorts wrote beyond the size it reported");
    }
}

struct ThreadArguments {
    int index;
    int operations;
    int only; // -1: the mix
};

// Where each spooler thread is, for the progress lines: a run that slows down shows as a
// falling rate, a thread that hangs as one operation that does not end.
struct ThreadPosition {
    std::atomic<int> operation{-1};
    std::atomic<int> printer{-1};
    std::atomic<DWORD> since{0};
};
ThreadPosition g_positions[64];

DWORD WINAPI SpoolerThread(LPVOID parameter) {
    const auto* arguments = static_cast<const ThreadArguments*>(parameter);
    std::mt19937 random(20261209u + static_cast<uint32_t>(arguments->index));
    std::discrete_distribution<int> pick(std::begin(kWeights), std::end(kWeights));
    for (int i = 0; i < arguments->operations; ++i) {
        const int operation = arguments->only >= 0 ? arguments->only : pick(random);
        Printer& printer = g_printers[random() % 4];
        const uint32_t jobId = static_cast<uint32_t>(arguments->index * 1000000 + i);
        ThreadPosition& position = g_positions[arguments->index];
        position.since = GetTickCount();
        position.printer = static_cast<int>(&printer - g_printers);
        position.operation = operation;
        switch (operation) {
        case OP_ENUM_PORTS:
            RunEnumPorts();
            break;
        case OP_OPEN_CLOSE: {
            HANDLE port = nullptr;
            if (OpenPort(OP_OPEN_CLOSE, printer, &port)) {
                Table()->pfnClosePort(port);
            }
            break;
        }
        case OP_JOB:
            RunJob(printer, random, jobId);
            break;
        case OP_READ_PORT:
            RunReadPort(printer, jobId);
            break;
        case OP_DEVICE_ID:
            RunDeviceId(printer);
            break;
        case OP_XCV_ADD_DELETE: {
            const std::wstring name =
                L"Soak " + std::to_wstring(arguments->index) + L"-" + std::to_wstring(i);
            DWORD added = Xcv(L"AddPort", &name, nullptr, 0);
            if (added != ERROR_SUCCESS) {
                Failed(operation, added);
            }
            DWORD deleted = Xcv(L"DeletePort", &name, nullptr, 0);
            if (deleted != ERROR_SUCCESS && added == ERROR_SUCCESS) {
                Failed(operation, deleted);
            }
            break;
        }
        case OP_XCV_PORT_EXISTS: {
            const std::wstring name = L"COM1:";
            BYTE answer[4];
            DWORD result = Xcv(L"PortExists", &name, answer, sizeof(answer));
            if (result != ERROR_SUCCESS) {
                Failed(operation, result);
            }
            break;
        }
        default: {
            BYTE timeout[4];
            DWORD result = Xcv(L"GetTransmissionRetryTimeout", nullptr, timeout, sizeof(timeout));
            if (result != ERROR_SUCCESS) {
                Failed(operation, result);
            }
            break;
        }
        }
        position.operation = -1;
        std::lock_guard<std::mutex> lock(g_totals.lock);
        g_totals.done[operation]++;
    }
    return 0;
}

uint64_t OperationsDone() {
    std::lock_guard<std::mutex> lock(g_totals.lock);
    uint64_t done = 0;
    for (uint64_t count : g_totals.done) {
        done += count;
    }
    return done;
}

// Every PROGRESS_SECONDS: the operations done and the rate since the last line, and every
// thread that has been inside one operation for longer than a whole job may take.
constexpr DWORD kProgressSeconds = 30;
constexpr DWORD kStuckSeconds = 60;
struct WatchArguments {
    int threads;
    HANDLE stop;
};
DWORD WINAPI Watch(LPVOID parameter) {
    const auto* arguments = static_cast<const WatchArguments*>(parameter);
    const DWORD started = GetTickCount();
    uint64_t last = 0;
    while (WaitForSingleObject(arguments->stop, kProgressSeconds * 1000) == WAIT_TIMEOUT) {
        const uint64_t done = OperationsDone();
        std::fprintf(stderr, "  [%4lu s] %llu operations done, %.1f per second lately\n",
                     static_cast<unsigned long>((GetTickCount() - started) / 1000),
                     static_cast<unsigned long long>(done),
                     static_cast<double>(done - last) / kProgressSeconds);
        last = done;
        for (int i = 0; i < arguments->threads; ++i) {
            const int operation = g_positions[i].operation;
            const DWORD inside = (GetTickCount() - g_positions[i].since) / 1000;
            if (operation >= 0 && inside >= kStuckSeconds) {
                std::fprintf(stderr, "    thread %d: %s on \"%s\" for %lu s\n", i,
                             kOperationNames[operation],
                             g_printers[g_positions[i].printer].name.c_str(),
                             static_cast<unsigned long>(inside));
            }
        }
    }
    return 0;
}

// The mangling printer gets a mangled response in turn: a wrong transaction ID, a cut
// response, a false parameter length, a failure status. A fault waits in the printer until
// a response comes for it to spoil, so the next one is set only once the printer has sent
// MANGLE_EVERY responses since (duplicates count): set on a clock, they would pile up while
// the monitor waits out a spoilt answer, until every answer of the printer was spoilt.
constexpr uint32_t kMangleEvery = 8;
std::atomic<bool> g_stopMangler{false};
DWORD WINAPI Mangler(LPVOID) {
    const uint32_t kinds[4] = {
        QORLSIM_FAULT_RESPONSE_WRONG_TRANSACTION, QORLSIM_FAULT_RESPONSE_TOO_SHORT,
        QORLSIM_FAULT_RESPONSE_BAD_PARAM_LENGTH, QORLSIM_FAULT_RESPONSE_STATUS};
    const uint32_t values[4] = {1, 5, 40, 0xFFFF};
    uint32_t nextAt = 0;
    for (int turn = 0; !g_stopMangler; Sleep(20)) {
        QorlSimStats stats = {};
        if (QorlSim_GetStats(g_printers[3].address, &stats) != 0 ||
            stats.controlResponses < nextAt) {
            continue;
        }
        QorlSimFault fault = {kinds[turn % 4], QORLSIM_CONTROL, values[turn % 4], 1, 0, 0, 0};
        QorlSim_SetFault(g_printers[3].address, &fault);
        nextAt = stats.controlResponses + kMangleEvery;
        ++turn;
    }
    return 0;
}

void AddPrinters() {
    const char* roles[4] = {"healthy", "drops its links", "answers late",
                            "duplicates and mangles responses"};
    for (int i = 0; i < 4; ++i) {
        Printer& printer = g_printers[i];
        printer.role = roles[i];
        printer.name = "Soak Printer " + std::to_string(i);
        const uint8_t address[6] = {0x00, 0x0a, 0x95, 0x50, 0x0A, static_cast<uint8_t>(0x10 + i)};
        memcpy(printer.address, address, 6);
        QorlSimPrinterConfig config;
        QorlSim_DefaultPrinterConfig(&config);
        memcpy(config.address, address, 6);
        snprintf(config.name, sizeof(config.name), "%s", printer.name.c_str());
        static const std::string deviceId = "MFG:Halden;MDL:Soak;CMD:PCL6;CLS:PRINTER;";
        config.deviceId = deviceId.c_str();
        config.deviceIdLength = static_cast<uint32_t>(deviceId.size());
        config.latencyUs = 200;
        config.linkRate = 0;
        QorlSim_AddPrinter(&config);
    }
    // Links drop 6000 data bytes into every connection.
    QorlSimFault drop = {QORLSIM_FAULT_CHANNEL_DROP, 0, 4, -1, 0, 0, 6000};
    QorlSim_SetFault(g_printers[1].address, &drop);
    // Every response 300 ms late.
    QorlSimFault late = {QORLSIM_FAULT_RESPONSE_DELAY, QORLSIM_CONTROL, 300, -1, 0, 0, 0};
    QorlSim_SetFault(g_printers[2].address, &late);
    // Every response twice (the mangler adds the rest).
    QorlSimFault twice = {QORLSIM_FAULT_RESPONSE_DUPLICATED, QORLSIM_CONTROL, 0, -1, 0, 0, 0};
    QorlSim_SetFault(g_printers[3].address, &twice);
}

// "Soak ..." entries of the "QuillPorts" profile section left by a run that was stopped
// between its AddPort and its DeletePort: removed before the run and after it.
void RemoveSoakProfileEntries() {
    std::vector<wchar_t> keys(1 << 20);
    DWORD length = GetProfileStringW(L"QuillPorts", nullptr, L"", keys.data(),
                                     static_cast<DWORD>(keys.size()));
    for (const wchar_t* key = keys.data(); key < keys.data() + length && *key != 0;
         key += lstrlenW(key) + 1) {
        if (wcsncmp(key, L"Soak ", 5) == 0) {
            WriteProfileStringW(L"QuillPorts", key, nullptr);
        }
    }
}

bool FindPorts() {
    DWORD needed = 0;
    DWORD count = 0;
    Table()->pfnEnumPorts(prnlink::MonitorHandleValue(), nullptr, 1, nullptr, 0, &needed, &count);
    std::vector<BYTE> buffer(needed);
    if (!Table()->pfnEnumPorts(prnlink::MonitorHandleValue(), nullptr, 1, buffer.data(), needed,
                               &needed, &count)) {
        return false;
    }
    const auto* entries = reinterpret_cast<const PORT_INFO_1W*>(buffer.data());
    int found = 0;
    for (Printer& printer : g_printers) {
        const std::wstring wanted(printer.name.begin(), printer.name.end());
        for (DWORD i = 0; i < count; ++i) {
            if (wanted == entries[i].pName) {
                printer.port = wanted;
                ++found;
            }
        }
    }
    return found == 4;
}

} // namespace

int main(int argc, char** argv) {
    const int operations = argc > 1 ? atoi(argv[1]) : 10000;
    const int threads = argc > 2 ? atoi(argv[2]) : 8;
    const int only = argc > 3 ? atoi(argv[3]) : -1;
    if (operations <= 0 || threads <= 0 || threads > 64 || only < -1 || only >= OP_COUNT) {
        std::fprintf(stderr,
                     "usage: soak_benchmark [OPERATIONS_PER_THREAD [THREADS [OPERATION]]]\n");
        return 2;
    }
    RemoveSoakProfileEntries();
    const std::string savedDatabase = testsupport::ReadDatabaseBytes();
    const bool hadDatabase = testsupport::DatabaseExists();
    const bool startedStack = !StackRunning();
    if (startedStack) {
        testsupport::RunStackProgram(L"", false);
        for (int i = 0; i < 100 && !StackRunning(); ++i) {
            Sleep(50);
        }
    }
    AddPrinters();
    std::vector<testsupport::DeviceEntry> entries;
    for (const Printer& printer : g_printers) {
        testsupport::DeviceEntry entry = {{}, printer.name, 0x1001, 0x1003, 0};
        memcpy(entry.address, printer.address, 6);
        entries.push_back(entry);
    }
    testsupport::WriteDatabase(entries);

    std::string error;
    if (!prnlink::LoadMonitor(ProgramDirectory() + L"PRNLINK.DLL", &error)) {
        std::fprintf(stderr, "soak: %s\n", error.c_str());
        return 1;
    }
    // A short retry time-out, so that a printer that stops granting credit fails in seconds.
    const std::wstring seconds = L"5";
    Xcv(L"ConfigurePortCommandOK", &seconds, nullptr, 0);
    if (!FindPorts()) {
        std::fprintf(stderr, "soak: the four printers' ports are not in the port list\n");
        prnlink::UnloadMonitor();
        return 1;
    }
    // Warm-up: one of each operation, so that what is made once (the stack binding, the
    // spooler library, the device-ID cache) is there before the start figures.
    {
        std::mt19937 random(1);
        for (Printer& printer : g_printers) {
            RunJob(printer, random, 1);
            RunDeviceId(printer);
        }
        RunEnumPorts();
        BYTE answer[4];
        const std::wstring name = L"COM1:";
        Xcv(L"PortExists", &name, answer, sizeof(answer));
        const std::wstring added = L"Soak warm-up";
        Xcv(L"AddPort", &added, nullptr, 0);
        Xcv(L"DeletePort", &added, nullptr, 0);
        g_totals.jobsSent = g_totals.jobsFailed = g_totals.bytesSent = g_totals.bytesLost = 0;
        g_totals.failures.clear();
        memset(g_totals.failed, 0, sizeof(g_totals.failed));
        for (auto& codes : g_totals.failuresByOperation) {
            codes.clear();
        }
    }
    // The simulated printers keep a log of every packet in this process's heap: they start
    // afresh here and are removed before the end figures, so that the figures are the
    // monitor's and the host's.
    QorlSim_Reset();
    AddPrinters();
    const DWORD handlesAtStart = static_cast<DWORD>(testsupport::CountOpenHandles(kHandleSlots));
    const size_t heapAtStart = testsupport::HeapBytesInUse();

    std::printf("soak: %d spooler threads x %d operations; printers:", threads, operations);
    for (const Printer& printer : g_printers) {
        std::printf(" \"%s\" (%s);", printer.name.c_str(), printer.role);
    }
    std::printf("\n");
    HANDLE mangler = CreateThread(nullptr, 0, Mangler, nullptr, 0, nullptr);
    WatchArguments watchArguments = {threads, CreateEventW(nullptr, TRUE, FALSE, nullptr)};
    HANDLE watch = CreateThread(nullptr, 0, Watch, &watchArguments, 0, nullptr);
    const DWORD started = GetTickCount();
    std::vector<ThreadArguments> arguments(threads);
    std::vector<HANDLE> handles;
    for (int i = 0; i < threads; ++i) {
        arguments[i] = {i, operations, only};
        handles.push_back(CreateThread(nullptr, 0, SpoolerThread, &arguments[i], 0, nullptr));
    }
    for (HANDLE handle : handles) {
        WaitForSingleObject(handle, INFINITE);
        CloseHandle(handle);
    }
    const double elapsed = (GetTickCount() - started) / 1000.0;
    SetEvent(watchArguments.stop);
    WaitForSingleObject(watch, INFINITE);
    CloseHandle(watch);
    CloseHandle(watchArguments.stop);
    g_stopMangler = true;
    WaitForSingleObject(mangler, INFINITE);
    CloseHandle(mangler);
    for (const Printer& printer : g_printers) {
        QorlSim_ClearFaults(printer.address);
    }
    QorlSim_WaitIdle(2000);
    QorlSim_Reset();
    AddPrinters();
    const DWORD handlesAtEnd = static_cast<DWORD>(testsupport::CountOpenHandles(kHandleSlots));
    const size_t heapAtEnd = testsupport::HeapBytesInUse();

    uint64_t done = 0;
    for (uint64_t count : g_totals.done) {
        done += count;
    }
    std::printf("operations done: %llu of %llu in %.1f s (%.0f per second)\n",
                static_cast<unsigned long long>(done),
                static_cast<unsigned long long>(operations) * threads, elapsed,
                elapsed > 0 ? done / elapsed : 0.0);
    for (int i = 0; i < OP_COUNT; ++i) {
        std::printf("  %-32s %8llu done, %8llu with a failed call", kOperationNames[i],
                    static_cast<unsigned long long>(g_totals.done[i]),
                    static_cast<unsigned long long>(g_totals.failed[i]));
        const char* separator = ": ";
        for (const auto& failure : g_totals.failuresByOperation[i]) {
            std::printf("%s%s x%llu", separator, prnlink::Win32ErrorName(failure.first),
                        static_cast<unsigned long long>(failure.second));
            separator = ", ";
        }
        std::printf("\n");
    }
    std::printf("failures by error code:\n");
    if (g_totals.failures.empty()) {
        std::printf("  none\n");
    }
    for (const auto& failure : g_totals.failures) {
        std::printf("  %-32s %8llu\n", prnlink::DescribeWin32Error(failure.first).c_str(),
                    static_cast<unsigned long long>(failure.second));
    }
    std::printf("jobs: %llu reported sent (%llu bytes), %llu failed; bytes lost: %llu\n",
                static_cast<unsigned long long>(g_totals.jobsSent),
                static_cast<unsigned long long>(g_totals.bytesSent),
                static_cast<unsigned long long>(g_totals.jobsFailed),
                static_cast<unsigned long long>(g_totals.bytesLost));
    std::printf("anomalies: %llu\n", static_cast<unsigned long long>(g_totals.anomalies));
    std::printf("handles: %lu at start, %lu at end (%+ld)\n",
                static_cast<unsigned long>(handlesAtStart),
                static_cast<unsigned long>(handlesAtEnd),
                static_cast<long>(handlesAtEnd) - static_cast<long>(handlesAtStart));
    std::printf("heap in use: %lu bytes at start, %lu bytes at end (%+ld)\n",
                static_cast<unsigned long>(heapAtStart), static_cast<unsigned long>(heapAtEnd),
                static_cast<long>(heapAtEnd) - static_cast<long>(heapAtStart));

    prnlink::UnloadMonitor();
    RemoveSoakProfileEntries();
    if (hadDatabase) {
        testsupport::WriteDatabaseBytes(savedDatabase);
    } else {
        testsupport::RemoveDatabase();
    }
    if (startedStack) {
        testsupport::RunStackProgram(L" --stop", true);
    }
    return g_totals.bytesLost == 0 && g_totals.anomalies == 0 ? 0 : 1;
}
