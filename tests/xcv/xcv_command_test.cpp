// The Xcv command table and the port administration entries, called directly on a monitor
// made by InitializePrintMonitor2. The calls out of the monitor (profile, spooler port
// list, comm configuration, MONITORREG) are observed through fakes; the comm configuration
// is also run against the system's real functions.

#include <gtest/gtest.h>

#include "entry/monitor.h"
#include "ports/enum_ports.h"
#include "ports/port_admin.h"
#include "ports/spooler_ports.h"
#include "ports/port_record.h"
#include "support/hcrpdb_writer.h"
#include "support/monitor_fixture.h"

#include <cstring>
#include <map>
#include <string>
#include <vector>

namespace {

// --- A MONITORREG over an in-memory value store, recording what reaches it. ---
struct FakeRegistry {
    std::map<std::wstring, std::vector<BYTE>> values;
    HANDLE lastSpooler = nullptr;
    HANDLE lastKey = nullptr;
    DWORD lastType = 0;
    DWORD lastSize = 0;
    int setCalls = 0;
};
FakeRegistry* g_registry;

LONG WINAPI FakeSetValue(HANDLE key, LPCWSTR name, DWORD type, const BYTE* data, DWORD size,
                         HANDLE spooler) {
    g_registry->setCalls++;
    g_registry->lastKey = key;
    g_registry->lastSpooler = spooler;
    g_registry->lastType = type;
    g_registry->lastSize = size;
    g_registry->values[name].assign(data, data + size);
    return ERROR_SUCCESS;
}

LONG WINAPI FakeQueryValue(HANDLE key, LPCWSTR name, PDWORD type, PBYTE data, PDWORD size,
                           HANDLE spooler) {
    g_registry->lastKey = key;
    g_registry->lastSpooler = spooler;
    auto found = g_registry->values.find(name);
    if (found == g_registry->values.end()) {
        return ERROR_FILE_NOT_FOUND;
    }
    if (type != nullptr) {
        *type = REG_SZ;
    }
    if (size != nullptr && data != nullptr) {
        DWORD count = static_cast<DWORD>(found->second.size());
        if (count > *size) {
            return ERROR_MORE_DATA;
        }
        memcpy(data, found->second.data(), count);
        *size = count;
    }
    return ERROR_SUCCESS;
}

std::wstring StoredText(const std::wstring& name) {
    auto found = g_registry->values.find(name);
    if (found == g_registry->values.end()) {
        return L"<missing>";
    }
    std::wstring text(found->second.size() / 2, L'\0');
    memcpy(&text[0], found->second.data(), text.size() * 2);
    return text.substr(0, text.find(L'\0'));
}

// --- The spooler's port list, profile and comm configuration, as the fakes see them. ---
struct ProfileWrite {
    std::wstring section;
    std::wstring key;
    bool deleted;
};
std::vector<ProfileWrite> g_profileWrites;
DWORD g_profileFailure;

BOOL WINAPI FakeWriteProfileString(LPCWSTR section, LPCWSTR key, LPCWSTR value) {
    if (g_profileFailure != 0) {
        SetLastError(g_profileFailure);
        return FALSE;
    }
    g_profileWrites.push_back({section, key != nullptr ? key : L"<null>", value == nullptr});
    return TRUE;
}

// MonitorLock must be free whenever the monitor asks the spooler for its ports: the
// spooler's enumeration comes back into this monitor's EnumPorts on another path.
DWORD WINAPI TakeLockBriefly(LPVOID) {
    MonitorLockEnter();
    MonitorLockLeave();
    return 0;
}
bool MonitorLockIsFree() {
    HANDLE thread = CreateThread(nullptr, 0, TakeLockBriefly, nullptr, 0, nullptr);
    bool free = WaitForSingleObject(thread, 1000) == WAIT_OBJECT_0;
    if (!free) {
        // The lock is held by this thread: let the probe finish once it is released.
        CloseHandle(thread);
        return false;
    }
    CloseHandle(thread);
    return true;
}

std::vector<std::wstring> g_spoolerPorts;
DWORD g_spoolerFailure;
int g_spoolerCalls;
bool g_lockWasHeld;

BOOL WINAPI FakeEnumPortsW(LPWSTR, DWORD level, LPBYTE buffer, DWORD size, LPDWORD needed,
                           LPDWORD returned) {
    g_spoolerCalls++;
    if (!MonitorLockIsFree()) {
        g_lockWasHeld = true;
    }
    if (g_spoolerFailure != 0) {
        SetLastError(g_spoolerFailure);
        return FALSE;
    }
    EXPECT_EQ(level, 1u);
    DWORD total = 0;
    for (const auto& name : g_spoolerPorts) {
        total += sizeof(PORT_INFO_1W) + static_cast<DWORD>((name.size() + 1) * 2);
    }
    *needed = total;
    if (total > size || buffer == nullptr) {
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return total == 0;
    }
    auto* entries = reinterpret_cast<PORT_INFO_1W*>(buffer);
    BYTE* end = buffer + size;
    DWORD count = 0;
    for (const auto& name : g_spoolerPorts) {
        end -= (name.size() + 1) * 2;
        memcpy(end, name.c_str(), (name.size() + 1) * 2);
        entries[count++].pName = reinterpret_cast<LPWSTR>(end);
    }
    *returned = count;
    return TRUE;
}

struct CommCall {
    std::wstring device;
    DWORD size;
};
std::vector<CommCall> g_commCalls;

BOOL WINAPI FakeSetDefaultCommConfig(LPCWSTR device, LPCOMMCONFIG, DWORD size) {
    g_commCalls.push_back({device, size});
    return TRUE;
}

BOOL WINAPI FakeGetDefaultCommConfig(LPCWSTR device, LPCOMMCONFIG config, LPDWORD size) {
    g_commCalls.push_back({device, *size});
    EXPECT_EQ(config->dwProviderSubType, static_cast<DWORD>(PST_RS232));
    config->dcb.BaudRate = 4800;
    *size = sizeof(COMMCONFIG);
    return TRUE;
}

FARPROC WINAPI FailingGetProcAddress(HMODULE, LPCSTR) {
    SetLastError(ERROR_PROC_NOT_FOUND);
    return nullptr;
}

HMODULE WINAPI FailingLoadLibrary(LPCSTR) {
    SetLastError(ERROR_MOD_NOT_FOUND);
    return nullptr;
}

std::vector<BYTE> Utf16(const std::wstring& text) {
    std::vector<BYTE> bytes((text.size() + 1) * 2);
    memcpy(bytes.data(), text.c_str(), bytes.size());
    return bytes;
}

const HANDLE kSpoolerSentinel = reinterpret_cast<HANDLE>(0x5150);

class XcvCommands : public testsupport::MonitorTest {
  protected:
    void SetUp() override {
        g_registry = &registry;
        g_profileWrites.clear();
        g_profileFailure = 0;
        g_spoolerPorts = {L"LPT1:", L"COM1:"};
        g_spoolerFailure = 0;
        g_spoolerCalls = 0;
        g_lockWasHeld = false;
        g_commCalls.clear();
        savedCalls = g_portAdminCalls;
        savedSpooler = g_spoolerPortList;
        g_portAdminCalls.writeProfileString = FakeWriteProfileString;
        g_portAdminCalls.setDefaultCommConfig = FakeSetDefaultCommConfig;
        g_portAdminCalls.getDefaultCommConfig = FakeGetDefaultCommConfig;
        g_spoolerPortList.enumPorts = FakeEnumPortsW;

        MonitorTest::SetUp();
        reg.cbSize = sizeof(reg);
        reg.fpSetValue = FakeSetValue;
        reg.fpQueryValue = FakeQueryValue;
        UseRegistry(&reg, nullptr, kSpoolerSentinel);
    }
    void TearDown() override {
        for (XcvHandle* handle : opened) {
            table_->pfnXcvClosePort(handle);
        }
        MonitorTest::TearDown();
        g_portAdminCalls = savedCalls;
        g_spoolerPortList = savedSpooler;
    }

