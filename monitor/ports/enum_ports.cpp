// EnumPorts and OpenPort: the port list follows HCRPDB.txt. Every EnumPorts drops the ports
// whose printer has left the file and makes one for every new printer, in file order;
// OpenPort rebuilds a port that has no channel numbers yet from its device record.

#include "ports/enum_ports.h"

#include "devicedb/device_database.h"
#include "ports/port_record.h"

#include <cstring>
#include <cwchar>

const wchar_t RETRY_TIMEOUT_VALUE_NAME[] = L"TransmissionRetryTimeout";

namespace {

bool SameAddress(const uint8_t* a, const uint8_t* b) {
    return memcmp(a, b, 6) == 0;
}

DWORD EntrySize(DWORD level) {
    return level == 1 ? sizeof(PORT_INFO_1W) : level == 2 ? sizeof(PORT_INFO_2W) : 0;
}

// Drops every port whose address is not in the list; a port that finds its address takes
// that entry out of the list, so that what remains are the printers without a port. Of two
// ports with one address, only the first keeps it.
void DropGonePorts(MonitorHandle* monitor, uint8_t (*addresses)[6], int* count) {
    PortRecord* record = monitor->ports;
    while (record != nullptr) {
        PortRecord* next = record->next;
        int match = -1;
        for (int i = 0; i < *count; ++i) {
            if (SameAddress(addresses[i], record->connection.deviceAddress)) {
                match = i;
                break;
            }
        }
        if (match < 0) {
            DeletePortRecord(monitor, record);
        } else {
            memmove(addresses[match], addresses[match + 1],
                    static_cast<size_t>(*count - match - 1) * 6);
            --*count;
        }
        record = next;
    }
}

// Makes a port for every address left, in list order, named after its device record.
void AddNewPorts(MonitorHandle* monitor, DeviceDatabase* database, uint8_t (*addresses)[6],
                 int count) {
    bool haveTimeout = false;
    DWORD retryTimeoutMs = 0;
    for (int i = 0; i < count; ++i) {
        char name[DEVICE_NAME_FIELD_SIZE];
        uint16_t controlPsm, dataPsm, thirdValue;
        // Made even when the look-up fails: the port then has an empty name and no PSMs,
        // and OpenPort rebuilds it once the record is readable.
        database->FindRecord(addresses[i], name, &controlPsm, &dataPsm, &thirdValue);
        for (char* c = name; *c != '\0'; ++c) {
            if (*c == ',') {
                *c = ' ';
            }
        }
        wchar_t* wide = nullptr;
        WidenString(name, &wide);
        if (wide == nullptr) {
            continue; // out of memory: tried again at the next call
        }
        PortRecord* record = CreatePortRecord(monitor, wide);
        GlobalFree(wide);
        if (record == nullptr) {
            continue;
        }
        memcpy(record->connection.deviceAddress, addresses[i], 6);
        record->connection.controlPsm = controlPsm;
        record->connection.dataPsm = dataPsm;
        // Like ports made by OpenPort and AddPortEx, a port made here waits for credit as
        // long as the setting says, not just once. Read once per call.
        if (!haveTimeout) {
            ReadRetryTimeout(monitor, &retryTimeoutMs);
            haveTimeout = true;
        }
        record->connection.retryTimeoutMs = retryTimeoutMs;
    }
}

void Reconcile(MonitorHandle* monitor, DeviceDatabase* database) {
    int records = database->CountRecords();
    uint8_t(*addresses)[6] = nullptr;
    int count = 0;
    if (records > 0) {
        addresses = static_cast<uint8_t(*)[6]>(AllocZeroedMemory(static_cast<size_t>(records) * 6));
        if (addresses == nullptr) {
            // Out of memory for the address list: the file cannot be compared with the
            // list, so the list stays as it is and is reported unchanged.
            return;
        }
        int read = database->ReadAddresses(records, addresses);
        count = read < records ? read : records;
        if (count < 0) {
            count = 0;
        }
    }
    DropGonePorts(monitor, addresses, &count);
    AddNewPorts(monitor, database, addresses, count);
    if (addresses != nullptr) {
        GlobalFree(addresses);
    }
}

} // namespace

