// PRNLINK.DLL as it ships: loaded and unloaded as the spooler does it, its resources, and
// its registration with Wine's own spooler.

#include <gtest/gtest.h>

#include "support/table_sizes.h"

#include <windows.h>
#include <winspool.h>
#include <winsplp.h>

#include "support/hcrpdb_writer.h"
#include "support/spooler_monitor.h"

#include <string>

namespace {

struct Monitor2Prefix {
    DWORD cbSize;
    BOOL(WINAPI* pfnEnumPorts)(HANDLE, LPWSTR, DWORD, LPBYTE, DWORD, LPDWORD, LPDWORD);
    void* slots[16];
    VOID(WINAPI* pfnShutdown)(HANDLE);
};
typedef Monitor2Prefix*(WINAPI* InitializePrintMonitor2Fn)(MONITORINIT*, PHANDLE);

std::wstring LoadText(HMODULE module, UINT id) {
    wchar_t text[64] = {};
    int length = LoadStringW(module, id, text, 64);
    return std::wstring(text, length > 0 ? length : 0);
}

// Calls the loaded library's InitializePrintMonitor2 as a local spooler does; null when the
// export is missing or refuses.
Monitor2Prefix* InitializeLoaded(HMODULE module, MONITORINIT* init, HANDLE* monitor) {
    auto initialize = reinterpret_cast<InitializePrintMonitor2Fn>(
        reinterpret_cast<void*>(GetProcAddress(module, "InitializePrintMonitor2")));
    if (initialize == nullptr) {
        return nullptr;
    }
    *init = {};
    init->cbSize = sizeof(*init);
    init->bLocal = TRUE;
    *monitor = nullptr;
    return initialize(init, monitor);
}

} // namespace

TEST(PrnlinkDll, LoadsInitialisesShutsDownAndUnloadsRepeatedly) {
    // The spooler loads and unloads a monitor around every enumeration; the library's
    // process-wide objects are made and destroyed each time.
    for (int round = 0; round < 3; ++round) {
        HMODULE module = LoadLibraryW(L"PRNLINK.DLL");
        ASSERT_NE(module, nullptr) << GetLastError();
        EXPECT_NE(GetProcAddress(module, "DllEntryPoint"), nullptr);
        EXPECT_NE(GetProcAddress(module, "InitializeMonitorEx"), nullptr);
        MONITORINIT init;
        HANDLE monitor;
        Monitor2Prefix* table = InitializeLoaded(module, &init, &monitor);
        ASSERT_NE(table, nullptr);
        EXPECT_EQ(table->cbSize, testsupport::MONITOR2_FULL_BYTES);
        ASSERT_NE(monitor, nullptr);
        ASSERT_NE(init.pMonitorReg, nullptr);
        EXPECT_EQ(init.pMonitorReg->cbSize, testsupport::MONITORREG_BYTES);
        ASSERT_NE(table->pfnShutdown, nullptr);
        table->pfnShutdown(monitor);

        ASSERT_TRUE(FreeLibrary(module));
        EXPECT_EQ(GetModuleHandleW(L"PRNLINK.DLL"), nullptr);
    }
}

TEST(PrnlinkDll, PortEntriesCarryTheStringsOfItsOwnModule) {
    // This program has no string table: the names can only come from the module handle
    // that DllEntryPoint recorded.
    ASSERT_TRUE(testsupport::WriteDatabase({testsupport::MakeEntry(1, "X")}));
    HMODULE module = LoadLibraryW(L"PRNLINK.DLL");
    ASSERT_NE(module, nullptr);
    MONITORINIT init;
    HANDLE monitor;
    Monitor2Prefix* table = InitializeLoaded(module, &init, &monitor);
    ASSERT_NE(table, nullptr);
    DWORD needed = 0, returned = 0;
    table->pfnEnumPorts(monitor, nullptr, 2, nullptr, 0, &needed, &returned);
    // The entry, then "X", "Bluetooth Monitor" and "Bluetooth Port" with their terminators.
    alignas(PORT_INFO_2W) BYTE buffer[sizeof(PORT_INFO_2W) + 4 + 36 + 30];
    ASSERT_EQ(needed, sizeof(buffer));
    ASSERT_TRUE(
        table->pfnEnumPorts(monitor, nullptr, 2, buffer, sizeof(buffer), &needed, &returned));
    ASSERT_EQ(returned, 1u);
    auto* info = reinterpret_cast<PORT_INFO_2W*>(buffer);
    EXPECT_EQ(std::wstring(info->pPortName), L"X");
    EXPECT_EQ(std::wstring(info->pMonitorName), L"Bluetooth Monitor");
    EXPECT_EQ(std::wstring(info->pDescription), L"Bluetooth Port");
    table->pfnShutdown(monitor);
    FreeLibrary(module);
    testsupport::RemoveDatabase();
}

TEST(PrnlinkDll, CarriesItsStringTableAndVersion) {
    HMODULE module = LoadLibraryExW(L"PRNLINK.DLL", nullptr, LOAD_LIBRARY_AS_DATAFILE);
    ASSERT_NE(module, nullptr);
    EXPECT_EQ(LoadText(module, 1), L"Bluetooth Monitor");
    EXPECT_EQ(LoadText(module, 2), L"Bluetooth Port");
    EXPECT_NE(FindResourceW(module, MAKEINTRESOURCEW(1), MAKEINTRESOURCEW(16)), nullptr);
    FreeLibrary(module);
}

TEST(PrnlinkDll, WinesSpoolerLoadsAndListsTheMonitor) {
    std::string error;
    ASSERT_TRUE(testsupport::RegisterMonitor(&error)) << error;
    DWORD needed = 0, returned = 0;
    EnumMonitorsW(nullptr, 1, nullptr, 0, &needed, &returned);
    ASSERT_GT(needed, 0u);
    std::string buffer(needed, '\0');
    ASSERT_TRUE(
        EnumMonitorsW(nullptr, 1, reinterpret_cast<BYTE*>(&buffer[0]), needed, &needed, &returned));
    auto* monitors = reinterpret_cast<MONITOR_INFO_1W*>(&buffer[0]);
    bool listed = false;
    for (DWORD i = 0; i < returned; ++i) {
        listed = listed || std::wstring(monitors[i].pName) == testsupport::kMonitorName;
    }
    EXPECT_TRUE(listed);
    testsupport::UnregisterMonitor();
}
