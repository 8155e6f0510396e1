#include "spooler_registration.h"

#include "command_support.h"
#include "spooler_host.h"

#include <winspool.h>

namespace prnlink {

namespace {

// A winspool enumeration: size query, then the call; false with the error code.
template <typename Call>
bool Enumerate(Call call, std::vector<BYTE>* buffer, DWORD* count, DWORD* error) {
    for (int attempt = 0; attempt < 3; ++attempt) {
        DWORD needed = 0;
        *count = 0;
        SetLastError(0);
        if (call(buffer->empty() ? nullptr : buffer->data(), static_cast<DWORD>(buffer->size()),
                 &needed, count)) {
            return true;
        }
        DWORD code = GetLastError();
        if (code != ERROR_INSUFFICIENT_BUFFER || needed == 0) {
            *error = code != 0 ? code : static_cast<DWORD>(ERROR_INVALID_DATA);
            return false;
        }
        buffer->assign(needed, 0);
    }
    *error = ERROR_INSUFFICIENT_BUFFER;
    return false;
}

std::wstring Text(const wchar_t* text) {
    return text != nullptr ? text : L"";
}

} // namespace

bool RegisteredMonitors(std::vector<RegisteredMonitor>* monitors, DWORD* error) {
    std::vector<BYTE> buffer;
    DWORD count = 0;
    if (!Enumerate(
            [](BYTE* data, DWORD size, DWORD* needed, DWORD* returned) {
                return EnumMonitorsW(nullptr, 2, data, size, needed, returned) != FALSE;
            },
            &buffer, &count, error)) {
        return false;
    }
    auto* entries = reinterpret_cast<MONITOR_INFO_2W*>(buffer.data());
    for (DWORD i = 0; i < count; ++i) {
        monitors->push_back({Text(entries[i].pName), Text(entries[i].pDLLName)});
    }
    return true;
}

const RegisteredMonitor* FindMonitor(const std::vector<RegisteredMonitor>& monitors,
                                     const std::wstring& name) {
    for (const RegisteredMonitor& monitor : monitors) {
        if (lstrcmpiW(monitor.name.c_str(), name.c_str()) == 0) {
            return &monitor;
        }
    }
    return nullptr;
}

bool SpoolerPortNames(std::vector<std::wstring>* names, DWORD* error) {
    std::vector<BYTE> buffer;
    DWORD count = 0;
    if (!Enumerate(
            [](BYTE* data, DWORD size, DWORD* needed, DWORD* returned) {
                return EnumPortsW(nullptr, 1, data, size, needed, returned) != FALSE;
            },
            &buffer, &count, error)) {
        return false;
    }
    auto* entries = reinterpret_cast<PORT_INFO_1W*>(buffer.data());
    for (DWORD i = 0; i < count; ++i) {
        names->push_back(Text(entries[i].pName));
    }
    return true;
}

bool IsPortMonitorLibrary(const std::wstring& path) {
    HMODULE module = LoadLibraryExW(path.c_str(), nullptr, DONT_RESOLVE_DLL_REFERENCES);
    if (module == nullptr) {
        return false;
    }
    bool monitor = GetProcAddress(module, "InitializePrintMonitor2") != nullptr;
    FreeLibrary(module);
    return monitor;
}

bool PrintersOnMonitorPorts(const std::wstring& libraryPath, std::vector<PrinterOnPort>* users,
                            DWORD* error) {
    std::vector<BYTE> buffer;
    DWORD count = 0;
    if (!Enumerate(
            [](BYTE* data, DWORD size, DWORD* needed, DWORD* returned) {
                return EnumPrintersW(PRINTER_ENUM_LOCAL, nullptr, 2, data, size, needed,
                                     returned) != FALSE;
            },
            &buffer, &count, error)) {
        return false;
    }
    if (count == 0) {
        return true;
    }
    // The monitor's ports as its own enumeration lists them.
    std::string loadError;
    if (!LoadMonitor(libraryPath, &loadError)) {
        *error = ERROR_MOD_NOT_FOUND;
        return false;
    }
    std::vector<std::wstring> ports;
    bool listed = PortNames(&ports, error);
    UnloadMonitor();
    if (!listed) {
        return false;
    }
    auto* printers = reinterpret_cast<PRINTER_INFO_2W*>(buffer.data());
    for (DWORD i = 0; i < count; ++i) {
        std::wstring list = Text(printers[i].pPortName);
        size_t start = 0;
        while (start <= list.size()) {
            size_t comma = list.find(L',', start);
            std::wstring port = list.substr(start, comma == std::wstring::npos ? std::wstring::npos
                                                                               : comma - start);
            while (!port.empty() && port.front() == L' ') {
                port.erase(0, 1);
            }
            for (const std::wstring& own : ports) {
                if (!port.empty() && lstrcmpiW(own.c_str(), port.c_str()) == 0) {
                    users->push_back({Text(printers[i].pPrinterName), port});
                }
            }
            if (comma == std::wstring::npos) {
                break;
            }
            start = comma + 1;
        }
    }
    return true;
}

} // namespace prnlink
