// The job path at the link's pace: prints, for each simulated link, credit grant and job
// size, how long a whole job takes (StartDocPort to the return of EndDocPort, the data
// handed over in 64 KiB WritePort calls as the spooler does) against the ideal, the time
// the monitor spends outside the library's sends and the waits for the printer, the CPU
// time per MiB on an unlimited link, and the process's handles and heap over 1,000 jobs.
//
// The ideal is the time the simulated link and printer cannot go below: every data packet
// on the link at its rate (payload and the 9 bytes of L2CAP, ACL and H4 headers the link
// model carries with it), and one control latency for each exchange the job must make
// with the printer: connecting the control and the data channel (each waits for its
// connected event), the first Credit Grant, the line-status request and every Credit
// Request.
//
// The library's send operation and the waits are timed through this program's own import
// table (GetProcAddress hands out a timed QORL_SendData; WaitForSingleObject and Sleep are
// timed while a job runs), so the monitor's code is measured as it is built.
//
// Usage: job_benchmark.exe [quick]     quick: 1 MiB jobs only, no basic-rate link

#include <windows.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "entry/monitor.h"
#include "hcrp/stack_binding.h"
#include "import_patch.h"
#include "job/job_path.h"
#include "job/port_status.h"
#include "ports/port_record.h"
#include "sim_stack.h"
#include "spooler_recorder.h"
#include "support/handle_count.h"