    XcvHandle* Open(const wchar_t* object, ACCESS_MASK access) {
        HANDLE handle = nullptr;
        EXPECT_TRUE(table_->pfnXcvOpenPort(handle_, object, access, &handle));
        opened.push_back(static_cast<XcvHandle*>(handle));
        return static_cast<XcvHandle*>(handle);
    }
    XcvHandle* Admin() { return Open(L"Prnlink", SERVER_ACCESS_ADMINISTER); }
    XcvHandle* User() { return Open(L"Prnlink", 0); }

    DWORD Run(XcvHandle* handle, const wchar_t* command, std::vector<BYTE> input,
              BYTE* output = nullptr, DWORD outputSize = 0, DWORD* needed = nullptr) {
        DWORD ignored = 0xDEAD;
        return table_->pfnXcvDataPort(handle, command, input.empty() ? nullptr : input.data(),
                                      static_cast<DWORD>(input.size()), output, outputSize,
                                      needed != nullptr ? needed : &ignored);
    }
    DWORD Run(XcvHandle* handle, const wchar_t* command, const std::wstring& text) {
        return Run(handle, command, Utf16(text));
    }

    PortRecord* Port(const wchar_t* name) { return FindPortRecord(monitor_->ports, name); }
    size_t PortCount() {
        size_t count = 0;
        for (PortRecord* record = monitor_->ports; record != nullptr; record = record->next) {
            ++count;
        }
        return count;
    }

    FakeRegistry registry;
    MONITORREG reg = {};
    std::vector<XcvHandle*> opened;
    PortAdminCalls savedCalls;
    SpoolerPortList savedSpooler;
};

// Every command with an output refuses one byte too few before doing anything: nothing is
// written, nobody is asked, and the bytes needed are reported (GetDefaultCommConfig leaves
// the count as it was: its size is a COMMCONFIG's, known to the caller).
TEST_F(XcvCommands, ShortOutputIsRefusedBeforeAnythingIsDone) {
    const DWORD kUntouchedCount = 7;
    struct Case {
        const wchar_t* command;
        std::vector<BYTE> input;
        DWORD outputSize;
        DWORD needed;
    } cases[] = {
        {L"MonitorUI", {}, 25, 26},
        {L"PortExists", Utf16(L"com1:"), 3, 4},
        {L"GetTransmissionRetryTimeout", {}, 3, 4},
        {L"GetDefaultCommConfig", Utf16(L"COM1"), 51, kUntouchedCount},
    };
    XcvHandle* user = User();
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.command);
        std::vector<BYTE> output(64, 0xCC);
        DWORD needed = kUntouchedCount;
        EXPECT_EQ(Run(user, c.command, c.input, output.data(), c.outputSize, &needed),
                  DWORD{ERROR_INSUFFICIENT_BUFFER});
        EXPECT_EQ(needed, c.needed);
        EXPECT_EQ(output[0], 0xCC) << "nothing written into a short buffer";
    }
    EXPECT_EQ(g_spoolerCalls, 0);
    EXPECT_TRUE(g_commCalls.empty());
    EXPECT_EQ(registry.setCalls, 0);
}

