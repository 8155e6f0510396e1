#include "support/spooler_monitor.h"

#include <winspool.h>

namespace testsupport {

const wchar_t* const kMonitorName = L"Prnlink Test Monitor";

std::wstring MonitorRegistryPath() {
    return std::wstring(L"System\\CurrentControlSet\\Control\\Print\\Monitors\\") + kMonitorName;
}

namespace {

std::wstring ProgramDirectory() {
    wchar_t path[MAX_PATH] = {};
    GetModuleFileNameW(nullptr, path, MAX_PATH);
    std::wstring text(path);
    return text.substr(0, text.find_last_of(L'\\') + 1);
}

} // namespace

bool RegisterMonitor(std::string* error) {
    UnregisterMonitor();
    wchar_t systemDirectory[MAX_PATH] = {};
    // The directory from which the spooler of this program's architecture loads monitors.
    GetSystemDirectoryW(systemDirectory, MAX_PATH);
    std::wstring source = ProgramDirectory() + L"PRNLINK.DLL";
    std::wstring target = std::wstring(systemDirectory) + L"\\PRNLINK.DLL";
    if (!CopyFileW(source.c_str(), target.c_str(), FALSE)) {
        *error = "copying PRNLINK.DLL into the system directory failed: " +
                 std::to_string(GetLastError());
        return false;
    }
    MONITOR_INFO_2W info = {};
    info.pName = const_cast<wchar_t*>(kMonitorName);
    info.pEnvironment = nullptr;
    info.pDLLName = const_cast<wchar_t*>(L"PRNLINK.DLL");
    if (!AddMonitorW(nullptr, 2, reinterpret_cast<LPBYTE>(&info))) {
        DWORD code = GetLastError();
        if (code != ERROR_PRINT_MONITOR_ALREADY_INSTALLED) {
            *error = "AddMonitorW failed: " + std::to_string(code);
            return false;
        }
    }
    return true;
}

void UnregisterMonitor() {
    DeleteMonitorW(nullptr, nullptr, const_cast<wchar_t*>(kMonitorName));
}

} // namespace testsupport
