// Port records and Xcv handles in their lists, and the lifetime of records that the
// spooler or a device-ID worker still uses after they have left the port list.

#include "ports/port_record.h"

#include <cstring>
#include <cwchar>
#include <initializer_list>

PortRecord* CreatePortRecord(MonitorHandle* monitor, const wchar_t* name) {
    PortRecord* last = monitor != nullptr ? monitor->ports : nullptr;
    while (last != nullptr && last->next != nullptr) {
        last = last->next;
    }
    return CreatePortRecordAfter(monitor, last, name);
}

PortRecord* CreatePortRecordAfter(MonitorHandle* monitor, PortRecord* last, const wchar_t* name) {
    if (monitor == nullptr) {
        SetLastError(ERROR_INVALID_HANDLE);
        return nullptr;
    }
    if (name == nullptr || wcslen(name) > MAX_PORT_NAME_LENGTH) {
        SetLastError(ERROR_INVALID_NAME);
        return nullptr;
    }
    size_t nameBytes = 2 * (wcslen(name) + 1);
    size_t size = offsetof(PortRecord, nameCharacters) + nameBytes;
    auto* record = static_cast<PortRecord*>(AllocZeroedMemory(size));
    if (record == nullptr) {
        return nullptr;
    }
    memcpy(record->nameCharacters, name, nameBytes);
    record->name = record->nameCharacters;
    record->size = static_cast<uint32_t>(size);
    record->next = nullptr;
    record->monitor = monitor;
    record->signature = PORT_RECORD_SIGNATURE;
    record->status.portInfo.dwSeverity = PORT_STATUS_TYPE_ERROR;
    record->connection.Initialize();
    PortRecord** link = last != nullptr ? &last->next : &monitor->ports;
    *link = record;
    return record;
}

PortRecord* FindPortRecord(PortRecord* first, const wchar_t* name) {
    if (name == nullptr) {
        return nullptr;
    }
    for (PortRecord* record = first; record != nullptr; record = record->next) {
        if (wcscmp(record->name, name) == 0) {
            return record;
        }
    }
    return nullptr;
}

bool PortNameTaken(MonitorHandle* monitor, const wchar_t* name) {
    for (PortRecord* record = monitor->ports; record != nullptr; record = record->next) {
        // Any letter case: the spooler tells port names apart without regard to it.
        if (lstrcmpiW(record->name, name) == 0) {
            return true;
        }
    }
    return false;
}

namespace {

bool WorkerRunning(const PortRecord* record) {
    return record->deviceIdThread != nullptr &&
           WaitForSingleObject(record->deviceIdThread, 0) != WAIT_OBJECT_0;
}

bool StillInUse(const PortRecord* record) {
    return record->openCount > 0 || record->callCount > 0 || WorkerRunning(record);
}

bool Listed(PortRecord* first, const PortRecord* record) {
    for (PortRecord* port = first; port != nullptr; port = port->next) {
        if (port == record) {
            return true;
        }
    }
    return false;
}

bool ChannelsOpen(const PortRecord* record) {
    return record->connection.channelFlags != 0 || record->connection.stackHold != 0;
}

// A record taken off the port list is freed at once unless the spooler holds it open or
// a worker runs on it; then it waits in the retired list until neither holds. One with
// open channels goes on the caller's closing list when it keeps one.
void RetireOrFree(MonitorHandle* monitor, PortRecord* record, PortRecord** closing) {
    if (!StillInUse(record)) {
        if (closing != nullptr && ChannelsOpen(record)) {
            record->next = *closing;
            *closing = record;
            return;
        }
        FreePortRecord(record);
        return;
    }
    record->retired = 1;
    record->next = monitor->retiredPorts;
    monitor->retiredPorts = record;
}

} // namespace

void FreePortRecord(PortRecord* record) {
    // Nothing uses the record any more; channels still open (a port dropped while connected
    // with no handle held) are closed first, so that no channel event reaches freed memory.
    if (ChannelsOpen(record)) {
        record->connection.Disconnect();
    }
    if (record->deviceId != nullptr) {
        GlobalFree(record->deviceId);
    }
    if (record->printerName != nullptr) {
        GlobalFree(record->printerName);
    }
    if (record->status.printerInfo != nullptr) {
        GlobalFree(record->status.printerInfo);
    }
    if (record->deviceIdThread != nullptr) {
        CloseHandle(record->deviceIdThread);
    }
    record->connection.Release();
    record->signature = 0;
    GlobalFree(record);
}

BOOL DeletePortRecord(MonitorHandle* monitor, PortRecord* record, PortRecord** closing) {
    if (monitor == nullptr || record == nullptr) {
        return FALSE;
    }
    for (PortRecord** link = &monitor->ports; *link != nullptr; link = &(*link)->next) {
        if (*link == record) {
            *link = record->next;
            RetireOrFree(monitor, record, closing);
            return TRUE;
        }
    }
    return FALSE;
}

