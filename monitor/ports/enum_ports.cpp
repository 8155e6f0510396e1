// EnumPorts and OpenPort: the port list follows HCRPDB.txt. Every EnumPorts reads the file
// once, drops the ports whose printer has left it and makes one for every new printer, in
// file order; OpenPort rebuilds a port that has no channel numbers yet from its device
// record. Both name a port with MakePortName.

#include "ports/enum_ports.h"
#include "common/last_error.h"

#include "common/memory.h"
#include "devicedb/device_database.h"
#include "ports/port_record.h"

#include <algorithm>
#include <cstring>
#include <cwchar>

namespace {

int CompareAddresses(const uint8_t* a, const uint8_t* b) {
    return memcmp(a, b, 6);
}

DWORD EntrySize(DWORD level) {
    return level == 1 ? sizeof(PORT_INFO_1W) : level == 2 ? sizeof(PORT_INFO_2W) : 0;
}

// The records of one listing ordered by address, and within one address by file order, so
// that each port finds its address by a binary search instead of a walk over the file.
struct AddressIndex {
    const DeviceListEntry* entries = nullptr;
    int count = 0;
    uint32_t* order = nullptr;    // record numbers, sorted by (address, record number)
    uint32_t* nextFree = nullptr; // at a run's first position: its first position not taken
    uint8_t* taken = nullptr;     // by record number: a port holds this record's address
    WorkMemory orderMemory;
    WorkMemory nextFreeMemory;
    WorkMemory takenMemory;

    bool Build(const DeviceListEntry* listing, int records) {
        entries = listing;
        count = records;
        const size_t n = static_cast<size_t>(records);
        if (!orderMemory.Allocate(n * sizeof(uint32_t)) ||
            !nextFreeMemory.Allocate(n * sizeof(uint32_t)) || !takenMemory.Allocate(n)) {
            return false;
        }
        order = orderMemory.as<uint32_t>();
        nextFree = nextFreeMemory.as<uint32_t>();
        taken = takenMemory.as<uint8_t>();
        for (uint32_t i = 0; i < n; ++i) {
            order[i] = i;
            nextFree[i] = i;
        }
        std::sort(order, order + n, [this](uint32_t a, uint32_t b) {
            int c = CompareAddresses(entries[a].address, entries[b].address);
            return c != 0 ? c < 0 : a < b;
        });
        return true;
    }

    // The position of the first record with this address in `order`, or -1.
    int FirstPosition(const uint8_t* address) const {
        int low = 0, high = count;
        while (low < high) {
            int middle = low + (high - low) / 2;
            if (CompareAddresses(entries[order[middle]].address, address) < 0) {
                low = middle + 1;
            } else {
                high = middle;
            }
        }
        return low < count && CompareAddresses(entries[order[low]].address, address) == 0 ? low
                                                                                          : -1;
    }

    // Takes the earliest record in file order with this address that no port has taken
    // yet; false when there is none.
    bool Take(const uint8_t* address) {
        int first = FirstPosition(address);
        if (first < 0) {
            return false;
        }
        uint32_t position = nextFree[first];
        if (position >= static_cast<uint32_t>(count) ||
            CompareAddresses(entries[order[position]].address, address) != 0) {
            return false;
        }
        taken[order[position]] = 1;
        nextFree[first] = position + 1;
        return true;
    }

