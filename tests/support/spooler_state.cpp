#include "support/spooler_state.h"

#include "support/spooler_monitor.h"

#include <winspool.h>

#include <cwchar>

namespace testsupport {

std::vector<std::wstring> SpoolerPorts() {
    DWORD needed = 0;
    DWORD returned = 0;
    EnumPortsW(nullptr, 1, nullptr, 0, &needed, &returned);
    std::vector<BYTE> buffer(needed + 16);
    std::vector<std::wstring> names;
    if (!EnumPortsW(nullptr, 1, buffer.data(), static_cast<DWORD>(buffer.size()), &needed,
                    &returned)) {
        return names;
    }
    auto* entries = reinterpret_cast<PORT_INFO_1W*>(buffer.data());
    for (DWORD i = 0; i < returned; ++i) {
        names.push_back(entries[i].pName);
    }
    return names;
}

bool SpoolerHas(const std::wstring& name) {
    for (const auto& port : SpoolerPorts()) {
        if (port == name) {
            return true;
        }
    }
    return false;
}

bool ProfileHas(const wchar_t* key) {
    wchar_t value[64] = {};
    GetProfileStringW(L"QuillPorts", key, L"<absent>", value, 64);
    return wcscmp(value, L"<absent>") != 0;
}

std::wstring RegistryRetryText() {
    HKEY key = nullptr;
    std::wstring text = L"<absent>";
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, MonitorRegistryPath().c_str(), 0, KEY_READ, &key) !=
        ERROR_SUCCESS) {
        return text;
    }
    wchar_t value[32] = {};
    DWORD size = sizeof(value) - sizeof(wchar_t);
    DWORD type = 0;
    if (RegQueryValueExW(key, L"TransmissionRetryTimeout", nullptr, &type,
                         reinterpret_cast<BYTE*>(value), &size) == ERROR_SUCCESS &&
        type == REG_SZ) {
        text = value;
    }
    RegCloseKey(key);
    return text;
}

void DeleteRegistryRetryValue() {
    HKEY key = nullptr;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, MonitorRegistryPath().c_str(), 0, KEY_ALL_ACCESS, &key) ==
        ERROR_SUCCESS) {
        RegDeleteValueW(key, L"TransmissionRetryTimeout");
        RegCloseKey(key);
    }
}

bool RegisterPortKey(const std::wstring& port) {
    HKEY key = nullptr;
    std::wstring path = MonitorRegistryPath() + L"\\Ports\\" + port;
    if (RegCreateKeyExW(HKEY_LOCAL_MACHINE, path.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr,
                        &key, nullptr) != ERROR_SUCCESS) {
        return false;
    }
    RegCloseKey(key);
    return true;
}

HANDLE OpenMonitorXcv(const ACCESS_MASK* access) {
    std::wstring name = std::wstring(L",XcvMonitor ") + kMonitorName;
    PRINTER_DEFAULTSW defaults = {};
    defaults.DesiredAccess = access != nullptr ? *access : 0;
    HANDLE handle = nullptr;
    if (!OpenPrinterW(&name[0], &handle, access != nullptr ? &defaults : nullptr)) {
        return nullptr;
    }
    return handle;
}

} // namespace testsupport
