#pragma once
// The simulated Bluetooth stack for job tests: its stack process (Tarnwick.exe, started and
// ended by the test program itself) and printers on it, reached through QORLIB.DLL's
// control interface. The test program links QORLIB.DLL, so the printers' state survives the
// monitor's own loads and unloads of the library.

#include <windows.h>

#include <cstring>
#include <string>
#include <vector>

#include "qorlib_control.h"

namespace jobtest {

class StackProcess {
  public:
    // Starts Tarnwick.exe from the test program's directory and waits until it is seen.
    static bool Start();
    // Ends the instance this program started, and waits for it to be gone.
    static void Stop();
    static bool Running();

  private:
    static PROCESS_INFORMATION process_;
};

struct SimPrinter {
    uint8_t address[6];
    QorlSimPrinterConfig config;
    std::string deviceId;

    explicit SimPrinter(uint8_t last) {
        const uint8_t base[6] = {0x00, 0x11, 0x22, 0x33, 0x44, last};
        memcpy(address, base, 6);
        QorlSim_DefaultPrinterConfig(&config);
        memcpy(config.address, address, 6);
        config.latencyUs = 100;
    }

    bool Add() {
        config.deviceId = deviceId.c_str();
        config.deviceIdLength = static_cast<uint32_t>(deviceId.size());
        return QorlSim_AddPrinter(&config) == 0;
    }

    std::vector<uint8_t> Sink() const {
        int32_t size = QorlSim_GetSink(address, 0, nullptr, 0);
        std::vector<uint8_t> bytes(size > 0 ? static_cast<size_t>(size) : 0);
        if (size > 0) {
            QorlSim_GetSink(address, 0, bytes.data(), static_cast<uint32_t>(size));
        }
        return bytes;
    }

    QorlSimStats Stats() const {
        QorlSimStats stats = {};
        QorlSim_GetStats(address, &stats);
        return stats;
    }

    void SetStatus(uint8_t status) const { QorlSim_SetStatus(address, status); }

    void Fault(uint32_t kind, uint32_t value, int32_t count, uint16_t pduId = 0,
               uint32_t afterBytes = 0, uint32_t channels = 0) const {
        QorlSimFault fault = {kind, channels, value, count, pduId, 0, afterBytes};
        QorlSim_SetFault(address, &fault);
    }

    // Both channels closed from the printer's side, as when it is switched off.
    void DropLink() const {
        QorlSim_DropChannel(address, QORLSIM_CONTROL | QORLSIM_DATA, 4);
        QorlSim_WaitIdle(2000);
    }
};

// Bytes of a recognisable pattern, different for each seed.
std::vector<uint8_t> JobBytes(size_t size, uint32_t seed);

} // namespace jobtest
