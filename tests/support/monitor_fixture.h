#pragma once
// The monitor initialised as the spooler initialises it (InitializePrintMonitor2 with a
// local MONITORINIT), shut down after each test; a test may put a MONITORREG of its own in
// place of the registry access that initialisation installed.

#include <gtest/gtest.h>

#include "entry/monitor.h"

namespace testsupport {

class MonitorTest : public ::testing::Test {
  protected:
    void SetUp() override {
        init_ = {};
        init_.cbSize = sizeof(init_);
        init_.bLocal = TRUE;
        table_ = InitializePrintMonitor2(&init_, &handle_);
        ASSERT_NE(table_, nullptr);
        monitor_ = static_cast<MonitorHandle*>(handle_);
    }

    void TearDown() override {
        if (table_ != nullptr) {
            table_->pfnShutdown(handle_);
            table_ = nullptr;
        }
    }

    // The monitor reaches the registry only through the MONITORINIT it keeps: these
    // functions, this root and this spooler handle from now on.
    void UseRegistry(MONITORREG* reg, HANDLE root, HANDLE spooler) {
        MONITORINIT* kept = monitor_->monitorInit;
        kept->pMonitorReg = reg;
        if (root != nullptr) {
            kept->hckRegistryRoot = reinterpret_cast<HKEYMONITOR>(root);
        }
        kept->hSpooler = spooler;
    }

    MONITORINIT init_ = {};
    HANDLE handle_ = nullptr;
    Monitor2Table* table_ = nullptr;
    MonitorHandle* monitor_ = nullptr;
};

} // namespace testsupport