// Each handle is checked for its mark where it arrives: one of another kind is refused, not
// taken for what it is not.
TEST_F(XcvCommands, HandlesOfAnotherKindAreRefused) {
    XcvHandle* xcv = Admin();
    ASSERT_NE(xcv, nullptr);
    PortRecord* port = nullptr;
    {
        MonitorLockGuard lock;
        port = CreatePortRecord(monitor_, L"Desk");
    }
    ASSERT_NE(port, nullptr);
    DWORD needed = 0;
    DWORD returned = 0;
    BYTE output[32];
    for (HANDLE notAMonitor : {static_cast<HANDLE>(xcv), static_cast<HANDLE>(port)}) {
        SetLastError(0);
        EXPECT_FALSE(table_->pfnEnumPorts(notAMonitor, nullptr, 1, output, 32, &needed, &returned));
        EXPECT_EQ(GetLastError(), DWORD{ERROR_INVALID_PARAMETER});
        HANDLE opened = nullptr;
        EXPECT_FALSE(table_->pfnXcvOpenPort(notAMonitor, L"", 0, &opened));
        EXPECT_EQ(GetLastError(), DWORD{ERROR_INVALID_HANDLE});
    }
    for (HANDLE notAnXcvHandle : {handle_, static_cast<HANDLE>(port)}) {
        EXPECT_EQ(
            table_->pfnXcvDataPort(notAnXcvHandle, L"MonitorUI", nullptr, 0, output, 32, &needed),
            DWORD{ERROR_INVALID_HANDLE});
        EXPECT_TRUE(table_->pfnXcvClosePort(notAnXcvHandle));
    }
    EXPECT_NE(Port(L"Desk"), nullptr) << "nothing was taken apart";
    EXPECT_EQ(table_->pfnXcvDataPort(xcv, L"MonitorUI", nullptr, 0, output, 32, &needed), 0u);
}

TEST_F(XcvCommands, MonitorUiNamesTheDialogLibraryAndReportsItsSize) {
    XcvHandle* handle = User();
    BYTE output[64];
    memset(output, 0xCC, sizeof(output));
    DWORD needed = 0;
    EXPECT_EQ(Run(handle, L"MonitorUI", {}, output, 26, &needed), 0u);
    EXPECT_STREQ(reinterpret_cast<wchar_t*>(output), L"QUILLDLG.dll");
    EXPECT_EQ(output[26], 0xCC) << "no byte beyond the 26";
}

TEST_F(XcvCommands, CommandNamesMatchExactlyAndBadArgumentsAreRefused) {
    XcvHandle* handle = User();
    BYTE output[64];
    DWORD needed = 0;
    EXPECT_EQ(Run(handle, L"monitorui", {}, output, 64, &needed), DWORD{ERROR_INVALID_PARAMETER});
    EXPECT_EQ(Run(handle, L"MonitorUI ", {}, output, 64, &needed), DWORD{ERROR_INVALID_PARAMETER});
    EXPECT_EQ(table_->pfnXcvDataPort(handle, nullptr, nullptr, 0, output, 64, &needed),
              DWORD{ERROR_INVALID_PARAMETER});
    EXPECT_EQ(table_->pfnXcvDataPort(nullptr, L"MonitorUI", nullptr, 0, output, 64, &needed),
              static_cast<DWORD>(ERROR_INVALID_HANDLE));
    // A null output with a nonzero size, or nowhere to put the bytes needed.
    EXPECT_EQ(table_->pfnXcvDataPort(handle, L"MonitorUI", nullptr, 0, nullptr, 64, &needed),
              DWORD{ERROR_INVALID_PARAMETER});
    EXPECT_EQ(table_->pfnXcvDataPort(handle, L"MonitorUI", nullptr, 0, output, 64, nullptr),
              DWORD{ERROR_INVALID_PARAMETER});
    EXPECT_EQ(table_->pfnXcvDataPort(handle, L"PortExists", nullptr, 0, nullptr, 8, &needed),
              DWORD{ERROR_INVALID_PARAMETER});
}

TEST_F(XcvCommands, AdministrativeCommandsNeedTheAdministerRight) {
    XcvHandle* user = Open(L"COM1", SERVER_ACCESS_ENUMERATE | PRINTER_ACCESS_USE);
    ASSERT_NE(CreatePortRecord(monitor_, L"Existing"), nullptr);
    COMMCONFIG config = {};
    config.dwSize = sizeof(config);
    std::vector<BYTE> configBytes(sizeof(config));
    memcpy(configBytes.data(), &config, sizeof(config));

    EXPECT_EQ(Run(user, L"AddPort", std::wstring(L"NewPort")), DWORD{ERROR_ACCESS_DENIED});
    EXPECT_EQ(Run(user, L"DeletePort", std::wstring(L"Existing")), DWORD{ERROR_ACCESS_DENIED});
    EXPECT_EQ(Run(user, L"SetDefaultCommConfig", configBytes), DWORD{ERROR_ACCESS_DENIED});
    EXPECT_EQ(PortCount(), 1u);
    EXPECT_NE(Port(L"Existing"), nullptr);
    EXPECT_TRUE(g_profileWrites.empty());
    EXPECT_TRUE(g_commCalls.empty());
    EXPECT_EQ(g_spoolerCalls, 0) << "refused before asking the spooler";
}