BOOL DeletePortRecordByName(MonitorHandle* monitor, const wchar_t* name, PortRecord** closing) {
    if (monitor == nullptr || name == nullptr) {
        return FALSE;
    }
    for (PortRecord** link = &monitor->ports; *link != nullptr; link = &(*link)->next) {
        PortRecord* record = *link;
        if (lstrcmpiW(record->name, name) == 0) {
            *link = record->next;
            RetireOrFree(monitor, record, closing);
            return TRUE;
        }
    }
    return FALSE;
}

void FreeClosingPorts(PortRecord* closing) {
    while (closing != nullptr) {
        PortRecord* next = closing->next;
        FreePortRecord(closing);
        closing = next;
    }
}

void AcquirePortHandle(PortRecord* record) {
    InterlockedIncrement(&record->openCount);
}

void ReleasePortHandle(PortRecord* record) {
    if (record->openCount > 0) {
        InterlockedDecrement(&record->openCount);
    }
    if (record->retired && record->monitor != nullptr) {
        ReclaimRetiredPorts(record->monitor);
    }
}

void ReclaimRetiredPorts(MonitorHandle* monitor) {
    PortRecord** link = &monitor->retiredPorts;
    while (*link != nullptr) {
        PortRecord* record = *link;
        if (StillInUse(record)) {
            link = &record->next;
        } else {
            *link = record->next;
            FreePortRecord(record);
        }
    }
}

void FreeAllPortRecords(MonitorHandle* monitor) {
    // A device-ID worker uses its record until it ends. It waits for nothing the caller
    // holds, so it runs to its end; wait for every one of them before freeing any record.
    for (PortRecord* list : {monitor->ports, monitor->retiredPorts}) {
        for (PortRecord* record = list; record != nullptr; record = record->next) {
            if (record->deviceIdThread != nullptr) {
                WaitForSingleObject(record->deviceIdThread, INFINITE);
            }
        }
    }
    for (PortRecord** list : {&monitor->ports, &monitor->retiredPorts}) {
        while (*list != nullptr) {
            PortRecord* next = (*list)->next;
            FreePortRecord(*list);
            *list = next;
        }
    }
}

void FreeAllXcvHandles(MonitorHandle* monitor) {
    while (monitor->xcvHandles != nullptr) {
        XcvHandle* next = monitor->xcvHandles->next;
        GlobalFree(monitor->xcvHandles);
        monitor->xcvHandles = next;
    }
}

PortRecord* PinPort(HANDLE handle) {
    if (handle == nullptr) {
        return nullptr;
    }
    auto* record = static_cast<PortRecord*>(handle);
    MonitorLockGuard lock;
    // Compared as addresses only: a handle is not read until it is known to be a record.
    for (MonitorHandle* monitor = g_monitors; monitor != nullptr; monitor = monitor->nextMonitor) {
        if ((Listed(monitor->ports, record) || Listed(monitor->retiredPorts, record)) &&
            record->signature == PORT_RECORD_SIGNATURE) {
            record->callCount++;
            return record;
        }
    }
    return nullptr;
}

void UnpinPort(PortRecord* record) {
    if (record == nullptr) {
        return;
    }
    MonitorLockGuard lock;
    if (record->callCount > 0) {
        record->callCount--;
    }
    if (record->retired && record->monitor != nullptr) {
        ReclaimRetiredPorts(record->monitor);
    }
}

XcvHandle* CreateXcvHandle(MonitorHandle* monitor, const wchar_t* objectName, uint32_t access) {
    if (monitor == nullptr) {
        SetLastError(ERROR_INVALID_HANDLE);
        return nullptr;
    }
    if (objectName == nullptr) {
        objectName = L"";
    }
    size_t nameBytes = 2 * (wcslen(objectName) + 1);
    size_t size = offsetof(XcvHandle, nameCharacters) + nameBytes;
    auto* handle = static_cast<XcvHandle*>(AllocZeroedMemory(size));
    if (handle == nullptr) {
        return nullptr;
    }
    memcpy(handle->nameCharacters, objectName, nameBytes);
    handle->objectName = handle->nameCharacters;
    handle->signature = XCV_HANDLE_SIGNATURE;
    handle->size = static_cast<uint32_t>(size);
    handle->grantedAccess = access;
    handle->monitor = monitor;
    handle->next = nullptr;
    XcvHandle** link = &monitor->xcvHandles;
    while (*link != nullptr) {
        link = &(*link)->next;
    }
    *link = handle;
    return handle;
}

BOOL DeleteXcvHandle(XcvHandle* handle) {
    if (handle == nullptr || handle->monitor == nullptr) {
        return FALSE;
    }
    for (XcvHandle** link = &handle->monitor->xcvHandles; *link != nullptr; link = &(*link)->next) {
        if (*link == handle) {
            *link = handle->next;
            handle->signature = 0;
            GlobalFree(handle);
            return TRUE;
        }
    }
    return FALSE;
}
