// How much one printer that stops answering holds up the others. Two ports print on spooler
// threads of their own over the simulated EDR link (272,000 B/s, 20 ms per control response,
// 64 KiB credit grants): port B prints 1 MiB alone, then while printer A grants no credit
// (A's retry time-out 10 s), then while A is switched off (its control responses never
// come). A third thread meanwhile calls EnumPorts, OpenPort and Xcv "PortExists" (which asks
// the spooler's port list, and so this monitor's EnumPorts, as the spooler does).
// Prints B's job time and its ratio to B alone, the largest latency of each call made while
// A waits, and the status posts that named another port than the one whose thread made them.
// Usage: port_isolation_benchmark.exe [MiB]     (a figure for the README, not a test)

#include <windows.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "entry/monitor.h"
#include "ports/spooler_ports.h"
#include "ports/port_record.h"
#include "sim_stack.h"
#include "spooler_recorder.h"
#include "support/hcrpdb_writer.h"
#include "support/stopwatch.h"

namespace {

using namespace jobtest;

double NowMs() {
    return testsupport::MillisecondsNow();
}

Monitor2Table* g_table = nullptr;
HANDLE g_monitor = nullptr;

// The spooler's EnumPortsW as Xcv "PortExists" reaches it: every monitor's EnumPorts, here
// this one's alone.
BOOL WINAPI SpoolerEnumPorts(LPWSTR name, DWORD level, LPBYTE ports, DWORD size, LPDWORD needed,
                             LPDWORD returned) {
    return g_table->pfnEnumPorts(g_monitor, name, level, ports, size, needed, returned);
}

// Which port each spooler thread of a case works for, so that every status post can be
// checked against the port whose thread made it.
std::mutex g_threadsLock;
std::map<DWORD, std::wstring> g_threadPort;

void WorkFor(const std::wstring& port) {
    std::lock_guard<std::mutex> lock(g_threadsLock);
    g_threadPort[GetCurrentThreadId()] = port;
}

QorlSimPrinterConfig EdrPrinter(const uint8_t* address) {
    QorlSimPrinterConfig config;
    QorlSim_DefaultPrinterConfig(&config);
    memcpy(config.address, address, 6);
    config.linkRate = 272000 * 8;
    config.latencyUs = 20000;
    config.creditPolicy = QORLSIM_CREDIT_FIXED;
    config.creditAmount = 64 * 1024;
    config.printSpeed = 0;
    return config;
}

struct Port {
    std::wstring name;
    std::wstring printer;
    HANDLE handle = nullptr;
};

// One whole job as the spooler sends it: StartDocPort, WritePort in 64 KiB pieces (going on
// from what was written), EndDocPort. Returns the milliseconds taken, or -1.
double PrintJob(const Port& port, const std::vector<uint8_t>& job, DWORD jobId) {
    double start = NowMs();
    if (!g_table->pfnStartDocPort(port.handle, const_cast<wchar_t*>(port.printer.c_str()), jobId, 1,
                                  nullptr)) {
        return -1;
    }
    size_t offset = 0;
    int failures = 0;
    while (offset < job.size()) {
        DWORD size = static_cast<DWORD>(std::min<size_t>(64 * 1024, job.size() - offset));
        DWORD written = 0;
        if (!g_table->pfnWritePort(port.handle, const_cast<uint8_t*>(job.data() + offset), size,
                                   &written) &&
            ++failures > 3) {
            g_table->pfnEndDocPort(port.handle);
            return -1;
        }
        offset += written;
    }
    if (!g_table->pfnEndDocPort(port.handle)) {
        return -1;
    }
    return NowMs() - start;
}

// A spooler thread that keeps trying to print to printer A until told to stop.
void KeepTrying(const Port& port, const std::atomic<bool>& stop, std::atomic<int>* waits) {
    WorkFor(port.name);
    std::vector<uint8_t> piece(64 * 1024, 0x41);
    while (!stop) {
        if (!g_table->pfnStartDocPort(port.handle, const_cast<wchar_t*>(port.printer.c_str()), 1, 1,
                                      nullptr)) {
            ++*waits;
            g_table->pfnClosePort(port.handle); // what the spooler does after a failed start
            continue;
        }
        DWORD written = 0;
        while (!stop && !g_table->pfnWritePort(port.handle, piece.data(),
                                               static_cast<DWORD>(piece.size()), &written)) {
            ++*waits;
        }
        g_table->pfnEndDocPort(port.handle);
    }
}

struct Latency {
    double enumPorts = 0;
    double openPort = 0;
    double portExists = 0;
    int calls = 0;
};

// The Printers folder and the Ports tab: enumeration, opening an idle port, Xcv.
void Administer(const std::wstring& idlePort, const std::atomic<bool>& stop, Latency* latency) {
    std::vector<BYTE> buffer(64 * 1024);
    HANDLE xcv = nullptr;
    g_table->pfnXcvOpenPort(g_monitor, L"", SERVER_ACCESS_ADMINISTER, &xcv);
    std::vector<wchar_t> name(idlePort.begin(), idlePort.end());
    name.push_back(L'\0');
    while (!stop) {
        DWORD needed = 0;
        DWORD returned = 0;
        double t = NowMs();
        g_table->pfnEnumPorts(g_monitor, nullptr, 1, buffer.data(),
                              static_cast<DWORD>(buffer.size()), &needed, &returned);
        latency->enumPorts = std::max(latency->enumPorts, NowMs() - t);
        HANDLE opened = nullptr;
        t = NowMs();
        BOOL ok = g_table->pfnOpenPort(g_monitor, name.data(), &opened);
        latency->openPort = std::max(latency->openPort, NowMs() - t);
        if (ok) {
            g_table->pfnClosePort(opened);
        }
        DWORD exists = 0;
        t = NowMs();
        g_table->pfnXcvDataPort(xcv, L"PortExists", reinterpret_cast<BYTE*>(name.data()),
                                static_cast<DWORD>(name.size() * sizeof(wchar_t)),
                                reinterpret_cast<BYTE*>(&exists), sizeof(exists), &needed);
        latency->portExists = std::max(latency->portExists, NowMs() - t);
        latency->calls++;
        Sleep(20);
    }
    g_table->pfnXcvClosePort(xcv);
}

struct Case {
    const char* name;
    double jobMs;
    Latency latency;
    int aWaits;
    int posts;
    int wrongPosts;
};

Case RunCase(const char* name, const Port* a, const Port& b, const Port& idle,
             const std::vector<uint8_t>& job, SpoolerRecorder* spooler) {
    Case result = {name, 0, {}, 0, 0, 0};
    spooler->Clear();
    g_threadPort.clear();
    std::atomic<bool> stop{false};
    std::atomic<int> waits{0};
    std::thread aThread;
    std::thread admin;
    if (a != nullptr) {
        aThread = std::thread([&] { KeepTrying(*a, stop, &waits); });
        Sleep(500); // A is in its wait
        admin = std::thread([&] { Administer(idle.name, stop, &result.latency); });
    }
    std::thread bThread([&] {
        WorkFor(b.name);
        result.jobMs = PrintJob(b, job, 7);
    });
    bThread.join();
    stop = true;
    if (admin.joinable()) {
        admin.join();
    }
    if (aThread.joinable()) {
        aThread.join();
    }
    result.aWaits = waits;
    for (const PortStatusPost& post : spooler->StatusPosts()) {
        ++result.posts;
        auto found = g_threadPort.find(post.threadId);
        if (found == g_threadPort.end() || found->second != post.portName) {
            ++result.wrongPosts;
        }
    }
    return result;
}

} // namespace

