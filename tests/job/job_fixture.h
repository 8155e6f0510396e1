#pragma once
// A monitor set up as the spooler would, with its spooler-client calls answered by a
// SpoolerRecorder, and a helper to make ports.

#include <gtest/gtest.h>

#include <windows.h>

#include "entry/monitor.h"
#include "hcrp/stack_binding.h"
#include "job/device_id.h"
#include "job/job_path.h"
#include "job/port_status.h"
#include "ports/port_record.h"
#include "spooler_recorder.h"
#include "support/monitor_fixture.h"

namespace jobtest {

class MonitorFixture : public testsupport::MonitorTest {
  protected:
    void SetUp() override {
        MonitorTest::SetUp();
        g_deviceIdClock = time;
    }

    void TearDown() override {
        MonitorTest::TearDown();
        g_deviceIdClock = time;
        g_stackBinding.Unload();
    }

    // A port on printer address 00:11:22:33:44:<last> with the given channel numbers.
    PortRecord* AddPort(const wchar_t* name, uint8_t last = 0x55, uint16_t controlPsm = 0x1001,
                        uint16_t dataPsm = 0x1003, uint32_t retryTimeoutMs = 45000) {
        MonitorLockGuard lock;
        PortRecord* record = CreatePortRecord(monitor_, name);
        if (record != nullptr) {
            const uint8_t address[6] = {0x00, 0x11, 0x22, 0x33, 0x44, last};
            memcpy(record->connection.deviceAddress, address, 6);
            record->connection.controlPsm = controlPsm;
            record->connection.dataPsm = dataPsm;
            record->connection.retryTimeoutMs = retryTimeoutMs;
        }
        return record;
    }

    SpoolerRecorder spooler_;
};

} // namespace jobtest