namespace {

constexpr uint32_t kLatencyUs = 20000;
constexpr DWORD kChunk = 64 * 1024;
constexpr uint32_t kLinkHeaderBytes = 9;

LARGE_INTEGER g_frequency;

int64_t Ticks() {
    LARGE_INTEGER now;
    QueryPerformanceCounter(&now);
    return now.QuadPart;
}

double Ms(int64_t ticks) {
    return 1000.0 * static_cast<double>(ticks) / static_cast<double>(g_frequency.QuadPart);
}

// What one job's timed calls add up to.
struct Counters {
    int64_t sendTicks = 0;
    int64_t waitTicks = 0;     // the port's response and connected events
    int64_t sleepTicks = 0;    // credit sleeps
    int64_t libraryTicks = 0;  // the library's other operations: register, connect, disconnect
    int64_t snapshotTicks = 0; // the binding's look for the stack process
    int64_t debugTicks = 0;    // debug lines
    uint64_t dataPackets = 0;
    uint64_t dataBytes = 0;
    uint32_t controlRequests = 0;
    uint32_t creditRequests = 0;
};

Counters g_counters;
bool g_timing = false;
PortRecord* g_port = nullptr;

QorlSendDataFn g_realSendData = nullptr;
QorlRegisterFn g_realRegister = nullptr;
QorlConnectFn g_realConnect = nullptr;
QorlDisconnectFn g_realDisconnect = nullptr;
BOOL(WINAPI* g_realWaitOnAddress)(volatile VOID*, PVOID, SIZE_T, DWORD) = nullptr;
ProcessSnapshotApi g_realSnapshot;
VOID(WINAPI* g_realDebugString)(LPCSTR) = nullptr;
FARPROC(WINAPI* g_realGetProcAddress)(HMODULE, LPCSTR) = nullptr;
DWORD(WINAPI* g_realWait)(HANDLE, DWORD) = nullptr;
VOID(WINAPI* g_realSleep)(DWORD) = nullptr;

int __cdecl TimedSendData(uint16_t handle, const void* data, uint16_t length) {
    int64_t before = Ticks();
    int result = g_realSendData(handle, data, length);
    if (g_timing && g_port != nullptr) {
        g_counters.sendTicks += Ticks() - before;
        if (handle == g_port->connection.dataChannel.handle) {
            ++g_counters.dataPackets;
            g_counters.dataBytes += length;
        } else {
            ++g_counters.controlRequests;
            const auto* bytes = static_cast<const uint8_t*>(data);
            if (length >= 2 && bytes[0] == 0x00 && bytes[1] == 0x02) {
                ++g_counters.creditRequests;
            }
        }
    }
    return result;
}

// Adds the time of one call to a counter while a job runs.
template <typename F> auto Timed(int64_t* counter, F call) -> decltype(call()) {
    int64_t before = Ticks();
    auto result = call();
    if (g_timing) {
        *counter += Ticks() - before;
    }
    return result;
}

int __cdecl TimedRegister(ChannelDescriptor* descriptor) {
    return Timed(&g_counters.libraryTicks, [&] { return g_realRegister(descriptor); });
}

int __cdecl TimedConnect(ChannelDescriptor* descriptor, uint16_t psm, const uint8_t* address) {
    return Timed(&g_counters.libraryTicks, [&] { return g_realConnect(descriptor, psm, address); });
}

int __cdecl TimedDisconnect(uint16_t handle) {
    return Timed(&g_counters.libraryTicks, [&] { return g_realDisconnect(handle); });
}

HANDLE WINAPI TimedCreateSnapshot(DWORD flags, DWORD processId) {
    return Timed(&g_counters.snapshotTicks,
                 [&] { return g_realSnapshot.createSnapshot(flags, processId); });
}

BOOL WINAPI TimedFirst(HANDLE snapshot, tagPROCESSENTRY32* entry) {
    return Timed(&g_counters.snapshotTicks, [&] { return g_realSnapshot.first(snapshot, entry); });
}

BOOL WINAPI TimedNext(HANDLE snapshot, tagPROCESSENTRY32* entry) {
    return Timed(&g_counters.snapshotTicks, [&] { return g_realSnapshot.next(snapshot, entry); });
}

BOOL WINAPI TimedClose(HANDLE snapshot) {
    return Timed(&g_counters.snapshotTicks, [&] { return g_realSnapshot.close(snapshot); });
}

VOID WINAPI TimedDebugString(LPCSTR text) {
    Timed(&g_counters.debugTicks, [&] {
        g_realDebugString(text);
        return 0;
    });
}

// A response wait on the connection's signal count, where the system has one.
BOOL WINAPI TimedWaitOnAddress(volatile VOID* address, PVOID compare, SIZE_T size, DWORD timeout) {
    const bool counted =
        g_timing && g_port != nullptr && address == &g_port->connection.controlSignals;
    int64_t before = counted ? Ticks() : 0;
    BOOL result = g_realWaitOnAddress(address, compare, size, timeout);
    if (counted) {
        g_counters.waitTicks += Ticks() - before;
    }
    return result;
}

template <typename T> FARPROC Substitute(FARPROC real, T* keep, T replacement) {
    *keep = reinterpret_cast<T>(reinterpret_cast<void*>(real));
    return reinterpret_cast<FARPROC>(reinterpret_cast<void*>(replacement));
}

FARPROC WINAPI TimedGetProcAddress(HMODULE module, LPCSTR name) {
    FARPROC real = g_realGetProcAddress(module, name);
    if (real == nullptr || HIWORD(reinterpret_cast<uintptr_t>(name)) == 0) {
        return real;
    }
    if (std::strcmp(name, "QORL_SendData") == 0) {
        return Substitute(real, &g_realSendData, &TimedSendData);
    }
    if (std::strcmp(name, "QORL_Register") == 0) {
        return Substitute(real, &g_realRegister, &TimedRegister);
    }
    if (std::strcmp(name, "QORL_Connect") == 0) {
        return Substitute(real, &g_realConnect, &TimedConnect);
    }
    if (std::strcmp(name, "QORL_Disconnect") == 0) {
        return Substitute(real, &g_realDisconnect, &TimedDisconnect);
    }
    if (std::strcmp(name, "WaitOnAddress") == 0) {
        return Substitute(real, &g_realWaitOnAddress, &TimedWaitOnAddress);
    }
    return real;
}

DWORD WINAPI TimedWait(HANDLE handle, DWORD timeout) {
    const bool counted = g_timing && g_port != nullptr &&
                         (handle == g_port->connection.controlReceived ||
                          handle == g_port->connection.controlConnected ||
                          handle == g_port->connection.dataConnected);
    int64_t before = counted ? Ticks() : 0;
    DWORD result = g_realWait(handle, timeout);
    if (counted) {
        g_counters.waitTicks += Ticks() - before;
    }
    return result;
}

VOID WINAPI TimedSleep(DWORD ms) {
    int64_t before = g_timing ? Ticks() : 0;
    g_realSleep(ms);
    if (g_timing) {
        g_counters.sleepTicks += Ticks() - before;
    }
}

bool BindTimers() {
    HMODULE self = GetModuleHandleW(nullptr);
    void* original = nullptr;
    g_realGetProcAddress = GetProcAddress;
    g_realWait = WaitForSingleObject;
    g_realSleep = Sleep;
    g_realDebugString = OutputDebugStringA;
    g_realSnapshot = g_processSnapshotApi;
    g_processSnapshotApi = {TimedCreateSnapshot, TimedFirst, TimedNext, TimedClose};
    return prnlink::PatchImport(self, "kernel32.dll", "OutputDebugStringA",
                                reinterpret_cast<void*>(TimedDebugString), &original) &&
           prnlink::PatchImport(self, "kernel32.dll", "GetProcAddress",
                                reinterpret_cast<void*>(TimedGetProcAddress), &original) &&
           prnlink::PatchImport(self, "kernel32.dll", "WaitForSingleObject",
                                reinterpret_cast<void*>(TimedWait), &original) &&
           prnlink::PatchImport(self, "kernel32.dll", "Sleep", reinterpret_cast<void*>(TimedSleep),
                                &original);
}

struct Link {
    const char* name;
    uint32_t bitsPerSecond; // 0: unlimited
};

struct JobResult {
    bool ok = false;
    double jobMs = 0;
    double idealMs = 0;
    double linkMs = 0;
    Counters counters;
};

const wchar_t kPortName[] = L"00:11:22:33:44:55.1";
const wchar_t kPrinterName[] = L"Benchmark";

// A monitor as the spooler starts it, with one port on the simulated printer.
struct Monitor {
    MONITORINIT init = {};
    HANDLE handle = nullptr;
    PortRecord* port = nullptr;
    jobtest::SpoolerRecorder spooler;

