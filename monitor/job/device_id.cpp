// GetPrinterDataFromPort (IOCTL_PAR_QUERY_DEVICE_ID only) and DeviceIdWorker.
//
// The ID is received into a work buffer of its own and copied into the cache only when a
// query stores it, so the cache always holds a terminated string inside its buffer and a
// query that stores nothing keeps the ID cached before it.
//
// A query holds its port's exchange lock, so it never overlaps a job operation on that port;
// the cache fields (deviceId, deviceIdSize, deviceIdTime) and deviceIdThread are read and
// written with MonitorLock held, which is never held while the printer is asked.

#include "job/device_id.h"

#include <cstring>

#include "common/monitor_handle.h"
#include "hcrp/stack_binding.h"
#include "job/job_path.h"
#include "ports/port_record.h"

time_t (*g_deviceIdClock)(time_t*) = time;

namespace {

time_t Now() {
    return g_deviceIdClock(nullptr);
}

bool WorkerEnded(HANDLE thread) {
    return WaitForSingleObject(thread, 0) == WAIT_OBJECT_0;
}

void ForgetEndedWorker(PortRecord* record) {
    if (record->deviceIdThread != nullptr && WorkerEnded(record->deviceIdThread)) {
        CloseHandle(record->deviceIdThread);
        record->deviceIdThread = nullptr;
    }
}

void StartWorker(PortRecord* record) {
    // Stored with MonitorLock held, as the record's lifetime check reads it, so that check
    // sees the worker from the moment it exists.
    record->deviceIdThread = CreateThread(nullptr, 0, DeviceIdWorker, record, 0, nullptr);
}

// Stores the ID whose length field (counting itself) is total from a work buffer of
// workSize bytes into the cache, terminated, and dates the cache. The ID text is cut to
// what the work buffer and the cache can hold. Called with MonitorLock held.
void StoreDeviceId(PortRecord* record, const uint8_t* work, uint32_t workSize, uint32_t total) {
    uint32_t length = total < 2 ? 0 : total - 2;
    if (workSize < 2) {
        length = 0;
    } else if (length > workSize - 2) {
        length = workSize - 2;
    }
    if (length > record->deviceIdSize - 1) {
        length = record->deviceIdSize - 1;
    }
    memset(record->deviceId, 0, record->deviceIdSize);
    memcpy(record->deviceId, work + 2, length);
    record->deviceIdTime = static_cast<int32_t>(Now());
}

// A buffer of size bytes for the cache or a query, zero-filled; null when out of memory.
uint8_t* TakeBuffer(uint32_t size) {
    return static_cast<uint8_t*>(AllocZeroedMemory(size));
}

// The ID did not fit the cache: ask again with room for all of it and, when it comes
// whole, put it in a cache of that size.
void GrowAndQuery(PortRecord* record, uint32_t total) {
    uint32_t size = total + 1;
    uint8_t* work = TakeBuffer(size);
    if (work == nullptr) {
        return;
    }
    uint16_t again = 0;
    uint32_t copied = 0;
    if (record->connection.Get1284ID(work, size, &again, &copied) && again != 0 &&
        copied == again) {
        auto* cache = reinterpret_cast<char*>(TakeBuffer(size));
        if (cache != nullptr) {
            MonitorLockGuard lock;
            GlobalFree(record->deviceId);
            record->deviceId = cache;
            record->deviceIdSize = size;
            StoreDeviceId(record, work, size, again);
        }
    }
    GlobalFree(work);
}

// The size of the cache, made at its first size when there is none; 0 when out of memory.
uint32_t CacheSize(PortRecord* record) {
    MonitorLockGuard lock;
    if (record->deviceId == nullptr) {
        record->deviceIdSize = DEVICE_ID_INITIAL_SIZE;
        record->deviceId = reinterpret_cast<char*>(TakeBuffer(DEVICE_ID_INITIAL_SIZE));
        if (record->deviceId == nullptr) {
            return 0;
        }
    }
    return record->deviceIdSize;
}

void QueryDeviceId(PortRecord* record) {
    uint32_t size = CacheSize(record);
    if (size == 0) {
        return;
    }
    uint8_t* work = TakeBuffer(size);
    if (work == nullptr) {
        return;
    }
    uint16_t total = 0;
    uint32_t copied = 0;
    if (record->connection.Get1284ID(work, size, &total, &copied)) {
        if (total != 0 && copied == total) {
            MonitorLockGuard lock;
            StoreDeviceId(record, work, size, total);
        } else if (total == 0 || total > DEVICE_ID_INITIAL_SIZE + 1) {
            SetLastError(ERROR_INSUFFICIENT_BUFFER);
        }
    } else if (total != 0 && total <= size) {
        // A later exchange failed: keep what arrived of the ID.
        MonitorLockGuard lock;
        StoreDeviceId(record, work, size, total);
    } else if (total != 0) {
        // The first reply alone did not fit (an ID of 264 bytes or more against 263).
        GrowAndQuery(record, total);
    }
    GlobalFree(work);
}

} // namespace