TEST_F(XcvCommands, AddPortRecordsTheNameAndAnyAddressInItOutsideTheLock) {
    XcvHandle* admin = Admin();
    EXPECT_EQ(Run(admin, L"AddPort", std::wstring(L"Desk Printer")), 0u);
    EXPECT_FALSE(g_lockWasHeld);
    EXPECT_EQ(g_spoolerCalls, 2) << "one call for the size, one for the list";
    PortRecord* record = Port(L"Desk Printer");
    ASSERT_NE(record, nullptr);
    const BYTE zero[6] = {};
    EXPECT_EQ(memcmp(record->connection.deviceAddress, zero, 6), 0);
    EXPECT_EQ(record->connection.controlPsm, 0);
    EXPECT_EQ(record->connection.dataPsm, 0);
    EXPECT_EQ(record->connection.retryTimeoutMs, 0u);
    ASSERT_EQ(g_profileWrites.size(), 1u);
    EXPECT_EQ(g_profileWrites[0].section, L"QuillPorts");
    EXPECT_EQ(g_profileWrites[0].key, L"Desk Printer");
    EXPECT_FALSE(g_profileWrites[0].deleted);

    // A name that is an address gives the port that address.
    EXPECT_EQ(Run(admin, L"AddPort", std::wstring(L"00:0a:95:12:34:56.1")), 0u);
    record = Port(L"00:0a:95:12:34:56.1");
    ASSERT_NE(record, nullptr);
    const BYTE address[6] = {0x00, 0x0a, 0x95, 0x12, 0x34, 0x56};
    EXPECT_EQ(memcmp(record->connection.deviceAddress, address, 6), 0);
    EXPECT_EQ(record->connection.controlPsm, 0);
}

TEST_F(XcvCommands, TheLockProbeSeesAHeldLock) {
    MonitorLockEnter();
    EXPECT_FALSE(MonitorLockIsFree());
    MonitorLockLeave();
    EXPECT_TRUE(MonitorLockIsFree());
}

TEST_F(XcvCommands, AddPortRefusesNamesTheSpoolerHasInAnyCase) {
    XcvHandle* admin = Admin();
    g_spoolerPorts.push_back(L"DESK PRINTER");
    SetLastError(0);
    EXPECT_EQ(Run(admin, L"AddPort", std::wstring(L"Desk Printer")), DWORD{ERROR_ALREADY_EXISTS});
    EXPECT_EQ(GetLastError(), DWORD{ERROR_ALREADY_EXISTS});
    EXPECT_EQ(PortCount(), 0u);
    EXPECT_TRUE(g_profileWrites.empty());
}

TEST_F(XcvCommands, AddPortPassesOnLoadAndProfileFailures) {
    XcvHandle* admin = Admin();
    // The spooler library cannot be loaded: its error, nothing made.
    g_spoolerPortList.enumPorts = nullptr;
    g_portAdminCalls.loadLibrary = FailingLoadLibrary;
    EXPECT_EQ(Run(admin, L"AddPort", std::wstring(L"P1")), static_cast<DWORD>(ERROR_MOD_NOT_FOUND));
    EXPECT_EQ(PortCount(), 0u);
    // The library loads but has no EnumPortsW: its error, and the library is forgotten.
    g_portAdminCalls.loadLibrary = LoadLibraryA;
    g_portAdminCalls.getProcAddress = FailingGetProcAddress;
    EXPECT_EQ(Run(admin, L"AddPort", std::wstring(L"P1")),
              static_cast<DWORD>(ERROR_PROC_NOT_FOUND));
    EXPECT_EQ(g_spoolerPortList.enumPorts, nullptr);
    EXPECT_EQ(g_spoolerPortList.module, nullptr);
    EXPECT_EQ(PortCount(), 0u);
    g_spoolerPortList.enumPorts = FakeEnumPortsW;
    // The profile entry cannot be written: the record goes again.
    g_profileFailure = ERROR_ACCESS_DENIED;
    EXPECT_EQ(Run(admin, L"AddPort", std::wstring(L"P1")), DWORD{ERROR_ACCESS_DENIED});
    EXPECT_EQ(PortCount(), 0u);
    // A name over 247 characters.
    g_profileFailure = 0;
    EXPECT_EQ(Run(admin, L"AddPort", std::wstring(248, L'x')), DWORD{ERROR_INVALID_NAME});
    EXPECT_EQ(Run(admin, L"AddPort", std::wstring(247, L'x')), 0u);
    EXPECT_EQ(PortCount(), 1u);
}

TEST_F(XcvCommands, NamesAndTextsAreReadNoFurtherThanTheInputSize) {
    XcvHandle* admin = Admin();
    // "AB" then "C" and a terminator, of which only the first 4 bytes are given: the name is
    // "AB", a terminator added, and nothing beyond the input is read.
    std::vector<BYTE> longer = {'A', 0, 'B', 0, 'C', 0, 0, 0};
    DWORD needed = 0;
    EXPECT_EQ(table_->pfnXcvDataPort(admin, L"AddPort", longer.data(), 4, nullptr, 0, &needed), 0u);
    EXPECT_NE(Port(L"AB"), nullptr);
    EXPECT_EQ(table_->pfnXcvDataPort(admin, L"PortIsValid", longer.data(), 4, nullptr, 0, &needed),
              2u)
        << "found by its name, and it has no device record";
    BYTE output[4] = {};
    EXPECT_EQ(table_->pfnXcvDataPort(admin, L"PortExists", longer.data(), 4, output, 4, &needed),
              0u);
    EXPECT_EQ(table_->pfnXcvDataPort(admin, L"DeletePort", longer.data(), 4, nullptr, 0, &needed),
              0u);
    EXPECT_EQ(Port(L"AB"), nullptr);
    // The time-out text "60" in its 4 bytes is stored with a terminator of its own.
    std::vector<BYTE> sixty = {'6', 0, '0', 0, '9', 0, 0, 0};
    EXPECT_EQ(table_->pfnXcvDataPort(admin, L"ConfigurePortCommandOK", sixty.data(), 4, nullptr, 0,
                                     &needed),
              0u);
    EXPECT_EQ(StoredText(L"TransmissionRetryTimeout"), L"60");
    EXPECT_EQ(registry.lastSize, 6u);
    // A last odd byte is not a character: "A" from 3 bytes.
    std::vector<BYTE> odd = {'A', 0, 'B'};
    EXPECT_EQ(table_->pfnXcvDataPort(admin, L"AddPort", odd.data(), 3, nullptr, 0, &needed), 0u);
    EXPECT_NE(Port(L"A"), nullptr);
    // No input at all, less than one character, and a name that is only a terminator.
    const size_t portsBefore = PortCount();
    EXPECT_EQ(table_->pfnXcvDataPort(admin, L"AddPort", nullptr, 0, nullptr, 0, &needed),
              DWORD{ERROR_INVALID_PARAMETER});
    EXPECT_EQ(table_->pfnXcvDataPort(admin, L"AddPort", odd.data(), 1, nullptr, 0, &needed),
              DWORD{ERROR_INVALID_PARAMETER});
    EXPECT_EQ(table_->pfnXcvDataPort(admin, L"ConfigurePortCommandOK", sixty.data(), 0, nullptr, 0,
                                     &needed),
              DWORD{ERROR_INVALID_PARAMETER});
    EXPECT_EQ(Run(admin, L"AddPort", std::wstring()), DWORD{ERROR_INVALID_PARAMETER});
    EXPECT_EQ(PortCount(), portsBefore);
    EXPECT_EQ(registry.setCalls, 1);
}

