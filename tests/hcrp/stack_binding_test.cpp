// The monitor's binding to the vendor Bluetooth library: the stack-process check (running,
// not running, other letter case, full path through the install directory), loading and
// resolving the five operations, a library that lacks one, unloading, the debug lines, and
// loads and unloads racing on several threads.

#include <windows.h>

#include <gtest/gtest.h>

#include <atomic>
#include <cstddef>
#include <string>
#include <thread>
#include <vector>

#include "support/debug_capture.h"
#include "hcrp/stack_binding.h"

using testsupport::DebugCapture;

namespace {

const wchar_t kInstallKey[] = L"SOFTWARE\\Corvane Corporation\\Orvendel\\1.0";

const char kEnter[] = "LoadQORLIB ==> \n";
const char kLeave[] = "LoadQORLIB <== \n";
const char kNotRunning[] = "LoadQORLIB ERROR Tarnwick is NOT RUNNING, Bluetooth calls will fail\n";
const char kMissing[] =
    "LoadQORLIB: ERROR! A required function was not found in the QORLIB library!\n";
const char kNoKey[] = "GetDLLPathName: ERROR! Unable to open registry key for DLL path!\n";
const char kNoValue[] = "GetDLLPathName: ERROR! Unable to retrieve DLL path from registry!\n";
const std::vector<std::string> kResolve = {"LoadQORLIB: Register \n", "LoadQORLIB: Unregister \n",
                                           "LoadQORLIB: Connect \n", "LoadQORLIB: Disconnect \n",
                                           "LoadQORLIB: SendData \n"};

std::string ProgramDirectory() {
    char path[MAX_PATH];
    DWORD n = GetModuleFileNameA(nullptr, path, MAX_PATH);
    std::string s(path, n);
    return s.substr(0, s.find_last_of('\\') + 1);
}

void SetInstallDir(const wchar_t* value) {
    HKEY key;
    ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyExW(HKEY_LOCAL_MACHINE, kInstallKey, 0, nullptr, 0,
                                             KEY_ALL_ACCESS, nullptr, &key, nullptr));
    if (value != nullptr) {
        RegSetValueExW(key, L"InstallDir", 0, REG_SZ, reinterpret_cast<const BYTE*>(value),
                       static_cast<DWORD>((wcslen(value) + 1) * sizeof(wchar_t)));
    } else {
        RegDeleteValueW(key, L"InstallDir");
    }
    RegCloseKey(key);
}

void DeleteInstallKey() {
    RegDeleteKeyW(HKEY_LOCAL_MACHINE, kInstallKey);
}

std::vector<std::string> Concat(std::vector<std::vector<std::string>> parts) {
    std::vector<std::string> out;
    for (auto& p : parts) {
        out.insert(out.end(), p.begin(), p.end());
    }
    return out;
}

// A stack process started by the test and ended by its own handle.
class StackProcess {
  public:
    explicit StackProcess(const std::string& exe) {
        STARTUPINFOA si{};
        si.cb = sizeof(si);
        std::string command = "\"" + exe + "\"";
        // A copy just written may still be held for a moment by whoever wrote it (seen once
        // in a whole suite run): try again for up to two seconds.
        for (int attempt = 0; attempt < 20 && !started_; ++attempt) {
            started_ = CreateProcessA(exe.c_str(), &command[0], nullptr, nullptr, FALSE, 0, nullptr,
                                      nullptr, &si, &pi_) != 0;
            if (!started_) {
                error_ = GetLastError();
                Sleep(100);
            }
        }
        if (started_) {
            // Visible in a snapshot once its main thread runs.
            WaitForInputIdle(pi_.hProcess, 1000);
            std::string base = exe.substr(exe.find_last_of('\\') + 1);
            for (int i = 0; i < 100 && !StackBinding::IsProcessRunning(base.c_str()); i++) {
                Sleep(50);
            }
        }
    }
    ~StackProcess() {
        if (started_) {
            TerminateProcess(pi_.hProcess, 0);
            WaitForSingleObject(pi_.hProcess, 5000);
            CloseHandle(pi_.hThread);
            CloseHandle(pi_.hProcess);
        }
    }
    bool started() const { return started_; }
    // The last error of a start that failed.
    DWORD error() const { return error_; }