DWORD WINAPI DeviceIdWorker(LPVOID parameter) {
    auto* record = static_cast<PortRecord*>(parameter);
    ExchangeLock exchange(record->connection);
    if (!BindStack()) {
        return 0;
    }
    if (!EnsureConnected(record)) {
        SetLastError(ERROR_INVALID_HANDLE);
        return 0;
    }
    QueryDeviceId(record);
    if (!(record->flags & PORT_DOC_STARTED)) {
        record->connection.Disconnect();
        ReleaseStackIfIdle();
    }
    return 0;
}

BOOL WINAPI GetPrinterDataFromPort(HANDLE hPort, DWORD ControlID, LPWSTR, LPWSTR, DWORD,
                                   LPWSTR lpOutBuffer, DWORD cbOutBuffer, LPDWORD lpcbReturned) {
    if (ControlID == 0) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    PortCall call(hPort);
    PortRecord* record = call.record();
    if (record == nullptr) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    if (ControlID != IOCTL_PAR_QUERY_DEVICE_ID) {
        return TRUE;
    }
    if (lpcbReturned == nullptr || (lpOutBuffer == nullptr && cbOutBuffer != 0)) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    bool refreshHere = false;
    {
        MonitorLockGuard lock;
        // Until an ID has been stored (deviceIdTime is set with it) there is nothing to
        // answer but "ask again": an empty cache left by a query that failed (no memory, no
        // answer) is not the printer's ID.
        if (record->deviceId == nullptr || record->deviceIdTime == 0) {
            if (record->deviceIdThread != nullptr) {
                ForgetEndedWorker(record);
            } else {
                StartWorker(record);
            }
            *lpcbReturned = 0;
            SetLastError(ERROR_IO_PENDING);
            return FALSE;
        }
        time_t now = Now();
        if (difftime(now, static_cast<time_t>(record->deviceIdTime)) > DEVICE_ID_LIFETIME_SECONDS) {
            ForgetEndedWorker(record);
            if (record->connection.IsConnected()) {
                record->deviceIdTime = static_cast<int32_t>(now);
                refreshHere = true;
            } else if (record->deviceIdThread == nullptr) {
                StartWorker(record);
            }
        }
    }
    if (refreshHere) {
        // On this thread, without MonitorLock: the exchange waits only for this port.
        DeviceIdWorker(record);
    }
    MonitorLockGuard lock;
    size_t length =
        record->deviceId != nullptr ? strnlen(record->deviceId, record->deviceIdSize) : 0;
    *lpcbReturned = static_cast<DWORD>(length);
    if (length == 0) {
        return TRUE;
    }
    *lpcbReturned = static_cast<DWORD>(length + 1);
    if (length + 1 > cbOutBuffer) {
        *lpcbReturned = 0;
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return FALSE;
    }
    memcpy(lpOutBuffer, record->deviceId, length + 1);
    return TRUE;
}
