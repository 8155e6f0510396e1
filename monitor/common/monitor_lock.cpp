#include "common/monitor_handle.h"

namespace {
CRITICAL_SECTION monitorLock;
LONG monitorLockInitialized;
} // namespace

// Initialised by InitializePrintMonitor2 and never deleted. A second initialisation (a
// second InitializePrintMonitor2 in the same process) must not reset a lock in use.
void MonitorLockInitialize() {
    if (InterlockedCompareExchange(&monitorLockInitialized, 1, 0) == 0) {
        InitializeCriticalSection(&monitorLock);
    }
}

void MonitorLockEnter() {
    EnterCriticalSection(&monitorLock);
}

void MonitorLockLeave() {
    LeaveCriticalSection(&monitorLock);
}