TEST_F(XcvCommands, DeletePortRemovesTheRecordByNameInAnyCaseAndItsProfileEntry) {
    XcvHandle* admin = Admin();
    ASSERT_NE(CreatePortRecord(monitor_, L"ABC"), nullptr);
    ASSERT_NE(CreatePortRecord(monitor_, L"Other"), nullptr);
    EXPECT_EQ(Run(admin, L"DeletePort", std::wstring(L"abc")), 0u);
    EXPECT_EQ(Port(L"ABC"), nullptr);
    EXPECT_NE(Port(L"Other"), nullptr);
    ASSERT_EQ(g_profileWrites.size(), 1u);
    EXPECT_EQ(g_profileWrites[0].key, L"abc");
    EXPECT_TRUE(g_profileWrites[0].deleted);
    // Not in the list (an added port that enumeration dropped): 2, and its profile entry
    // goes all the same; no other port is touched.
    EXPECT_EQ(Run(admin, L"DeletePort", std::wstring(L"abc")), DWORD{ERROR_FILE_NOT_FOUND});
    ASSERT_EQ(g_profileWrites.size(), 2u);
    EXPECT_EQ(g_profileWrites[1].key, L"abc");
    EXPECT_TRUE(g_profileWrites[1].deleted);
    EXPECT_EQ(PortCount(), 1u);
}

TEST_F(XcvCommands, PortExistsAsksTheSpoolerCaseInsensitively) {
    XcvHandle* user = User();
    BYTE output[8];
    memset(output, 0xCC, sizeof(output));
    DWORD needed = 0;
    std::vector<BYTE> name = Utf16(L"com1:");
    EXPECT_EQ(Run(user, L"PortExists", name, output, 4, &needed), 0u);
    DWORD answer = 0;
    memcpy(&answer, output, 4);
    EXPECT_EQ(answer, 1u);
    EXPECT_EQ(output[4], 0xCC);
    EXPECT_EQ(Run(user, L"PortExists", Utf16(L"COM2:"), output, 4, &needed), 0u);
    memcpy(&answer, output, 4);
    EXPECT_EQ(answer, 0u);
    EXPECT_FALSE(g_lockWasHeld);
    // An enumeration that fails for another reason: the name is taken as used.
    g_spoolerFailure = ERROR_ACCESS_DENIED;
    EXPECT_EQ(Run(user, L"PortExists", Utf16(L"COM2:"), output, 4, &needed), 0u);
    memcpy(&answer, output, 4);
    EXPECT_EQ(answer, 1u);
    // A spooler with no ports at all: nothing exists.
    g_spoolerFailure = 0;
    g_spoolerPorts.clear();
    EXPECT_EQ(Run(user, L"PortExists", Utf16(L"COM1:"), output, 4, &needed), 0u);
    memcpy(&answer, output, 4);
    EXPECT_EQ(answer, 0u);
}

TEST_F(XcvCommands, PortIsValidForANameNotInThePortList) {
    XcvHandle* user = User();
    ASSERT_NE(CreatePortRecord(monitor_, L"abc"), nullptr);
    // Exact name match only; a name not in the list looks nothing up.
    EXPECT_EQ(Run(user, L"PortIsValid", std::wstring(L"ABC")), DWORD{ERROR_FILE_NOT_FOUND});
    EXPECT_EQ(Run(user, L"PortIsValid", std::wstring(L"missing")), DWORD{ERROR_FILE_NOT_FOUND});
}