  private:
    bool started_ = false;
    DWORD error_ = 0;
    PROCESS_INFORMATION pi_{};
};

void StopRunningStackProcesses() {
    std::string exe = ProgramDirectory() + "Tarnwick.exe";
    std::string command = "\"" + exe + "\" --stop";
    STARTUPINFOA si{};
    si.cb = sizeof(si);
    PROCESS_INFORMATION pi{};
    if (CreateProcessA(exe.c_str(), &command[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si,
                       &pi)) {
        WaitForSingleObject(pi.hProcess, 5000);
        CloseHandle(pi.hThread);
        CloseHandle(pi.hProcess);
    }
    for (int i = 0; i < 40 && StackBinding::IsProcessRunning("Tarnwick.exe"); i++) {
        Sleep(50);
    }
}

class StackBindingTest : public ::testing::Test {
  protected:
    void SetUp() override {
        g_savedApi = g_processSnapshotApi;
        // A stack process left behind by an earlier program of the suite is asked to stop.
        if (StackBinding::IsProcessRunning("Tarnwick.exe")) {
            StopRunningStackProcesses();
        }
        ASSERT_EQ(0, StackBinding::IsProcessRunning("Tarnwick.exe"))
            << "a stack process is already running in this prefix";
        std::string narrow = ProgramDirectory();
        std::wstring dir(narrow.begin(), narrow.end());
        SetInstallDir(dir.c_str());
    }
    void TearDown() override {
        g_processSnapshotApi = g_savedApi;
        DeleteInstallKey();
        ASSERT_EQ(nullptr, GetModuleHandleA("QORLIB.DLL")) << "the library was left loaded";
    }
    static ProcessSnapshotApi g_savedApi;
};
ProcessSnapshotApi StackBindingTest::g_savedApi;

TEST_F(StackBindingTest, WithoutTheStackProcessNothingIsLoaded) {
    StackBinding binding;
    DebugCapture capture;
    EXPECT_EQ(0, binding.LoadQORLIB());
    EXPECT_EQ(std::vector<std::string>({kEnter, kNotRunning}), capture.LinesOfThisThread());
    EXPECT_EQ(nullptr, binding.module);
    EXPECT_EQ(ProgramDirectory() + "QORLIB.DLL", binding.libraryPath);
    // Nothing loaded: Unload changes nothing and reports success.
    EXPECT_EQ(1, binding.Unload());
    EXPECT_EQ(nullptr, binding.module);
}

TEST_F(StackBindingTest, WithTheStackProcessTheFiveOperationsAreResolved) {
    StackProcess tarnwick(ProgramDirectory() + "Tarnwick.exe");
    ASSERT_TRUE(tarnwick.started());
    StackBinding binding;
    EXPECT_EQ(nullptr, binding.qorlRegister);
    DebugCapture capture;
    ASSERT_EQ(1, binding.LoadQORLIB());
    EXPECT_EQ(Concat({{kEnter}, kResolve, {kLeave}}), capture.LinesOfThisThread());
    HMODULE loaded = GetModuleHandleA("QORLIB.DLL");
    ASSERT_NE(nullptr, loaded);
    EXPECT_EQ(loaded, binding.module);
    // The library of the program's own directory, loaded by its bare name.
    char path[MAX_PATH];
    GetModuleFileNameA(loaded, path, MAX_PATH);
    EXPECT_EQ(0, _stricmp((ProgramDirectory() + "QORLIB.DLL").c_str(), path));
    EXPECT_EQ(reinterpret_cast<void*>(binding.qorlRegister),
              reinterpret_cast<void*>(GetProcAddress(loaded, "QORL_Register")));
    EXPECT_EQ(reinterpret_cast<void*>(binding.qorlUnregister),
              reinterpret_cast<void*>(GetProcAddress(loaded, "QORL_Unregister")));
    EXPECT_EQ(reinterpret_cast<void*>(binding.qorlConnect),
              reinterpret_cast<void*>(GetProcAddress(loaded, "QORL_Connect")));
    EXPECT_EQ(reinterpret_cast<void*>(binding.qorlDisconnect),
              reinterpret_cast<void*>(GetProcAddress(loaded, "QORL_Disconnect")));
    EXPECT_EQ(reinterpret_cast<void*>(binding.qorlSendData),
              reinterpret_cast<void*>(GetProcAddress(loaded, "QORL_SendData")));

    // Loaded already: only the two framing lines.
    capture.Clear();
    EXPECT_EQ(1, binding.LoadQORLIB());
    EXPECT_EQ(std::vector<std::string>({kEnter, kLeave}), capture.LinesOfThisThread());

    // Not counted: one Unload releases it; the next load loads it again.
    EXPECT_NE(0, binding.Unload());
    EXPECT_EQ(nullptr, binding.module);
    EXPECT_EQ(nullptr, GetModuleHandleA("QORLIB.DLL"));
    EXPECT_EQ(1, binding.Unload());
    EXPECT_EQ(1, binding.LoadQORLIB());
    EXPECT_NE(nullptr, GetModuleHandleA("QORLIB.DLL"));
    EXPECT_NE(0, binding.Unload());
}

// Connections hold the library while they use it: it is unloaded only when the last hold
// is given back, and a hold taken before an unconditional unload counts for nothing after.
TEST_F(StackBindingTest, HeldLibraryIsUnloadedOnlyWhenTheLastHolderLetsGo) {
    StackProcess tarnwick(ProgramDirectory() + "Tarnwick.exe");
    ASSERT_TRUE(tarnwick.started());
    StackBinding binding;
    const uint32_t first = binding.Acquire();
    const uint32_t second = binding.Acquire();
    ASSERT_NE(0u, first);
    ASSERT_NE(0u, second);
    ASSERT_NE(nullptr, binding.module);
    EXPECT_EQ(1, binding.UnloadIfUnused());
    EXPECT_NE(nullptr, binding.module);
    binding.Release(first);
    EXPECT_EQ(1, binding.UnloadIfUnused());
    EXPECT_NE(nullptr, binding.module);
    binding.Release(second);
    EXPECT_NE(0, binding.UnloadIfUnused());
    EXPECT_EQ(nullptr, binding.module);

    const uint32_t stale = binding.Acquire();
    ASSERT_NE(0u, stale);
    EXPECT_NE(0, binding.Unload());
    const uint32_t fresh = binding.Acquire();
    ASSERT_NE(0u, fresh);
    EXPECT_NE(stale, fresh);
    binding.Release(stale); // of the earlier load: releases nothing
    EXPECT_EQ(1, binding.UnloadIfUnused());
    EXPECT_NE(nullptr, binding.module);
    binding.Release(fresh);
    EXPECT_NE(0, binding.UnloadIfUnused());
    EXPECT_EQ(nullptr, binding.module);
}

TEST_F(StackBindingTest, TheStackProcessCountsInAnyLetterCase) {
    char temp[MAX_PATH];
    GetTempPathA(MAX_PATH, temp);
    std::string dir = std::string(temp) + "stack_binding_case";
    CreateDirectoryA(dir.c_str(), nullptr);
    std::string copy = dir + "\\TARNWICK.EXE";
    ASSERT_TRUE(CopyFileA((ProgramDirectory() + "Tarnwick.exe").c_str(), copy.c_str(), FALSE));
    {
        StackProcess tarnwick(copy);
        ASSERT_TRUE(tarnwick.started()) << "CreateProcessA: " << tarnwick.error();
        EXPECT_EQ(1, StackBinding::IsProcessRunning("TARNWICK.EXE"));
        EXPECT_EQ(1, StackBinding::IsProcessRunning("tarnwick.exe"));
        StackBinding binding;
        EXPECT_EQ(1, binding.LoadQORLIB());
        binding.Unload();
    }
    DeleteFileA(copy.c_str());
    RemoveDirectoryA(dir.c_str());
}

// A process list as a system reports it, for IsProcessRunning. The system fills only an entry
// of its own full size (296 bytes on i686, 304 on x64); an entry it reports as ending at or
// before the executable name (at 36 or 44) carries no name.
const DWORD FULL_ENTRY = sizeof(tagPROCESSENTRY32);
const DWORD ENDS_BEFORE_NAME = offsetof(tagPROCESSENTRY32, szExeFile);
const DWORD ENDS_IN_NAME = ENDS_BEFORE_NAME + 1;

struct FakeProcess {
    const char* name;
    DWORD reportedSize;
};
std::vector<FakeProcess> g_fakeProcesses;
size_t g_fakeNext;
bool g_fakeSnapshotFails;
int g_fakeOpenSnapshots;

HANDLE WINAPI FakeCreate(DWORD, DWORD) {
    if (g_fakeSnapshotFails) {
        return INVALID_HANDLE_VALUE;
    }
    g_fakeNext = 0;
    g_fakeOpenSnapshots++;
    return reinterpret_cast<HANDLE>(0x1234);
}
BOOL WINAPI FakeNext(HANDLE, tagPROCESSENTRY32* entry) {
    if (entry->dwSize != FULL_ENTRY || g_fakeNext >= g_fakeProcesses.size()) {
        return FALSE;
    }
    const FakeProcess& p = g_fakeProcesses[g_fakeNext++];
    entry->dwSize = p.reportedSize;
    lstrcpynA(entry->szExeFile, p.name, MAX_PATH);
    return TRUE;
}
BOOL WINAPI FakeFirst(HANDLE snapshot, tagPROCESSENTRY32* entry) {
    g_fakeNext = 0;
    return FakeNext(snapshot, entry);
}
BOOL WINAPI FakeClose(HANDLE) {
    g_fakeOpenSnapshots--;
    return TRUE;
}

class FakeSnapshotTest : public StackBindingTest {
  protected:
    void SetUp() override {
        StackBindingTest::SetUp();
        g_processSnapshotApi = {FakeCreate, FakeFirst, FakeNext, FakeClose};
        g_fakeProcesses.clear();
        g_fakeSnapshotFails = false;
        g_fakeOpenSnapshots = 0;
    }
    void TearDown() override {
        EXPECT_EQ(0, g_fakeOpenSnapshots) << "a snapshot was left open";
        StackBindingTest::TearDown();
    }
};

TEST_F(FakeSnapshotTest, TheStackProcessIsFoundByItsFullPathInTheInstallDirectory) {
    SetInstallDir(L"C:\\Vendor\\");
    g_fakeProcesses = {{"System", FULL_ENTRY}, {"C:\\Vendor\\Tarnwick.exe", FULL_ENTRY}};
    StackBinding binding;
    DebugCapture capture;
    // The library itself still comes through the search order, by its bare name.
    ASSERT_EQ(1, binding.LoadQORLIB());
    EXPECT_STREQ("C:\\Vendor\\QORLIB.DLL", binding.libraryPath);
    EXPECT_EQ(Concat({{kEnter}, kResolve, {kLeave}}), capture.LinesOfThisThread());
    binding.Unload();

    SetInstallDir(L"C:\\Elsewhere\\");
    capture.Clear();
    EXPECT_EQ(0, binding.LoadQORLIB());
    EXPECT_EQ(std::vector<std::string>({kEnter, kNotRunning}), capture.LinesOfThisThread());
}

TEST_F(FakeSnapshotTest, EntriesThatEndBeforeTheNameAreSkipped) {
    // A first entry that ends before its name ends the search at once.
    g_fakeProcesses = {{"Tarnwick.exe", ENDS_BEFORE_NAME}, {"Tarnwick.exe", FULL_ENTRY}};
    EXPECT_EQ(0, StackBinding::IsProcessRunning("Tarnwick.exe"));
    // Later short entries are skipped, and the walk goes on past them.
    g_fakeProcesses = {
        {"System", FULL_ENTRY}, {"Tarnwick.exe", ENDS_BEFORE_NAME}, {"x.exe", ENDS_IN_NAME}};
    EXPECT_EQ(0, StackBinding::IsProcessRunning("Tarnwick.exe"));
    g_fakeProcesses = {
        {"System", FULL_ENTRY}, {"Tarnwick.exe", ENDS_BEFORE_NAME}, {"tarnWICK.exe", ENDS_IN_NAME}};
    EXPECT_EQ(1, StackBinding::IsProcessRunning("Tarnwick.exe"));
    g_fakeProcesses = {{"tarnwick.EXE", FULL_ENTRY}};
    EXPECT_EQ(1, StackBinding::IsProcessRunning("Tarnwick.exe"));
    g_fakeProcesses = {};
    EXPECT_EQ(0, StackBinding::IsProcessRunning("Tarnwick.exe"));
    g_fakeProcesses = {{"Tarnwick.exe", FULL_ENTRY}};
    g_fakeSnapshotFails = true;
    EXPECT_EQ(0, StackBinding::IsProcessRunning("Tarnwick.exe"));
    EXPECT_EQ(0, StackBinding::IsProcessRunning(nullptr));
}

TEST_F(FakeSnapshotTest, AMissingInstallDirectoryDoesNotStopTheLoad) {
    g_fakeProcesses = {{"Tarnwick.exe", FULL_ENTRY}};
    StackBinding binding;
    DebugCapture capture;
    DeleteInstallKey();
    ASSERT_EQ(1, binding.LoadQORLIB());
    EXPECT_STREQ("QORLIB.DLL", binding.libraryPath);
    EXPECT_EQ(Concat({{kEnter, kNoKey}, kResolve, {kLeave}}), capture.LinesOfThisThread());
    binding.Unload();

    // Key without the value; a value longer than the 255-byte buffer; a value of the wrong
    // type. Each: the error line, the bare name, and the load goes on.
    SetInstallDir(nullptr);
    std::wstring longDir = L"C:\\" + std::wstring(200, L'd') + L"\\";
    for (int round = 0; round < 3; round++) {
        if (round == 1) {
            SetInstallDir(longDir.c_str());
        } else if (round == 2) {
            HKEY key;
            RegOpenKeyExW(HKEY_LOCAL_MACHINE, kInstallKey, 0, KEY_ALL_ACCESS, &key);
            DWORD number = 7;
            RegSetValueExW(key, L"InstallDir", 0, REG_DWORD, reinterpret_cast<BYTE*>(&number), 4);
            RegCloseKey(key);
        }
        capture.Clear();
        EXPECT_EQ(0, binding.GetDLLPathName());
        EXPECT_STREQ("QORLIB.DLL", binding.libraryPath) << round;
        EXPECT_EQ(std::vector<std::string>({kNoValue}), capture.LinesOfThisThread()) << round;
    }
    // The longest directory that fits the value buffer (126 characters) still reads.
    std::wstring fits = L"C:\\" + std::wstring(122, L'e') + L"\\";
    SetInstallDir(fits.c_str());
    capture.Clear();
    binding.GetDLLPathName();
    EXPECT_EQ(std::string(fits.begin(), fits.end()) + "QORLIB.DLL", binding.libraryPath);
    EXPECT_TRUE(capture.LinesOfThisThread().empty());
}

TEST_F(FakeSnapshotTest, ALibraryMissingOneOperationIsRefusedAndTheNextCallTriesAgain) {
    g_fakeProcesses = {{"Tarnwick.exe", FULL_ENTRY}};
    // Loaded first by its full path, the incomplete library is what the bare name finds.
    HMODULE incomplete = LoadLibraryA((ProgramDirectory() + "incomplete\\QORLIB.DLL").c_str());
    ASSERT_NE(nullptr, incomplete);
    ASSERT_EQ(nullptr, GetProcAddress(incomplete, "QORL_Unregister"));
    StackBinding binding;
    DebugCapture capture;
    EXPECT_EQ(0, binding.LoadQORLIB());
    EXPECT_EQ(Concat({{kEnter}, kResolve, {kMissing, kLeave}}), capture.LinesOfThisThread());
    EXPECT_EQ(nullptr, binding.module);
    // The refused library was released: only the test's own reference holds it.
    FreeLibrary(incomplete);
    EXPECT_EQ(nullptr, GetModuleHandleA("QORLIB.DLL"));

    capture.Clear();
    ASSERT_EQ(1, binding.LoadQORLIB());
    EXPECT_EQ(Concat({{kEnter}, kResolve, {kLeave}}), capture.LinesOfThisThread());
    EXPECT_NE(nullptr, GetProcAddress(binding.module, "QORL_Unregister"));
    binding.Unload();
}

TEST_F(FakeSnapshotTest, TheDestructorReleasesALoadedLibrary) {
    g_fakeProcesses = {{"Tarnwick.exe", FULL_ENTRY}};
    StackBinding* binding = new StackBinding;
    ASSERT_EQ(1, binding->LoadQORLIB());
    EXPECT_NE(nullptr, GetModuleHandleA("QORLIB.DLL"));
    delete binding;
    EXPECT_EQ(nullptr, GetModuleHandleA("QORLIB.DLL"));
}

TEST_F(FakeSnapshotTest, LoadsAndUnloadsOnSeveralThreadsNeverOverlap) {
    g_fakeProcesses = {{"Tarnwick.exe", FULL_ENTRY}};
    // The test's own reference keeps the library mapped; a lost or doubled reference in the
    // binding shows up as a library that stays loaded, or goes, when it should not.
    HMODULE own = LoadLibraryA("QORLIB.DLL");
    ASSERT_NE(nullptr, own);
    StackBinding binding;
    std::atomic<bool> go{false};
    std::atomic<int> loads{0};
    std::atomic<int> failures{0};
    auto loader = [&] {
        while (!go) {
            std::this_thread::yield();
        }
        for (int i = 0; i < 400; i++) {
            if (binding.LoadQORLIB() == 1) {
                loads++;
            } else {
                failures++;
            }
        }
    };
    auto unloader = [&] {
        while (!go) {
            std::this_thread::yield();
        }
        for (int i = 0; i < 400; i++) {
            if (binding.Unload() == 0) {
                failures++;
            }
        }
    };
    {
        DebugCapture capture; // every framing line pair stays whole: one load at a time
        std::vector<std::thread> threads;
        threads.emplace_back(loader);
        threads.emplace_back(loader);
        threads.emplace_back(unloader);
        threads.emplace_back(unloader);
        go = true;
        for (std::thread& t : threads) {
            t.join();
        }
        std::vector<std::string> lines = capture.Lines();
        int depth = 0;
        for (const std::string& line : lines) {
            if (line == kEnter) {
                EXPECT_EQ(0, depth++);
            } else if (line == kLeave) {
                EXPECT_EQ(1, depth--);
            }
        }
    }
    EXPECT_EQ(800, loads.load());
    EXPECT_EQ(0, failures.load());
    binding.Unload();
    EXPECT_EQ(own, GetModuleHandleA("QORLIB.DLL"));
    FreeLibrary(own);
    EXPECT_EQ(nullptr, GetModuleHandleA("QORLIB.DLL"));
}

} // namespace
