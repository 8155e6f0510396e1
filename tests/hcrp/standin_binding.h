#pragma once
// Binds the monitor's StackBinding to the simulated stack QORLIB.DLL that the test program
// links, and builds ports (connection records) for its printers.

#include <cstdint>
#include <vector>

#include "hcrp/hcrp_connection.h"
#include "qorlib_control.h"

// Points g_stackBinding at the linked QORLIB.DLL, so that LoadQORLIB finds it bound.
void BindStandIn();
void UnbindStandIn();

// A default simulated printer at `address` (PSMs 0x1001/0x1003), data outMtu 1024, no link
// rate limit and a small latency.
QorlSimPrinterConfig StandInPrinter(const uint8_t* address);

// A port's connection record for the printer at `address`, zero-filled and initialised.
struct StandInPort {
    explicit StandInPort(const uint8_t* address);
    ~StandInPort();
    HcrpConnection* operator->() { return record; }
    HcrpConnection* record;
    uint8_t address[6];
};

std::vector<uint8_t> SinkOf(const uint8_t* address);
QorlSimStats StatsOf(const uint8_t* address);
std::vector<uint8_t> Pattern(size_t size, uint32_t seed);