TEST_F(XcvCommands, PortIsValidAndDeletePortUseTheDeviceDatabase) {
    ASSERT_TRUE(
        testsupport::WriteDatabase({testsupport::MakeEntry(0x123456, "Office", 0x1001, 0x1003)}));
    XcvHandle* user = User();
    PortRecord* office = CreatePortRecord(monitor_, L"Office");
    PortRecord* gone = CreatePortRecord(monitor_, L"Gone");
    ASSERT_NE(office, nullptr);
    ASSERT_NE(gone, nullptr);
    const BYTE address[6] = {0x00, 0x0A, 0x95, 0x12, 0x34, 0x56};
    memcpy(office->connection.deviceAddress, address, 6);
    gone->connection.deviceAddress[5] = 1;
    gone->connection.controlPsm = 7;
    EXPECT_EQ(Run(user, L"PortIsValid", std::wstring(L"Office")), 0u);
    EXPECT_EQ(office->connection.controlPsm, 0x1001);
    EXPECT_EQ(office->connection.dataPsm, 0x1003);
    // A fixed code for an address the database does not list, whatever the last error.
    SetLastError(0);
    EXPECT_EQ(Run(user, L"PortIsValid", std::wstring(L"Gone")), DWORD{ERROR_FILE_NOT_FOUND});
    EXPECT_EQ(gone->connection.controlPsm, 0) << "the look-up's PSMs are stored";

    // The MONITOR2 DeletePort removes the device record and leaves the port listed.
    EXPECT_TRUE(table_->pfnDeletePort(handle_, nullptr, nullptr, const_cast<LPWSTR>(L"Office")));
    EXPECT_TRUE(testsupport::ReadDatabaseBytes().empty());
    EXPECT_NE(Port(L"Office"), nullptr);
    SetLastError(0);
    EXPECT_FALSE(table_->pfnDeletePort(handle_, nullptr, nullptr, const_cast<LPWSTR>(L"Office")));
    EXPECT_EQ(GetLastError(), DWORD{ERROR_FILE_NOT_FOUND});
    EXPECT_EQ(Run(user, L"PortIsValid", std::wstring(L"Office")), DWORD{ERROR_FILE_NOT_FOUND});
    testsupport::WriteDatabase({});
}

TEST_F(XcvCommands, RetryTimeoutTextReachesTheRegistryThroughTheMonitorInit) {
    XcvHandle* user = User();
    PortRecord* existing = CreatePortRecord(monitor_, L"Existing");
    ASSERT_NE(existing, nullptr);
    existing->connection.retryTimeoutMs = 45000;
    // The text and its terminator, whatever follows them in the input.
    std::vector<BYTE> input = Utf16(L"60");
    input.push_back('9');
    input.push_back(0);
    EXPECT_EQ(Run(user, L"ConfigurePortCommandOK", input), 0u);
    EXPECT_EQ(StoredText(L"TransmissionRetryTimeout"), L"60");
    EXPECT_EQ(registry.lastType, static_cast<DWORD>(REG_SZ));
    EXPECT_EQ(registry.lastSize, 6u);
    EXPECT_EQ(registry.lastSpooler, kSpoolerSentinel);
    EXPECT_EQ(registry.lastKey, monitor_->monitorInit->hckRegistryRoot);
    EXPECT_EQ(existing->connection.retryTimeoutMs, 45000u) << "existing ports keep their copy";
    // No input: nothing stored.
    EXPECT_EQ(Run(user, L"ConfigurePortCommandOK", std::vector<BYTE>()),
              DWORD{ERROR_INVALID_PARAMETER});
    EXPECT_EQ(registry.setCalls, 1);
}

TEST_F(XcvCommands, GetTransmissionRetryTimeoutReportsTheSettingInMilliseconds) {
    XcvHandle* user = User();
    BYTE output[8];
    memset(output, 0xCC, sizeof(output));
    DWORD needed = 0;
    auto timeout = [&]() {
        DWORD value = 0xDEAD;
        EXPECT_EQ(Run(user, L"GetTransmissionRetryTimeout", {}, output, 4, &needed), 0u);
        memcpy(&value, output, 4);
        return value;
    };
    // Missing: the default 45 seconds, written back.
    EXPECT_EQ(timeout(), 45000u);
    EXPECT_EQ(StoredText(L"TransmissionRetryTimeout"), L"45");
    EXPECT_EQ(registry.lastSpooler, kSpoolerSentinel);
    EXPECT_EQ(output[4], 0xCC) << "4 bytes written";
    EXPECT_EQ(Run(user, L"ConfigurePortCommandOK", std::wstring(L"30")), 0u);
    EXPECT_EQ(timeout(), 30000u);
    EXPECT_EQ(Run(user, L"ConfigurePortCommandOK", std::wstring(L"abc")), 0u);
    EXPECT_EQ(timeout(), 0u);
}

TEST_F(XcvCommands, SetPortTimeOutsStoresTheNumberAsText) {
    PortRecord* record = CreatePortRecord(monitor_, L"P");
    ASSERT_NE(record, nullptr);
    record->connection.retryTimeoutMs = 1234;
    COMMTIMEOUTS timeouts = {};
    timeouts.WriteTotalTimeoutConstant = 45000;
    EXPECT_TRUE(table_->pfnSetPortTimeOuts(record, &timeouts, 0));
    EXPECT_EQ(StoredText(L"TransmissionRetryTimeout"), L"45000");
    EXPECT_EQ(registry.lastSize, 12u);
    EXPECT_EQ(registry.lastSpooler, kSpoolerSentinel);
    timeouts.WriteTotalTimeoutConstant = 4294967295u;
    EXPECT_TRUE(table_->pfnSetPortTimeOuts(record, &timeouts, 0));
    EXPECT_EQ(StoredText(L"TransmissionRetryTimeout"), L"4294967295");
    EXPECT_EQ(registry.lastSize, 22u);
    EXPECT_EQ(record->connection.retryTimeoutMs, 1234u);
    SetLastError(0);
    EXPECT_FALSE(table_->pfnSetPortTimeOuts(record, nullptr, 0));
    EXPECT_EQ(GetLastError(), DWORD{ERROR_INVALID_PARAMETER});
}