    Monitor() {
        init.cbSize = sizeof(init);
        init.bLocal = TRUE;
        InitializePrintMonitor2(&init, &handle);
        auto* monitor = static_cast<MonitorHandle*>(handle);
        MonitorLockGuard lock;
        PortRecord* record = CreatePortRecord(monitor, kPortName);
        const uint8_t address[6] = {0x00, 0x11, 0x22, 0x33, 0x44, 0x55};
        memcpy(record->connection.deviceAddress, address, 6);
        record->connection.controlPsm = 0x1001;
        record->connection.dataPsm = 0x1003;
        record->connection.retryTimeoutMs = 45000;
        spooler.AddPrinter(kPrinterName, kPortName);
        HANDLE opened = nullptr;
        OpenPort(handle, const_cast<LPWSTR>(kPortName), &opened);
        port = static_cast<PortRecord*>(opened);
    }
    ~Monitor() {
        ClosePort(port);
        Shutdown(handle);
        g_stackBinding.Unload();
    }
};

void AddPrinter(uint32_t bitsPerSecond, uint32_t grant, uint32_t latencyUs) {
    QorlSim_Reset();
    jobtest::SimPrinter printer(0x55);
    printer.config.linkRate = bitsPerSecond;
    printer.config.latencyUs = latencyUs;
    printer.config.creditPolicy = QORLSIM_CREDIT_FIXED;
    printer.config.creditAmount = grant;
    printer.config.printSpeed = 0;
    printer.deviceId = "MFG:Acme;MDL:Bench;";
    printer.Add();
}

// One job through the monitor; the printer must be set up.
JobResult RunJob(Monitor* monitor, const std::vector<uint8_t>& data, uint32_t bitsPerSecond,
                 uint32_t latencyUs) {
    JobResult result;
    g_port = monitor->port;
    g_counters = Counters();
    g_timing = true;
    int64_t start = Ticks();
    bool ok = StartDocPort(monitor->port, const_cast<LPWSTR>(kPrinterName), 1, 1, nullptr) != 0;
    for (size_t offset = 0; ok && offset < data.size();) {
        DWORD piece =
            static_cast<DWORD>(data.size() - offset < kChunk ? data.size() - offset : kChunk);
        DWORD written = 0;
        ok = WritePort(monitor->port, const_cast<BYTE*>(data.data() + offset), piece, &written) &&
             written == piece;
        offset += written;
    }
    ok = EndDocPort(monitor->port) && ok;
    result.jobMs = Ms(Ticks() - start);
    g_timing = false;
    result.ok = ok;
    result.counters = g_counters;
    if (bitsPerSecond != 0) {
        result.linkMs =
            1000.0 *
            static_cast<double>(g_counters.dataBytes + kLinkHeaderBytes * g_counters.dataPackets) *
            8.0 / bitsPerSecond;
    }
    // Two connected events, then every control request waits for its response.
    const uint32_t exchanges = 2 + g_counters.controlRequests;
    result.idealMs = result.linkMs + exchanges * latencyUs / 1000.0;
    return result;
}

void PrintJobTable(bool quick) {
    const Link links[] = {{"EDR 2.176 Mbit/s", 2176000}, {"basic rate 723 kbit/s", 723000}};
    const uint32_t grants[] = {1024, 4096, 65536};
    const size_t sizes[] = {1u << 20, 10u << 20};
    printf("| link | job | credit grant | Credit Requests | job s | ideal s | ratio | monitor's "
           "own ms | of which stack look-up ms | of which debug lines ms | sends beyond the "
           "link ms | waits beyond the latency ms | library's other calls ms |\n");
    printf("|---|---:|---:|---:|---:|---:|---:|---:|---:|---:|---:|---:|---:|\n");
    for (const Link& link : links) {
        if (quick && link.bitsPerSecond != 2176000) {
            continue;
        }
        for (size_t size : sizes) {
            if (quick && size != (1u << 20)) {
                continue;
            }
            std::vector<uint8_t> data = jobtest::JobBytes(size, 7);
            for (uint32_t grant : grants) {
                AddPrinter(link.bitsPerSecond, grant, kLatencyUs);
                Monitor monitor;
                JobResult r = RunJob(&monitor, data, link.bitsPerSecond, kLatencyUs);
                const Counters& c = r.counters;
                const double send = Ms(c.sendTicks), wait = Ms(c.waitTicks),
                             sleep = Ms(c.sleepTicks);
                const double own = r.jobMs - send - wait - sleep - Ms(c.libraryTicks);
                const double exchangesMs = (2 + c.controlRequests) * kLatencyUs / 1000.0;
                printf("| %s | %u MiB | %u KiB | %u | %.3f | %.3f | %.4f | %.1f | %.1f | %.1f | "
                       "%.1f | %.1f | %.1f |%s\n",
                       link.name, static_cast<unsigned>(size >> 20),
                       static_cast<unsigned>(grant / 1024), c.creditRequests, r.jobMs / 1000,
                       r.idealMs / 1000, r.jobMs / r.idealMs, own, Ms(c.snapshotTicks),
                       Ms(c.debugTicks), send - r.linkMs, wait + sleep - exchangesMs,
                       Ms(c.libraryTicks), r.ok ? "" : " FAILED");
                fflush(stdout);
            }
        }
    }
}

// CPU time of this thread: the monitor's code on the spooler's thread, the library's send
// included; the library's callbacks run on its own thread and are not counted.
double ThreadCpuMs() {
    FILETIME created, exited, kernel, user;
    GetThreadTimes(GetCurrentThread(), &created, &exited, &kernel, &user);
    auto value = [](const FILETIME& t) {
        return static_cast<double>(static_cast<uint64_t>(t.dwHighDateTime) << 32 |
                                   t.dwLowDateTime) /
               10000.0;
    };
    return value(kernel) + value(user);
}

void PrintCpuPerMiB() {
    const uint32_t grants[] = {4096, 65536};
    printf(
        "\n| unlimited link, latency 1 ms | credit grant | job | wall s | CPU ms per MiB (spooler "
        "thread) |\n");
    printf("|---|---:|---:|---:|---:|\n");
    std::vector<uint8_t> data = jobtest::JobBytes(10u << 20, 9);
    for (uint32_t grant : grants) {
        AddPrinter(0, grant, 1000);
        Monitor monitor;
        double cpu = ThreadCpuMs();
        JobResult r = RunJob(&monitor, data, 0, 1000);
        cpu = ThreadCpuMs() - cpu;
        printf("| | %u KiB | 10 MiB | %.3f | %.1f |%s\n", static_cast<unsigned>(grant / 1024),
               r.jobMs / 1000, cpu / 10, r.ok ? "" : " FAILED");
        fflush(stdout);
    }
}

// Handle values below 0x10000 are probed.
constexpr size_t kHandleSlots = 0x10000 / 4 - 1;

void PrintSteadyState(int jobs) {
    std::vector<uint8_t> data = jobtest::JobBytes(64 * 1024, 3);
    Monitor monitor;
    auto job = [&] {
        monitor.spooler.Clear(); // the stand-in's own record of the calls
        AddPrinter(0, 65536, 100);
        return RunJob(&monitor, data, 0, 100).ok;
    };
    // One job first: what the first job sets up once (the binding's look-ups, the spooler
    // stand-in's tables) is not counted as growth.
    job();
    const DWORD handlesBefore = static_cast<DWORD>(testsupport::CountOpenHandles(kHandleSlots));
    const uint64_t heapBefore = testsupport::HeapBytesInUse();
    int failed = 0;
    for (int i = 0; i < jobs; ++i) {
        failed += job() ? 0 : 1;
    }
    QorlSim_Reset();
    const DWORD handlesAfter = static_cast<DWORD>(testsupport::CountOpenHandles(kHandleSlots));
    const uint64_t heapAfter = testsupport::HeapBytesInUse();
    printf("\n| %d jobs of 64 KiB in a row | before | after | change |\n", jobs);
    printf("|---|---:|---:|---:|\n");
    printf("| handles | %lu | %lu | %+ld |\n", handlesBefore, handlesAfter,
           static_cast<long>(handlesAfter) - static_cast<long>(handlesBefore));
    printf("| heap bytes in use | %llu | %llu | %+lld |\n",
           static_cast<unsigned long long>(heapBefore), static_cast<unsigned long long>(heapAfter),
           static_cast<long long>(heapAfter) - static_cast<long long>(heapBefore));
    printf("failed jobs: %d\n", failed);
}

} // namespace

int main(int argc, char** argv) {
    const bool quick = argc > 1 && std::strcmp(argv[1], "quick") == 0;
    QueryPerformanceFrequency(&g_frequency);
    if (!BindTimers()) {
        fprintf(stderr, "cannot time the library's calls\n");
        return 1;
    }
    if (!jobtest::StackProcess::Start()) {
        fprintf(stderr, "cannot start Tarnwick.exe\n");
        return 1;
    }
    PrintJobTable(quick);
    PrintCpuPerMiB();
    PrintSteadyState(1000);
    jobtest::StackProcess::Stop();
    return 0;
}
