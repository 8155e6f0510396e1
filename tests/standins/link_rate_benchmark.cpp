// How closely the simulated link keeps its rate: sends 1,000 data packets of 663 bytes (672
// on the air with the L2CAP, ACL and H4 headers) at the default 2.1 Mbit/s, to one printer and
// then to two printers from two threads at once, and compares the time taken with the link
// model's. Also shows how long Sleep really sleeps here, which is what the model has to
// allow for. Prints a Markdown table.
// Usage: link_rate_benchmark.exe [packets]

#include <windows.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <thread>
#include <vector>

#include "sim_client.h"

namespace {

using Clock = std::chrono::steady_clock;

double Seconds(Clock::duration d) {
    return std::chrono::duration<double>(d).count();
}

// Seconds one client takes to send `packets` packets of 663 bytes on its data channel.
double SendAll(const uint8_t* address, int packets) {
    SimClient client(address);
    SeenEvent e;
    if (client.Open(QORLSIM_CONTROL) != 0 || !client.Next(QORLSIM_CONTROL, &e) ||
        client.Open(QORLSIM_DATA) != 0 || !client.Next(QORLSIM_DATA, &e)) {
        std::fprintf(stderr, "cannot connect\n");
        std::exit(1);
    }
    std::vector<uint8_t> piece(663);
    auto start = Clock::now();
    for (int i = 0; i < packets; i++) {
        QORL_SendData(client.handle(QORLSIM_DATA), piece.data(), 663);
    }
    double taken = Seconds(Clock::now() - start);
    QORL_Disconnect(client.handle(QORLSIM_DATA));
    QORL_Disconnect(client.handle(QORLSIM_CONTROL));
    return taken;
}

void SleepFigures(DWORD ms) {
    double total = 0, worst = 0;
    const int kRounds = 200;
    for (int i = 0; i < kRounds; i++) {
        auto start = Clock::now();
        Sleep(ms);
        double taken = Seconds(Clock::now() - start) * 1000;
        total += taken;
        worst = std::max(worst, taken);
    }
    std::printf("| Sleep(%lu) | %.2f ms mean, %.2f ms worst of %d |\n",
                static_cast<unsigned long>(ms), total / kRounds, worst, kRounds);
}

} // namespace

int main(int argc, char** argv) {
    int packets = argc > 1 ? std::atoi(argv[1]) : 1000;
    const uint32_t kRate = 2100000;
    double model = packets * 672.0 * 8 / kRate;
    QorlSim_Reset();
    uint8_t addresses[2][6] = {{0, 0x11, 0x22, 0x33, 0x44, 0x01},
                               {0, 0x11, 0x22, 0x33, 0x44, 0x02}};
    for (const uint8_t* address : addresses) {
        QorlSimPrinterConfig config;
        QorlSim_DefaultPrinterConfig(&config);
        std::memcpy(config.address, address, 6);
        config.linkRate = kRate;
        QorlSim_AddPrinter(&config);
    }
    std::printf("| figure | value |\n|---|---|\n");
    std::printf("| link model | %d packets of 672 bytes at %.1f Mbit/s: %.3f s |\n", packets,
                kRate / 1e6, model);
    double one = SendAll(addresses[0], packets);
    std::printf("| one printer | %.3f s, %.1f%% of the model's rate |\n", one, 100 * model / one);
    double taken[2] = {0, 0};
    std::thread second([&] { taken[1] = SendAll(addresses[1], packets); });
    taken[0] = SendAll(addresses[0], packets);
    second.join();
    std::printf("| two printers at once | %.3f s and %.3f s, %.1f%% and %.1f%% |\n", taken[0],
                taken[1], 100 * model / taken[0], 100 * model / taken[1]);
    SleepFigures(1);
    SleepFigures(2);
    QorlSim_Reset();
    return 0;
}