int main(int argc, char** argv) {
    size_t mib = argc > 1 ? static_cast<size_t>(std::atoi(argv[1])) : 1;
    if (mib == 0) {
        mib = 1;
    }
    if (!StackProcess::Start()) {
        std::fprintf(stderr, "the stack process did not start\n");
        return 1;
    }
    QorlSim_Reset();
    std::vector<testsupport::DeviceEntry> entries = {testsupport::MakeEntry(0xA0, "Printer A"),
                                                     testsupport::MakeEntry(0xB0, "Printer B"),
                                                     testsupport::MakeEntry(0xC0, "Idle printer")};
    if (!testsupport::WriteDatabase(entries)) {
        std::fprintf(stderr, "HCRPDB.txt cannot be written\n");
        return 1;
    }
    QorlSimPrinterConfig configA = EdrPrinter(entries[0].address);
    QorlSimPrinterConfig configB = EdrPrinter(entries[1].address);
    QorlSim_AddPrinter(&configA);
    QorlSim_AddPrinter(&configB);

    SpoolerRecorder spooler;
    MONITORINIT init = {};
    init.cbSize = sizeof(init);
    init.bLocal = TRUE;
    g_table = InitializePrintMonitor2(&init, &g_monitor);
    g_spoolerPortList.enumPorts = SpoolerEnumPorts;
    Port ports[3];
    const char* printers[3] = {"A", "B", "idle"};
    for (int i = 0; i < 3; ++i) {
        ports[i].name = testsupport::PortNameFor(entries[i].name);
        ports[i].printer =
            L"Printer " + std::wstring(printers[i], printers[i] + strlen(printers[i]));
        spooler.AddPrinter(ports[i].printer, ports[i].name);
    }
    DWORD needed = 0;
    DWORD returned = 0;
    std::vector<BYTE> list(64 * 1024);
    g_table->pfnEnumPorts(g_monitor, nullptr, 1, list.data(), static_cast<DWORD>(list.size()),
                          &needed, &returned);
    for (int i = 0; i < 2; ++i) {
        if (!g_table->pfnOpenPort(g_monitor, &ports[i].name[0], &ports[i].handle)) {
            std::fprintf(stderr, "OpenPort failed for port %d (%lu)\n", i, GetLastError());
            return 1;
        }
    }
    static_cast<PortRecord*>(ports[0].handle)->connection.retryTimeoutMs = 10000;
    std::vector<uint8_t> job = JobBytes(mib * 1024 * 1024, 3);

    std::vector<Case> cases;
    cases.push_back(RunCase("B alone", nullptr, ports[1], ports[2], job, &spooler));
    configA.creditPolicy = QORLSIM_CREDIT_NEVER;
    QorlSim_AddPrinter(&configA);
    cases.push_back(RunCase("A grants no credit", &ports[0], ports[1], ports[2], job, &spooler));
    configA.creditPolicy = QORLSIM_CREDIT_FIXED;
    QorlSim_AddPrinter(&configA);
    QorlSimFault silent = {QORLSIM_FAULT_RESPONSE_LOST, 0, 0, -1, 0, 0, 0};
    QorlSim_SetFault(entries[0].address, &silent);
    cases.push_back(RunCase("A switched off", &ports[0], ports[1], ports[2], job, &spooler));

    std::printf("B prints %u MiB; EDR link 272,000 B/s, 20 ms control latency, 64 KiB grants\n\n",
                static_cast<unsigned>(mib));
    std::printf("| case | B's job (s) | ratio to B alone | A's failed calls | EnumPorts max (ms) | "
                "OpenPort max (ms) | PortExists max (ms) | admin rounds | posts | wrong port |\n");
    std::printf("|---|---:|---:|---:|---:|---:|---:|---:|---:|---:|\n");
    for (const Case& c : cases) {
        if (c.jobMs < 0) {
            std::printf("| %s | failed | | | | | | | | |\n", c.name);
            continue;
        }
        std::printf("| %s | %.2f | %.3f | %d | %.1f | %.1f | %.1f | %d | %d | %d |\n", c.name,
                    c.jobMs / 1000.0, c.jobMs / cases[0].jobMs, c.aWaits, c.latency.enumPorts,
                    c.latency.openPort, c.latency.portExists, c.latency.calls, c.posts,
                    c.wrongPosts);
    }
    std::fflush(stdout);

    for (int i = 0; i < 2; ++i) {
        g_table->pfnClosePort(ports[i].handle);
    }
    g_table->pfnShutdown(g_monitor);
    testsupport::RemoveDatabase();
    StackProcess::Stop();
    return 0;
}