BOOL WINAPI EnumPorts(HANDLE hMonitor, LPWSTR, DWORD Level, LPBYTE pPorts, DWORD cbBuf,
                      LPDWORD pcbNeeded, LPDWORD pcReturned) {
    auto* monitor = static_cast<MonitorHandle*>(hMonitor);
    if (monitor == nullptr || pcbNeeded == nullptr || pcReturned == nullptr) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    if (pPorts == nullptr) {
        cbBuf = 0;
    }
    DeviceDatabase database;
    DWORD result = ERROR_SUCCESS;
    {
        MonitorLockGuard lock;
        ReclaimRetiredPorts(monitor);
        Reconcile(monitor, &database);

        DWORD needed = 0;
        for (PortRecord* record = monitor->ports; record != nullptr; record = record->next) {
            needed += GetPortInfoSize(record, Level);
        }
        *pcbNeeded = needed;
        if (needed > cbBuf) {
            result = ERROR_INSUFFICIENT_BUFFER;
        } else {
            *pcReturned = 0;
            LPBYTE entry = pPorts;
            LPBYTE end = pPorts + cbBuf;
            for (PortRecord* record = monitor->ports; record != nullptr; record = record->next) {
                if (Level != 1 && Level != 2) {
                    result = ERROR_INVALID_LEVEL;
                    break;
                }
                end = PackPortInfo(record, Level, entry, end);
                if (end == nullptr) {
                    result = GetLastError();
                    break;
                }
                entry += EntrySize(Level);
                ++*pcReturned;
            }
        }
    }
    if (result != ERROR_SUCCESS) {
        SetLastError(result);
        return FALSE;
    }
    return TRUE;
}

BOOL WINAPI OpenPort(HANDLE hMonitor, LPWSTR pName, PHANDLE pHandle) {
    auto* monitor = static_cast<MonitorHandle*>(hMonitor);
    if (monitor == nullptr || pHandle == nullptr) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    // An unknown port, or one that cannot be rebuilt, fails with the caller's error code
    // as it was: the file calls on the way must not leave theirs (183 from opening an
    // existing file) behind as if it were the reason.
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
        SetLastError(callerError);
        return FALSE;
    }
    wchar_t* wide = nullptr;
    WidenString(name, &wide);
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

BOOL ReadRetryTimeout(MonitorHandle* monitor, DWORD* timeoutMs) {
    MONITORINIT* init = monitor != nullptr ? monitor->monitorInit : nullptr;
    MONITORREG* reg = init != nullptr ? init->pMonitorReg : nullptr;
    wchar_t text[21] = {}; // 20 characters for the query, and a terminator of our own
    DWORD size = 20 * sizeof(wchar_t);
    LONG status = ERROR_CALL_NOT_IMPLEMENTED;
    if (reg != nullptr && reg->fpQueryValue != nullptr) {
        status = reg->fpQueryValue(init->hckRegistryRoot, RETRY_TIMEOUT_VALUE_NAME, nullptr,
                                   reinterpret_cast<PBYTE>(text), &size, init->hSpooler);
    }
    long seconds;
    if (status != ERROR_SUCCESS) {
        seconds = DEFAULT_RETRY_TIMEOUT_SECONDS;
        wchar_t defaultText[12];
        swprintf(defaultText, 12, L"%ld", seconds);
        if (reg != nullptr && reg->fpSetValue != nullptr) {
            reg->fpSetValue(init->hckRegistryRoot, RETRY_TIMEOUT_VALUE_NAME, REG_SZ,
                            reinterpret_cast<const BYTE*>(defaultText),
                            static_cast<DWORD>((wcslen(defaultText) + 1) * sizeof(wchar_t)),
                            init->hSpooler);
        }
    } else {
        text[20] = L'\0';
        seconds = wcstol(text, nullptr, 10);
    }
    // Kept as the 32-bit product, as ports have always stored it.
    *timeoutMs = static_cast<DWORD>(static_cast<uint32_t>(seconds) * 1000u);
    return TRUE;
}