    // The first record in file order with the address of record i: the one a look-up of
    // that address finds.
    const DeviceListEntry& FirstWithAddressOf(uint32_t i) const {
        return entries[order[FirstPosition(entries[i].address)]];
    }
};

// Drops every port whose address no record has; a port that finds its address takes the
// earliest record with it that no earlier port took, so that the records left are the
// printers without a port. Of two ports with one address, only the first keeps it unless
// the file lists the address twice.
// A dropped port whose channels are open goes on *closing, to be closed after MonitorLock.
void DropGonePorts(MonitorHandle* monitor, AddressIndex* index, PortRecord** closing) {
    PortRecord* record = monitor->ports;
    while (record != nullptr) {
        PortRecord* next = record->next;
        if (!index->Take(record->connection.deviceAddress)) {
            DeletePortRecord(monitor, record, closing);
        }
        record = next;
    }
}

// The last record of the port list, or null.
PortRecord* LastPort(MonitorHandle* monitor) {
    PortRecord* last = monitor->ports;
    while (last != nullptr && last->next != nullptr) {
        last = last->next;
    }
    return last;
}

// Makes a port for every record no port took, in file order, named and numbered after the
// first record with its address. Returns 0, or the error of the first port that could not
// be made for want of memory (the others are made; that one comes at a later call). A
// name too long for a port is not an error: no later call would do better.
DWORD AddNewPorts(MonitorHandle* monitor, const AddressIndex& index) {
    DWORD missed = ERROR_SUCCESS;
    bool haveTimeout = false;
    DWORD retryTimeoutMs = 0;
    PortRecord* last = LastPort(monitor);
    for (uint32_t i = 0; i < static_cast<uint32_t>(index.count); ++i) {
        if (index.taken[i]) {
            continue;
        }
        const DeviceListEntry& found = index.FirstWithAddressOf(i);
        wchar_t* wide = nullptr;
        MakePortName(found.name, &wide);
        if (wide == nullptr) {
            if (missed == ERROR_SUCCESS) {
                missed = ERROR_NOT_ENOUGH_MEMORY;
            }
            continue;
        }
        PortRecord* record = CreatePortRecordAfter(monitor, last, wide);
        GlobalFree(wide);
        if (record == nullptr) {
            const DWORD error = LastErrorOr(ERROR_NOT_ENOUGH_MEMORY);
            if (error != ERROR_INVALID_NAME && missed == ERROR_SUCCESS) {
                missed = error;
            }
            continue;
        }
        last = record;
        memcpy(record->connection.deviceAddress, index.entries[i].address, 6);
        record->connection.controlPsm = found.controlPsm;
        record->connection.dataPsm = found.dataPsm;
        // Like ports made by OpenPort and AddPortEx, a port made here waits for credit as
        // long as the setting says, not just once. Read once per call.
        if (!haveTimeout) {
            ReadRetryTimeout(monitor, &retryTimeoutMs);
            haveTimeout = true;
        }
        record->connection.retryTimeoutMs = retryTimeoutMs;
    }
    return missed;
}

// One pass over the file: its records in memory, then every port compared with them.
// Returns 0, or why the list could not follow the file: a file that cannot be read or no
// memory to compare it with leaves the list as it is (dropping every port would report the
// printers gone); a port that cannot be made leaves the others made.
DWORD Reconcile(MonitorHandle* monitor, DeviceDatabase* database, PortRecord** closing) {
    DeviceListEntry* listing = nullptr;
    int records = database->ReadListing(&listing);
    if (records == DEVICE_DATABASE_NO_MEMORY) {
        return ERROR_NOT_ENOUGH_MEMORY;
    }
    if (records == DEVICE_DATABASE_UNREADABLE) {
        return LastErrorOr(ERROR_READ_FAULT);
    }
    DWORD result = ERROR_SUCCESS;
    {
        AddressIndex index;
        if (records > 0 && !index.Build(listing, records)) {
            DeviceDatabase::FreeListing(listing);
            return ERROR_NOT_ENOUGH_MEMORY;
        }
        DropGonePorts(monitor, &index, closing);
        result = AddNewPorts(monitor, index);
    }
    DeviceDatabase::FreeListing(listing);
    return result;
}

// The entries of every port in the list, or FALSE's error: 122 with the bytes needed set
// when the buffer is short.
DWORD PackPorts(MonitorHandle* monitor, DWORD level, LPBYTE buffer, DWORD size, LPDWORD needed,
                LPDWORD returned) {
    DWORD total = 0;
    for (PortRecord* record = monitor->ports; record != nullptr; record = record->next) {
        total += GetPortInfoSize(record, level);
    }
    *needed = total;
    if (total > size) {
        return ERROR_INSUFFICIENT_BUFFER;
    }
    *returned = 0;
    LPBYTE entry = buffer;
    LPBYTE end = buffer + size;
    for (PortRecord* record = monitor->ports; record != nullptr; record = record->next) {
        if (level != 1 && level != 2) {
            return ERROR_INVALID_LEVEL;
        }
        end = PackPortInfo(record, level, entry, end);
        if (end == nullptr) {
            return GetLastError();
        }
        entry += EntrySize(level);
        ++*returned;
    }
    return ERROR_SUCCESS;
}

} // namespace

