// Times one EnumPorts and one OpenPort with 10, 100, 1,000 and 10,000 records in HCRPDB.txt, cold
// (no ports yet / a port to rebuild) and warm (the ports exist), and counts the passes over
// the file (opens of HCRPDB.txt) and the ReadFile calls (one per record, plus the one that
// meets the end of the file). Prints a Markdown table.
// Usage: enum_benchmark.exe [repetitions]

#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "devicedb/device_database.h"
#include "entry/monitor.h"
#include "ports/port_record.h"
#include "support/hcrpdb_writer.h"
#include "support/stopwatch.h"

namespace {

long g_opens = 0;
long g_reads = 0;

HANDLE WINAPI CountingCreateFile(LPCWSTR name, DWORD access, DWORD share,
                                 LPSECURITY_ATTRIBUTES security, DWORD disposition,
                                 DWORD attributes, HANDLE tmpl) {
    ++g_opens;
    return CreateFileW(name, access, share, security, disposition, attributes, tmpl);
}

BOOL WINAPI CountingReadFile(HANDLE file, LPVOID buffer, DWORD size, LPDWORD got,
                             LPOVERLAPPED overlapped) {
    ++g_reads;
    return ReadFile(file, buffer, size, got, overlapped);
}

double Now() {
    return testsupport::MillisecondsNow();
}

struct Sample {
    double ms;
    long passes;
    long reads;
};

struct Monitor {
    MONITORINIT init = {};
    MonitorHandle* handle = nullptr;
    Monitor() {
        init.cbSize = sizeof(init);
        init.bLocal = TRUE;
        HANDLE h = nullptr;
        InitializePrintMonitor2(&init, &h);
        handle = static_cast<MonitorHandle*>(h);
    }
    ~Monitor() { Shutdown(handle); }
};

template <typename F> Sample Measure(F call) {
    g_opens = g_reads = 0;
    double start = Now();
    call();
    double ms = Now() - start;
    return {ms, g_opens, g_reads};
}

Sample Median(std::vector<Sample> samples) {
    std::sort(samples.begin(), samples.end(),
              [](const Sample& a, const Sample& b) { return a.ms < b.ms; });
    return samples[samples.size() / 2];
}

void Enumerate(MonitorHandle* monitor, std::vector<BYTE>* buffer) {
    DWORD needed = 0, returned = 0;
    if (!EnumPorts(monitor, nullptr, 1, buffer->data(), static_cast<DWORD>(buffer->size()), &needed,
                   &returned)) {
        fprintf(stderr, "EnumPorts failed: %lu\n", GetLastError());
        exit(1);
    }
}

void Row(const char* what, int records, const Sample& s) {
    printf("| %s | %d | %.2f | %ld | %ld |\n", what, records, s.ms, s.passes, s.reads);
}

} // namespace

int main(int argc, char** argv) {
    int repetitions = argc > 1 ? atoi(argv[1]) : 5;
    if (repetitions < 1) {
        repetitions = 1;
    }
    g_deviceFileCalls.createFile = CountingCreateFile;
    g_deviceFileCalls.readFile = CountingReadFile;
    std::vector<BYTE> buffer(4 << 20);
    printf("| call | records | ms (median of %d) | passes over the file | ReadFile calls |\n",
           repetitions);
    printf("|---|---:|---:|---:|---:|\n");
    for (int records : {10, 100, 1000, 10000}) {
        std::vector<testsupport::DeviceEntry> entries;
        for (int i = 0; i < records; ++i) {
            entries.push_back(testsupport::MakeEntry(static_cast<uint32_t>(i),
                                                     "Printer number " + std::to_string(i)));
        }
        testsupport::WriteDatabase(entries);
        std::vector<Sample> coldEnum, warmEnum, coldOpenLast, coldOpenFirst, warmOpen;
        for (int r = 0; r < repetitions; ++r) {
            Monitor monitor;
            coldEnum.push_back(Measure([&] { Enumerate(monitor.handle, &buffer); }));
            warmEnum.push_back(Measure([&] { Enumerate(monitor.handle, &buffer); }));
            // Warm OpenPort: a port made by enumeration is handed out as it is.
            std::wstring lastName = testsupport::PortNameFor(entries.back().name);
            HANDLE handle = nullptr;
            warmOpen.push_back(Measure(
                [&] { OpenPort(monitor.handle, const_cast<LPWSTR>(lastName.c_str()), &handle); }));
            ReleasePortHandle(static_cast<PortRecord*>(handle));
            // Cold OpenPort: a port without channel numbers (as AddPortEx makes it) is
            // rebuilt from its device record, here the last and the first in the file.
            for (int which : {records - 1, 0}) {
                PortRecord* port = CreatePortRecord(monitor.handle, L"hand made");
                memcpy(port->connection.deviceAddress, entries[which].address, 6);
                Sample s = Measure(
                    [&] { OpenPort(monitor.handle, const_cast<LPWSTR>(L"hand made"), &handle); });
                (which == 0 ? coldOpenFirst : coldOpenLast).push_back(s);
                ReleasePortHandle(static_cast<PortRecord*>(handle));
            }
        }
        // What a new port costs the system before any of the monitor's own work: the six
        // events every port record is created with, and closed with when it is freed.
        std::vector<Sample> events;
        for (int r = 0; r < repetitions; ++r) {
            std::vector<HANDLE> handles(static_cast<size_t>(records) * 6);
            events.push_back(Measure([&] {
                for (HANDLE& h : handles) {
                    h = CreateEventW(nullptr, FALSE, FALSE, nullptr);
                }
            }));
            for (HANDLE h : handles) {
                CloseHandle(h);
            }
        }
        Row("EnumPorts, cold (new ports)", records, Median(coldEnum));
        Row("(6 CreateEventW per record, for reference)", records, Median(events));
        Row("EnumPorts, warm (ports exist)", records, Median(warmEnum));
        Row("OpenPort, cold (last record)", records, Median(coldOpenLast));
        Row("OpenPort, cold (first record)", records, Median(coldOpenFirst));
        Row("OpenPort, warm", records, Median(warmOpen));
    }
    testsupport::RemoveDatabase();
    return 0;
}
