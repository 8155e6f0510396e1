// The spooler client calls that the spooler host binds the library's imports to
// (OpenPrinterW, GetPrinterW, SetPortW, SetJobW, ClosePrinter), the printers they open, and
// what the monitor posted.

#include "spooler_host_parts.h"

#include <cstring>
#include <map>

namespace prnlink {

namespace {

// Guards the fields below; never held across a monitor call or an observer.
CRITICAL_SECTION* HostLockSection() {
    struct Section {
        CRITICAL_SECTION section;
        Section() { InitializeCriticalSection(&section); }
    };
    static Section lock;
    return &lock.section;
}

class HostLock {
  public:
    HostLock() { EnterCriticalSection(HostLockSection()); }
    ~HostLock() { LeaveCriticalSection(HostLockSection()); }
};

// Printers opened by the monitor, by handle value. A handle is a number that is never given
// out twice, so that a closed handle is told apart from a live one (the monitor relies on
// ERROR_INVALID_HANDLE for a closed handle) without keeping anything of it after
// ClosePrinter: a host that prints for days holds only the printers open now.
struct FakePrinter {
    std::wstring name;
};
std::map<HANDLE, FakePrinter> g_printers;
uintptr_t g_lastPrinterHandle = 0x50480000; // "PH", out of the range of the system's handles
std::wstring g_printerPort;
SpoolerHostEvents g_events;
bool g_hasStatus;
PortStatusPost g_lastStatus;

FakePrinter* FindOpenPrinter(HANDLE handle) {
    auto printer = g_printers.find(handle);
    return printer != g_printers.end() ? &printer->second : nullptr;
}

} // namespace

BOOL WINAPI HostOpenPrinterW(LPWSTR name, LPHANDLE printer, LPPRINTER_DEFAULTSW) {
    if (printer == nullptr) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    // There is no real printer: any name opens one that prints to the host's port.
    HostLock lock;
    g_lastPrinterHandle += 4;
    HANDLE handle = reinterpret_cast<HANDLE>(g_lastPrinterHandle);
    g_printers[handle].name = name != nullptr ? name : L"";
    *printer = handle;
    return TRUE;
}

BOOL WINAPI HostGetPrinterW(HANDLE handle, DWORD level, LPBYTE buffer, DWORD size, LPDWORD needed) {
    HostLock lock;
    FakePrinter* printer = FindOpenPrinter(handle);
    if (printer == nullptr) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    if (level != 2) {
        SetLastError(ERROR_INVALID_LEVEL);
        return FALSE;
    }
    const std::wstring driver = L"Prnlink host";
    const std::wstring processor = L"winprint";
    const std::wstring datatype = L"RAW";
    const std::wstring* strings[] = {&printer->name, &g_printerPort, &driver, &processor,
                                     &datatype};
    DWORD total = sizeof(PRINTER_INFO_2W);
    for (const std::wstring* text : strings) {
        total += static_cast<DWORD>((text->size() + 1) * sizeof(wchar_t));
    }
    if (needed != nullptr) {
        *needed = total;
    }
    if (buffer == nullptr || size < total) {
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return FALSE;
    }
    std::memset(buffer, 0, total);
    auto* info = reinterpret_cast<PRINTER_INFO_2W*>(buffer);
    auto* cursor = reinterpret_cast<wchar_t*>(buffer + sizeof(PRINTER_INFO_2W));
    wchar_t* placed[5];
    for (int i = 0; i < 5; ++i) {
        placed[i] = cursor;
        std::memcpy(cursor, strings[i]->c_str(), (strings[i]->size() + 1) * sizeof(wchar_t));
        cursor += strings[i]->size() + 1;
    }
    info->pPrinterName = placed[0];
    info->pPortName = placed[1];
    info->pDriverName = placed[2];
    info->pPrintProcessor = placed[3];
    info->pDatatype = placed[4];
    info->Attributes = PRINTER_ATTRIBUTE_LOCAL;
    info->Priority = 1;
    info->Status = 0;
    return TRUE;
}

BOOL WINAPI HostSetPortW(LPWSTR, LPWSTR portName, DWORD level, LPBYTE portInfo) {
    if (level != 3 || portInfo == nullptr) {
        SetLastError(ERROR_INVALID_LEVEL);
        return FALSE;
    }
    auto* info = reinterpret_cast<PORT_INFO_3W*>(portInfo);
    PortStatusPost post;
    post.portName = portName != nullptr ? portName : L"";
    post.status = info->dwStatus;
    // The text is the monitor's and valid only during this call: keep a copy.
    post.text = info->pszStatus != nullptr ? info->pszStatus : L"";
    post.severity = info->dwSeverity;
    std::function<void(const PortStatusPost&)> observer;
    {
        HostLock lock;
        g_lastStatus = post;
        g_hasStatus = true;
        observer = g_events.portStatus;
    }
    if (observer) {
        observer(post);
    }
    return TRUE;
}

BOOL WINAPI HostSetJobW(HANDLE handle, DWORD jobId, DWORD, LPBYTE, DWORD command) {
    std::function<void(uint32_t, uint32_t)> observer;
    {
        HostLock lock;
        if (FindOpenPrinter(handle) == nullptr) {
            SetLastError(ERROR_INVALID_HANDLE);
            return FALSE;
        }
        observer = g_events.jobCommand;
    }
    if (observer) {
        observer(jobId, command);
    }
    return TRUE;
}

BOOL WINAPI HostClosePrinter(HANDLE handle) {
    HostLock lock;
    if (g_printers.erase(handle) == 0) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    return TRUE;
}

void SetPrinterPort(const std::wstring& port) {
    HostLock lock;
    g_printerPort = port;
}

void SetSpoolerHostEvents(const SpoolerHostEvents& events) {
    HostLock lock;
    g_events = events;
}

bool LastPortStatus(PortStatusPost* post) {
    HostLock lock;
    if (g_hasStatus && post != nullptr) {
        *post = g_lastStatus;
    }
    return g_hasStatus;
}

void ForgetPortStatus() {
    HostLock lock;
    g_hasStatus = false;
}

int OpenPrinterCount() {
    HostLock lock;
    return static_cast<int>(g_printers.size());
}

} // namespace prnlink