BOOL WINAPI EnumPorts(HANDLE hMonitor, LPWSTR, DWORD Level, LPBYTE pPorts, DWORD cbBuf,
                      LPDWORD pcbNeeded, LPDWORD pcReturned) {
    MonitorHandle* monitor = MonitorFromHandle(hMonitor);
    if (monitor == nullptr || pcbNeeded == nullptr || pcReturned == nullptr) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    if (pPorts == nullptr) {
        cbBuf = 0;
    }
    DeviceDatabase database;
    DWORD result = ERROR_SUCCESS;
    PortRecord* closing = nullptr;
    {
        MonitorLockGuard lock;
        ReclaimRetiredPorts(monitor);
        result = Reconcile(monitor, &database, &closing);
        if (result == ERROR_SUCCESS) {
            result = PackPorts(monitor, Level, pPorts, cbBuf, pcbNeeded, pcReturned);
        }
    }
    // Dropped ports still connected: their channels close without holding up the others.
    FreeClosingPorts(closing);
    if (result != ERROR_SUCCESS) {
        SetLastError(result);
        return FALSE;
    }
    return TRUE;
}

BOOL WINAPI OpenPort(HANDLE hMonitor, LPWSTR pName, PHANDLE pHandle) {
    MonitorHandle* monitor = MonitorFromHandle(hMonitor);
    if (monitor == nullptr || pHandle == nullptr) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    // An unknown port, or one without a device record to be rebuilt from, fails with the
    // caller's error code as it was: the file calls on the way must not leave theirs (183
    // from opening an existing file) behind as if it were the reason.
    const DWORD callerError = GetLastError();
    DeviceDatabase database;
    MonitorLockGuard lock;
    PortRecord* record = FindPortRecord(monitor->ports, pName);
    if (record == nullptr) {
        return FALSE;
    }
    if (record->connection.controlPsm != 0) {
        AcquirePortHandle(record);
        *pHandle = record;
        return TRUE;
    }
    // No channel numbers yet (a port added by hand): rebuild it from its device record.
    char name[DEVICE_NAME_FIELD_SIZE];
    uint16_t thirdValue;
    int found =
        database.FindRecord(record->connection.deviceAddress, name, &record->connection.controlPsm,
                            &record->connection.dataPsm, &thirdValue);
    if (found != DEVICE_RECORD_FOUND) {
        // No record: the caller's error as it was. A file that could not be read: why.
        SetLastError(found == DEVICE_DATABASE_UNREADABLE ? LastErrorOr(ERROR_READ_FAULT)
                                                         : callerError);
        return FALSE;
    }
    wchar_t* wide = nullptr;
    MakePortName(name, &wide);
    if (wide == nullptr) {
        return FALSE; // GlobalAlloc's error stays set
    }
    PortRecord* rebuilt = CreatePortRecord(monitor, wide);
    GlobalFree(wide);
    if (rebuilt == nullptr) {
        return FALSE;
    }
    memcpy(rebuilt->connection.deviceAddress, record->connection.deviceAddress, 6);
    rebuilt->connection.controlPsm = record->connection.controlPsm;
    rebuilt->connection.dataPsm = record->connection.dataPsm;
    DWORD retryTimeoutMs = 0;
    ReadRetryTimeout(monitor, &retryTimeoutMs);
    rebuilt->connection.retryTimeoutMs = retryTimeoutMs;
    // The old record leaves the list; if the spooler still holds it, it stays usable until
    // its ClosePort.
    DeletePortRecord(monitor, record);
    AcquirePortHandle(rebuilt);
    *pHandle = rebuilt;
    return TRUE;
}

size_t MakePortName(const char* deviceName, wchar_t** out) {
    size_t length = WidenString(deviceName, out);
    if (*out != nullptr) {
        // A comma separates ports in the spooler's port lists.
        for (size_t i = 0; i < length; ++i) {
            if ((*out)[i] == L',') {
                (*out)[i] = L' ';
            }
        }
    }
    return length;
}