TEST_F(XcvCommands, AddPortExTakesTheAddressFromTheName) {
    std::vector<BYTE> thirty = Utf16(L"30");
    registry.values[L"TransmissionRetryTimeout"] = thirty;
    PORT_INFO_1W info = {const_cast<LPWSTR>(L"00:0a:95:12:34:56.1")};
    EXPECT_TRUE(table_->pfnAddPortEx(handle_, nullptr, 1, reinterpret_cast<LPBYTE>(&info),
                                     const_cast<LPWSTR>(L"Prnlink")));
    EXPECT_FALSE(g_lockWasHeld);
    PortRecord* record = Port(L"00:0a:95:12:34:56.1");
    ASSERT_NE(record, nullptr);
    const BYTE address[6] = {0x00, 0x0A, 0x95, 0x12, 0x34, 0x56};
    EXPECT_EQ(memcmp(record->connection.deviceAddress, address, 6), 0);
    EXPECT_EQ(record->connection.controlPsm, 0);
    EXPECT_EQ(record->connection.retryTimeoutMs, 30000u) << "the configured time-out";
    ASSERT_EQ(g_profileWrites.size(), 1u);
    EXPECT_EQ(g_profileWrites[0].key, L"00:0a:95:12:34:56.1");
    // Level -1 reads the same structure.
    PORT_INFO_1W other = {const_cast<LPWSTR>(L"00:0a:95:12:34:57")};
    EXPECT_TRUE(table_->pfnAddPortEx(handle_, nullptr, 0xFFFFFFFF, reinterpret_cast<LPBYTE>(&other),
                                     nullptr));
    EXPECT_EQ(PortCount(), 2u);
}

TEST_F(XcvCommands, AddPortExRefusalsLeaveNoPortAndNoProfileEntry) {
    PORT_INFO_1W info = {const_cast<LPWSTR>(L"00:0a:95:12:34:56.1")};
    auto add = [&](DWORD level, void* buffer) {
        SetLastError(0);
        BOOL ok =
            table_->pfnAddPortEx(handle_, nullptr, level, static_cast<LPBYTE>(buffer), nullptr);
        return ok ? 0 : GetLastError();
    };
    EXPECT_EQ(add(2, &info), DWORD{ERROR_INVALID_LEVEL});
    EXPECT_EQ(add(1, nullptr), DWORD{ERROR_INVALID_PARAMETER});
    PORT_INFO_1W unnamed = {nullptr};
    EXPECT_EQ(add(1, &unnamed), DWORD{ERROR_INVALID_PARAMETER});
    PORT_INFO_1W printer = {const_cast<LPWSTR>(L"Printer1")};
    EXPECT_EQ(add(1, &printer), static_cast<DWORD>(ERROR_INVALID_NAME));
    g_spoolerPorts.push_back(L"00:0A:95:12:34:56.1");
    EXPECT_EQ(add(1, &info), DWORD{ERROR_INVALID_PARAMETER});
    g_spoolerPorts.pop_back();
    g_profileFailure = ERROR_WRITE_PROTECT;
    EXPECT_EQ(add(1, &info), static_cast<DWORD>(ERROR_WRITE_PROTECT));
    EXPECT_EQ(PortCount(), 0u);
    EXPECT_TRUE(g_profileWrites.empty());
}

TEST_F(XcvCommands, DeletePortEntryFailsForAPortNotInTheList) {
    SetLastError(0);
    EXPECT_FALSE(table_->pfnDeletePort(handle_, nullptr, nullptr, const_cast<LPWSTR>(L"none")));
    EXPECT_EQ(GetLastError(), DWORD{ERROR_FILE_NOT_FOUND});
    EXPECT_FALSE(table_->pfnDeletePort(handle_, nullptr, nullptr, nullptr));
}

TEST_F(XcvCommands, SetDefaultCommConfigDropsOneTrailingColonAndChecksTheInput) {
    COMMCONFIG config = {};
    config.dwSize = sizeof(config);
    std::vector<BYTE> bytes(sizeof(config));
    memcpy(bytes.data(), &config, sizeof(config));

    EXPECT_EQ(Run(Open(L"COM1", SERVER_ACCESS_ADMINISTER), L"SetDefaultCommConfig", bytes), 0u);
    EXPECT_EQ(Run(Open(L"COM1:", SERVER_ACCESS_ADMINISTER), L"SetDefaultCommConfig", bytes), 0u);
    ASSERT_EQ(g_commCalls.size(), 2u);
    EXPECT_EQ(g_commCalls[0].device, L"COM1");
    EXPECT_EQ(g_commCalls[1].device, L"COM1");
    EXPECT_EQ(g_commCalls[1].size, sizeof(COMMCONFIG));
    g_commCalls.clear();

    XcvHandle* admin = Open(L"COM1", SERVER_ACCESS_ADMINISTER);
    // Shorter than a COMMCONFIG, or shorter than its own dwSize.
    std::vector<BYTE> shortInput(bytes.begin(), bytes.end() - 1);
    EXPECT_EQ(Run(admin, L"SetDefaultCommConfig", shortInput), DWORD{ERROR_INVALID_PARAMETER});
    std::vector<BYTE> longer = bytes;
    DWORD claimed = sizeof(COMMCONFIG) + 100;
    memcpy(longer.data(), &claimed, 4);
    EXPECT_EQ(Run(admin, L"SetDefaultCommConfig", longer), DWORD{ERROR_INVALID_PARAMETER});
    EXPECT_EQ(Run(admin, L"SetDefaultCommConfig", std::vector<BYTE>()),
              DWORD{ERROR_INVALID_PARAMETER});
    // Empty object names (also the spooler's null one), and a lone colon.
    EXPECT_EQ(Run(Open(nullptr, SERVER_ACCESS_ADMINISTER), L"SetDefaultCommConfig", bytes),
              DWORD{ERROR_INVALID_PARAMETER});
    EXPECT_EQ(Run(Open(L"", SERVER_ACCESS_ADMINISTER), L"SetDefaultCommConfig", bytes),
              DWORD{ERROR_INVALID_PARAMETER});
    EXPECT_EQ(Run(Open(L":", SERVER_ACCESS_ADMINISTER), L"SetDefaultCommConfig", bytes),
              DWORD{ERROR_INVALID_PARAMETER});
    EXPECT_TRUE(g_commCalls.empty());
}

TEST_F(XcvCommands, GetDefaultCommConfigNeedsACommConfigSizedOutput) {
    XcvHandle* user = User();
    std::vector<BYTE> output(64, 0xCC);
    DWORD needed = 7;
    EXPECT_EQ(Run(user, L"GetDefaultCommConfig", Utf16(L"COM1"), output.data(), 64, &needed), 0u);
    ASSERT_EQ(g_commCalls.size(), 1u);
    EXPECT_EQ(g_commCalls[0].device, L"COM1");
    EXPECT_EQ(g_commCalls[0].size, 64u) << "bytes needed starts as the output size";
    EXPECT_EQ(needed, sizeof(COMMCONFIG));
    // A device name without a terminator in the input is the input's characters.
    std::vector<BYTE> unterminated = {'C', 0, 'O', 0};
    EXPECT_EQ(Run(user, L"GetDefaultCommConfig", unterminated, output.data(), 64, &needed), 0u);
    ASSERT_EQ(g_commCalls.size(), 2u);
    EXPECT_EQ(g_commCalls[1].device, L"CO");
}

TEST_F(XcvCommands, XcvHandlesJoinAndLeaveTheList) {
    HANDLE first = nullptr;
    HANDLE second = nullptr;
    EXPECT_TRUE(table_->pfnXcvOpenPort(handle_, nullptr, 0, &first));
    EXPECT_TRUE(table_->pfnXcvOpenPort(handle_, L"COM3:", 1, &second));
    ASSERT_NE(first, nullptr);
    EXPECT_STREQ(static_cast<XcvHandle*>(first)->objectName, L"");
    EXPECT_EQ(monitor_->xcvHandles, first);
    EXPECT_EQ(monitor_->xcvHandles->next, second);
    EXPECT_EQ(static_cast<XcvHandle*>(second)->grantedAccess, 1u);
    EXPECT_TRUE(table_->pfnXcvClosePort(first));
    EXPECT_EQ(monitor_->xcvHandles, second);
    EXPECT_TRUE(table_->pfnXcvClosePort(second));
    EXPECT_EQ(monitor_->xcvHandles, nullptr);
    EXPECT_TRUE(table_->pfnXcvClosePort(nullptr));
    SetLastError(0);
    EXPECT_FALSE(table_->pfnXcvOpenPort(handle_, L"x", 0, nullptr));
    EXPECT_EQ(GetLastError(), DWORD{ERROR_INVALID_PARAMETER});
}

// The system's own comm configuration: the name the command passes must be one that the
// system answers for (a serial port without its colon).
TEST_F(XcvCommands, CommConfigurationAgainstTheSystem) {
    g_portAdminCalls.setDefaultCommConfig = SetDefaultCommConfigW;
    g_portAdminCalls.getDefaultCommConfig = GetDefaultCommConfigW;
    XcvHandle* withColon = Open(L"COM1:", SERVER_ACCESS_ADMINISTER);
    XcvHandle* plain = Open(L"COM2", SERVER_ACCESS_ADMINISTER);

    std::vector<BYTE> output(sizeof(COMMCONFIG) + 16, 0);
    DWORD needed = 0;
    ASSERT_EQ(Run(plain, L"GetDefaultCommConfig", Utf16(L"COM1"), output.data(),
                  static_cast<DWORD>(output.size()), &needed),
              0u);
    COMMCONFIG config;
    memcpy(&config, output.data(), sizeof(config));
    EXPECT_EQ(config.dwProviderSubType, static_cast<DWORD>(PST_RS232));
    DWORD original = config.dcb.BaudRate;
    const DWORD rates[] = {19200, 4800};
    for (XcvHandle* handle : {withColon, plain}) {
        const wchar_t* device = handle == withColon ? L"COM1" : L"COM2";
        DWORD rate = handle == withColon ? rates[0] : rates[1];
        config.dcb.BaudRate = rate;
        std::vector<BYTE> input(sizeof(config));
        memcpy(input.data(), &config, sizeof(config));
        EXPECT_EQ(Run(handle, L"SetDefaultCommConfig", input), 0u);
        // Read back through the system, and through the command.
        COMMCONFIG back = {};
        DWORD size = sizeof(back);
        ASSERT_TRUE(GetDefaultCommConfigW(device, &back, &size));
        EXPECT_EQ(back.dcb.BaudRate, rate) << device;
        ASSERT_EQ(Run(plain, L"GetDefaultCommConfig", Utf16(device), output.data(),
                      static_cast<DWORD>(output.size()), &needed),
                  0u);
        memcpy(&back, output.data(), sizeof(back));
        EXPECT_EQ(back.dcb.BaudRate, rate) << device;
        EXPECT_EQ(needed, sizeof(COMMCONFIG));
    }
    // The command passes the device name as given: the system knows no "COM1:".
    DWORD code = Run(plain, L"GetDefaultCommConfig", Utf16(L"COM1:"), output.data(),
                     static_cast<DWORD>(output.size()), &needed);
    EXPECT_NE(code, 0u);
    // A configuration the system refuses (dwSize too small) is a failure with a code.
    config.dwSize = 10;
    std::vector<BYTE> refused(sizeof(config));
    memcpy(refused.data(), &config, sizeof(config));
    // The system's own code passes through (Wine answers ERROR_BADKEY here); success would be
    // the fault.
    EXPECT_NE(Run(plain, L"SetDefaultCommConfig", refused), DWORD{ERROR_SUCCESS});
    // Leave the prefix as it was.
    config.dwSize = sizeof(config);
    config.dcb.BaudRate = original;
    SetDefaultCommConfigW(L"COM1", &config, sizeof(config));
    SetDefaultCommConfigW(L"COM2", &config, sizeof(config));
}

} // namespace
