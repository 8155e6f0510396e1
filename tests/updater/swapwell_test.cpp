// Swapwell.exe as a user runs it: started with a chosen current directory, in a prefix of
// its own (System32 is ours to change), checked through the files it leaves and its exit
// code. The test starts it as a debugger would and stops it at MessageBoxA: the arguments
// of every message box are read from its stack and the call is answered with IDOK without
// showing a window, so the program runs unchanged and no display is needed.
#include <gtest/gtest.h>

#include <windows.h>

#include "support/synthetic_image.h"

#include <algorithm>
#include <cstddef>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

namespace {

const char CAPTION[] = "Swapwell.exe";
const char NOT_PRESENT[] = "Prnlink.dll is not present, abort update.";
const char RESTART[] = "You must restart windows before the changes take effect";
const char SOURCE_TOO_LONG[] = "Prnlink.dll path is too long, abort update.";

const DWORD EXIT_ABORTED = 0xFFFFFFFF; // -1 as a process exit code

struct MessageBoxCall {
    uintptr_t owner = 0;
    std::string text;
    std::string caption;
    DWORD style = 0;
};

struct Outcome {
    bool finished = false;
    DWORD exitCode = 0;
    std::vector<MessageBoxCall> boxes;
};

std::string ThisDirectory() {
    char path[MAX_PATH];
    const DWORD length = GetModuleFileNameA(nullptr, path, sizeof path);
    std::string directory(path, length);
    return directory.substr(0, directory.find_last_of('\\'));
}

bool ReadRemote(HANDLE process, uintptr_t address, void* out, SIZE_T size) {
    SIZE_T done = 0;
    return ReadProcessMemory(process, reinterpret_cast<LPCVOID>(address), out, size, &done) &&
           done == size;
}

std::string ReadRemoteString(HANDLE process, uintptr_t address) {
    std::string text;
    char c;
    while (text.size() < 4096 && ReadRemote(process, address + text.size(), &c, 1) && c != 0) {
        text += c;
    }
    return text;
}

// The name in the export directory of a module mapped at base in the debuggee.
std::string RemoteModuleName(HANDLE process, uintptr_t base) {
    IMAGE_DOS_HEADER dos;
    IMAGE_NT_HEADERS nt; // the debuggee is of this program's architecture
    IMAGE_EXPORT_DIRECTORY exports;
    if (!ReadRemote(process, base, &dos, sizeof dos) ||
        !ReadRemote(process, base + dos.e_lfanew, &nt, sizeof nt)) {
        return "";
    }
    const IMAGE_DATA_DIRECTORY& directory =
        nt.OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_EXPORT];
    if (directory.VirtualAddress == 0 ||
        !ReadRemote(process, base + directory.VirtualAddress, &exports, sizeof exports)) {
        return "";
    }
    return ReadRemoteString(process, base + exports.Name);
}

// A MessageBoxA call stopped at its first instruction: where it returns to and its four
// arguments, as the architecture's calling convention passes them.
struct MessageBoxFrame {
    uintptr_t returnAddress = 0;
    uintptr_t owner = 0;
    uintptr_t text = 0;
    uintptr_t caption = 0;
    uintptr_t style = 0;
};

bool ReadMessageBoxFrame(HANDLE process, const CONTEXT& context, MessageBoxFrame* frame) {
#ifdef _WIN64
    // The return address on the stack, the arguments in RCX, RDX, R8 and R9.
    frame->owner = context.Rcx;
    frame->text = context.Rdx;
    frame->caption = context.R8;
    frame->style = context.R9;
    return ReadRemote(process, context.Rsp, &frame->returnAddress, sizeof frame->returnAddress);
#else
    DWORD slots[5]; // return address, hWnd, lpText, lpCaption, uType
    if (!ReadRemote(process, context.Esp, slots, sizeof slots)) {
        return false;
    }
    frame->returnAddress = slots[0];
    frame->owner = slots[1];
    frame->text = slots[2];
    frame->caption = slots[3];
    frame->style = slots[4];
    return true;
#endif
}

// Returns `result` to the caller as MessageBoxA itself would.
void ReturnFromMessageBox(const MessageBoxFrame& frame, DWORD result, CONTEXT* context) {
#ifdef _WIN64
    context->Rip = frame.returnAddress;
    context->Rsp += sizeof(uintptr_t);
    context->Rax = result;
#else
    context->Eip = frame.returnAddress;
    context->Esp += 5 * sizeof(DWORD); // stdcall: the callee pops its four arguments
    context->Eax = result;
#endif
}

// Starts Swapwell.exe in currentDirectory under this process as its debugger and runs it to
// its end, answering each MessageBoxA call in place of the user.
Outcome RunSwapwell(const std::string& currentDirectory) {
    Outcome run;
    HMODULE user32 = LoadLibraryA("user32.dll");
    const uintptr_t messageBoxOffset =
        reinterpret_cast<uintptr_t>(GetProcAddress(user32, "MessageBoxA")) -
        reinterpret_cast<uintptr_t>(user32);

    std::string program = ThisDirectory() + "\\Swapwell.exe";
    std::string commandLine = "\"" + program + "\"";
    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION info = {};
    if (!CreateProcessA(program.c_str(), &commandLine[0], nullptr, nullptr, FALSE,
                        DEBUG_ONLY_THIS_PROCESS, nullptr, currentDirectory.c_str(), &startup,
                        &info)) {
        ADD_FAILURE() << "CreateProcess failed, error " << GetLastError();
        return run;
    }

    HANDLE process = info.hProcess;
    uintptr_t breakpoint = 0;
    for (;;) {
        DEBUG_EVENT event;
        if (!WaitForDebugEvent(&event, 30000)) {
            ADD_FAILURE() << "Swapwell.exe did not finish within 30 s";
            TerminateProcess(process, 1);
            break;
        }
        DWORD continueStatus = DBG_CONTINUE;
        switch (event.dwDebugEventCode) {
        case CREATE_PROCESS_DEBUG_EVENT:
            CloseHandle(event.u.CreateProcessInfo.hFile);
            break;
        case LOAD_DLL_DEBUG_EVENT: {
            const uintptr_t base = reinterpret_cast<uintptr_t>(event.u.LoadDll.lpBaseOfDll);
            CloseHandle(event.u.LoadDll.hFile);
            if (breakpoint == 0 &&
                lstrcmpiA(RemoteModuleName(process, base).c_str(), "user32.dll") == 0) {
                const unsigned char int3 = 0xCC;
                breakpoint = base + messageBoxOffset;
                SIZE_T done = 0;
                EXPECT_TRUE(WriteProcessMemory(process, reinterpret_cast<LPVOID>(breakpoint), &int3,
                                               1, &done));
                FlushInstructionCache(process, reinterpret_cast<LPCVOID>(breakpoint), 1);
            }
            break;
        }
        case EXCEPTION_DEBUG_EVENT: {
            const EXCEPTION_RECORD& record = event.u.Exception.ExceptionRecord;
            if (record.ExceptionCode != EXCEPTION_BREAKPOINT) {
                continueStatus = DBG_EXCEPTION_NOT_HANDLED;
                break;
            }
            if (reinterpret_cast<uintptr_t>(record.ExceptionAddress) != breakpoint) {
                break; // the loader's initial breakpoint
            }
            HANDLE thread =
                OpenThread(THREAD_GET_CONTEXT | THREAD_SET_CONTEXT, FALSE, event.dwThreadId);
            CONTEXT context = {};
            context.ContextFlags = CONTEXT_FULL;
            MessageBoxFrame frame;
            if (thread == nullptr || !GetThreadContext(thread, &context) ||
                !ReadMessageBoxFrame(process, context, &frame)) {
                ADD_FAILURE() << "cannot read the MessageBoxA call";
                TerminateProcess(process, 1);
            } else {
                MessageBoxCall call;
                call.owner = frame.owner;
                call.text = ReadRemoteString(process, frame.text);
                call.caption = ReadRemoteString(process, frame.caption);
                call.style = static_cast<DWORD>(frame.style);
                run.boxes.push_back(call);
                ReturnFromMessageBox(frame, IDOK, &context);
                EXPECT_TRUE(SetThreadContext(thread, &context));
            }
            if (thread != nullptr) {
                CloseHandle(thread);
            }
            break;
        }
        case EXIT_PROCESS_DEBUG_EVENT:
            run.finished = true;
            run.exitCode = event.u.ExitProcess.dwExitCode;
            break;
        default:
            break;
        }
        ContinueDebugEvent(event.dwProcessId, event.dwThreadId, continueStatus);
        if (event.dwDebugEventCode == EXIT_PROCESS_DEBUG_EVENT) {
            break;
        }
    }
    WaitForSingleObject(process, 10000);
    CloseHandle(info.hThread);
    CloseHandle(process);
    EXPECT_NE(breakpoint, 0u) << "user32.dll was never loaded into Swapwell.exe";
    return run;
}

bool Exists(const std::string& path) {
    return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

std::string Contents(const std::string& path) {
    std::ifstream file(path, std::ios::binary);
    if (!file) {
        return "<missing>";
    }
    std::ostringstream text;
    text << file.rdbuf();
    return text.str();
}

void WriteFile(const std::string& path, const std::string& contents, DWORD attributes = 0) {
    SetFileAttributesA(path.c_str(), FILE_ATTRIBUTE_NORMAL);
    std::ofstream file(path, std::ios::binary | std::ios::trunc);
    file << contents;
    file.close();
    ASSERT_TRUE(file.good()) << path;
    if (attributes != 0) {
        ASSERT_TRUE(SetFileAttributesA(path.c_str(), attributes)) << path;
    }
}

// The wide form that takes paths beyond MAX_PATH (the deep directories need it).
std::wstring LongPath(const std::string& path) {
    return L"\\\\?\\" + std::wstring(path.begin(), path.end());
}

void Remove(const std::string& path) {
    SetFileAttributesW(LongPath(path).c_str(), FILE_ATTRIBUTE_NORMAL);
    DeleteFileW(LongPath(path).c_str());
}

// Expects exactly one message box with text, no owner, the program's caption and MB_OK.
void ExpectOneMessage(const Outcome& run, const char* text) {
    ASSERT_EQ(run.boxes.size(), 1u);
    EXPECT_EQ(run.boxes[0].text, text);
    EXPECT_EQ(run.boxes[0].caption, CAPTION);
    EXPECT_EQ(run.boxes[0].style, static_cast<DWORD>(MB_OK));
    EXPECT_EQ(run.boxes[0].owner, 0u);
}

// The program ran to its end with this exit code, after showing this one message.
void ExpectEnded(const Outcome& run, DWORD exitCode, const char* text) {
    ASSERT_TRUE(run.finished);
    EXPECT_EQ(run.exitCode, exitCode);
    ExpectOneMessage(run, text);
}

class Swapwell : public ::testing::Test {
  protected:
    void SetUp() override {
        char windows[MAX_PATH];
        ASSERT_NE(GetWindowsDirectoryA(windows, sizeof windows), 0u);
        // The same path the program builds; as a 32-bit program this test sees the same
        // (redirected) system directory the program writes to.
        target_ = std::string(windows) + "\\System32\\PRNLINK.DLL";
        backup_ = std::string(windows) + "\\System32\\PRNLINKOLD.DDL";
        char temp[MAX_PATH];
        ASSERT_NE(GetTempPathA(sizeof temp, temp), 0u);
        scratch_ = std::string(temp) + "swapwell-" + std::to_string(GetTickCount()) + "-" +
                   ::testing::UnitTest::GetInstance()->current_test_info()->name();
        ASSERT_TRUE(CreateDirectoryA(scratch_.c_str(), nullptr)) << scratch_;
        source_ = scratch_ + "\\PRNLINK.DLL";
        Remove(target_);
        Remove(backup_);
    }

    void TearDown() override {
        Remove(target_);
        Remove(backup_);
        Remove(source_);
        for (auto it = directories_.rbegin(); it != directories_.rend(); ++it) {
            Remove(*it + "\\PRNLINK.DLL");
            EXPECT_TRUE(RemoveDirectoryW(LongPath(*it).c_str())) << *it;
        }
        EXPECT_TRUE(RemoveDirectoryA(scratch_.c_str())) << scratch_;
    }

    std::string scratch_, source_, target_, backup_;
    std::vector<std::string> directories_; // nested inside scratch_, outermost first
};

// The program file's machine, subsystem and the libraries it imports, read from its PE
// headers (those of this test's own architecture, as Swapwell.exe is built beside it).
struct ProgramImage {
    WORD machine = 0;
    WORD subsystem = 0;
    std::vector<std::string> imports;
};

ProgramImage ReadProgramImage(const std::string& path) {
    ProgramImage image;
    const std::string file = Contents(path);
    auto at = [&file](std::size_t offset, std::size_t size) -> const char* {
        return offset <= file.size() && size <= file.size() - offset ? file.data() + offset
                                                                     : nullptr;
    };
    IMAGE_DOS_HEADER dos;
    IMAGE_NT_HEADERS nt;
    if (!at(0, sizeof dos)) {
        return image;
    }
    std::memcpy(&dos, at(0, sizeof dos), sizeof dos);
    if (!at(dos.e_lfanew, sizeof nt)) {
        return image;
    }
    std::memcpy(&nt, at(dos.e_lfanew, sizeof nt), sizeof nt);
    image.machine = nt.FileHeader.Machine;
    if (nt.OptionalHeader.Magic != IMAGE_NT_OPTIONAL_HDR_MAGIC) {
        return image;
    }
    image.subsystem = nt.OptionalHeader.Subsystem;

    const std::size_t sectionsAt = dos.e_lfanew + offsetof(IMAGE_NT_HEADERS, OptionalHeader) +
                                   nt.FileHeader.SizeOfOptionalHeader;
    auto fileOffset = [&](DWORD rva) -> std::size_t {
        for (WORD i = 0; i < nt.FileHeader.NumberOfSections; ++i) {
            IMAGE_SECTION_HEADER section;
            const char* raw = at(sectionsAt + i * sizeof section, sizeof section);
            if (!raw) {
                break;
            }
            std::memcpy(&section, raw, sizeof section);
            if (rva >= section.VirtualAddress &&
                rva < section.VirtualAddress + section.SizeOfRawData) {
                return rva - section.VirtualAddress + section.PointerToRawData;
            }
        }
        return file.size();
    };
    std::size_t descriptorAt =
        fileOffset(nt.OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT].VirtualAddress);
    IMAGE_IMPORT_DESCRIPTOR descriptor;
    while (const char* raw = at(descriptorAt, sizeof descriptor)) {
        std::memcpy(&descriptor, raw, sizeof descriptor);
        if (descriptor.Name == 0) {
            break;
        }
        const std::size_t nameAt = fileOffset(descriptor.Name);
        if (!at(nameAt, 1)) {
            break;
        }
        image.imports.emplace_back(file.c_str() + nameAt);
        descriptorAt += sizeof descriptor;
    }
    return image;
}

TEST(SwapwellProgram, IsAGuiProgramThatImportsOnlySystemLibraries) {
    const ProgramImage image = ReadProgramImage(ThisDirectory() + "\\Swapwell.exe");
#ifdef _WIN64
    EXPECT_EQ(image.machine, IMAGE_FILE_MACHINE_AMD64);
#else
    EXPECT_EQ(image.machine, IMAGE_FILE_MACHINE_I386);
#endif
    EXPECT_EQ(image.subsystem, IMAGE_SUBSYSTEM_WINDOWS_GUI);
    EXPECT_NE(std::find_if(image.imports.begin(), image.imports.end(),
                           [](const std::string& name) {
                               return lstrcmpiA(name.c_str(), "user32.dll") == 0;
                           }),
              image.imports.end());
    // The C++ runtime is linked in, and nothing of the monitor comes along.
    for (const std::string& name : image.imports) {
        EXPECT_TRUE(lstrcmpiA(name.c_str(), "kernel32.dll") == 0 ||
                    lstrcmpiA(name.c_str(), "user32.dll") == 0 ||
                    lstrcmpiA(name.c_str(), "msvcrt.dll") == 0)
            << name;
    }
}

TEST_F(Swapwell, FirstInstallationCopiesTheLibraryIntoTheSystemDirectory) {
    WriteFile(source_, "new library");
    const Outcome run = RunSwapwell(scratch_);
    ExpectEnded(run, 0, RESTART);
    EXPECT_EQ(Contents(target_), "new library");
    EXPECT_FALSE(Exists(backup_));
    EXPECT_EQ(Contents(source_), "new library");
}

TEST_F(Swapwell, ReplacesAnInstalledLibraryThatIsReadOnlyAndHidden) {
    WriteFile(source_, "new library");
    WriteFile(target_, "old library",
              FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM);
    const Outcome run = RunSwapwell(scratch_);
    ExpectEnded(run, 0, RESTART);
    EXPECT_EQ(Contents(target_), "new library");
    EXPECT_FALSE(Exists(backup_));
}

TEST_F(Swapwell, MissingSourceTouchesNothing) {
    const DWORD attributes = FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN;
    WriteFile(target_, "old library", attributes);
    WriteFile(backup_, "older library");
    const Outcome run = RunSwapwell(scratch_);
    ExpectEnded(run, EXIT_ABORTED, NOT_PRESENT);
    EXPECT_EQ(Contents(target_), "old library");
    EXPECT_EQ(GetFileAttributesA(target_.c_str()) & attributes, attributes);
    EXPECT_EQ(Contents(backup_), "older library");
}

TEST_F(Swapwell, UnreadableSourceStillEndsWithTheRestartMessage) {
    WriteFile(source_, "new library");
    // Held open without sharing: the program can see the file but not read it.
    HANDLE held = CreateFileA(source_.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(held, INVALID_HANDLE_VALUE);

    // First installation: nothing arrives, nothing is left behind.
    Outcome run = RunSwapwell(scratch_);
    ExpectEnded(run, 0, RESTART);
    EXPECT_FALSE(Exists(target_));
    EXPECT_FALSE(Exists(backup_));

    // An installed library is moved back into place rather than deleted with its backup.
    WriteFile(target_, "old library", FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN);
    run = RunSwapwell(scratch_);
    CloseHandle(held);
    ExpectEnded(run, 0, RESTART);
    EXPECT_EQ(Contents(target_), "old library");
    EXPECT_FALSE(Exists(backup_));
}

TEST_F(Swapwell, BackupLeftBehindByAnEarlierRun) {
    WriteFile(source_, "new library");
    WriteFile(target_, "old library", FILE_ATTRIBUTE_READONLY);
    WriteFile(backup_, "older library");
    // The rename fails over the old backup, the copy still overwrites the library, and the
    // old backup is deleted at the end.
    const Outcome run = RunSwapwell(scratch_);
    ExpectEnded(run, 0, RESTART);
    EXPECT_EQ(Contents(target_), "new library");
    EXPECT_FALSE(Exists(backup_));
}

TEST_F(Swapwell, LibraryHeldLoadedIsMovedAsideAndItsBackupStays) {
    // The installed library is loaded, as the spooler holds it: it can be renamed but not
    // deleted.
    ASSERT_TRUE(
        CopyFileA((ThisDirectory() + "\\swapwell_held.dll").c_str(), target_.c_str(), FALSE));
    HMODULE held = LoadLibraryA(target_.c_str());
    ASSERT_NE(held, nullptr) << GetLastError();
    const std::string heldImage = Contents(target_);

    WriteFile(source_, "new library");
    Outcome run = RunSwapwell(scratch_);
    EXPECT_TRUE(run.finished);
    EXPECT_EQ(run.exitCode, 0u);
    ExpectOneMessage(run, RESTART);
    EXPECT_EQ(Contents(target_), "new library");
    EXPECT_EQ(Contents(backup_), heldImage);

    // Until a restart the backup stays: the next run cannot move the library aside but
    // still copies over it.
    WriteFile(source_, "newer library");
    run = RunSwapwell(scratch_);
    FreeLibrary(held);
    EXPECT_TRUE(run.finished);
    EXPECT_EQ(run.exitCode, 0u);
    ExpectOneMessage(run, RESTART);
    EXPECT_EQ(Contents(target_), "newer library");
    EXPECT_EQ(Contents(backup_), heldImage);
}

TEST_F(Swapwell, StartedFromADriveRoot) {
    char windows[MAX_PATH];
    ASSERT_NE(GetWindowsDirectoryA(windows, sizeof windows), 0u);
    const std::string root = std::string(windows, 3); // "C:\"
    // The file system does not care about the case of the name.
    const std::string source = root + "prnlink.dll";
    ASSERT_FALSE(Exists(source)) << "the scratch prefix's root already holds " << source;
    WriteFile(source, "new library from the root");
    const Outcome run = RunSwapwell(root);
    Remove(source);
    ExpectEnded(run, 0, RESTART);
    EXPECT_EQ(Contents(target_), "new library from the root");
}

TEST_F(Swapwell, RefusesALibraryOfTheOtherArchitectureAndInstallsOneOfItsOwn) {
    const DWORD attributes = FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN;
    WriteFile(target_, "old library", attributes);
    WriteFile(backup_, "older library");
    WriteFile(source_, testsupport::SyntheticImage(testsupport::OTHER_MACHINE));
    const std::string refusal = std::string("PRNLINK.DLL is a ") + testsupport::OTHER_ARCHITECTURE +
                                " library, but this Swapwell.exe and this Windows are " +
                                testsupport::THIS_ARCHITECTURE + ": use the " +
                                testsupport::THIS_ARCHITECTURE + " PRNLINK.DLL, abort update.";
    Outcome run = RunSwapwell(scratch_);
    ExpectEnded(run, EXIT_ABORTED, refusal.c_str());
    EXPECT_EQ(Contents(target_), "old library");
    EXPECT_EQ(GetFileAttributesA(target_.c_str()) & attributes, attributes);
    EXPECT_EQ(Contents(backup_), "older library");

    // The same headers naming this program's machine are taken like any library.
    Remove(backup_);
    const std::string own = testsupport::SyntheticImage(testsupport::THIS_MACHINE);
    WriteFile(source_, own);
    run = RunSwapwell(scratch_);
    ExpectEnded(run, 0, RESTART);
    EXPECT_EQ(Contents(target_), own);
    EXPECT_FALSE(Exists(backup_));
}

TEST_F(Swapwell, RefusesACurrentDirectoryTooLongForItsBuffers) {
    WriteFile(target_, "old library", FILE_ATTRIBUTE_HIDDEN);
    // Directories nested until the path reaches the wanted length, with PRNLINK.DLL in each.
    auto deepen = [this](std::size_t length) {
        std::string directory = directories_.empty() ? scratch_ : directories_.back();
        while (directory.size() < length) {
            // Each level adds a backslash and a name of at least two characters.
            const std::size_t room = length - directory.size() - 1;
            const std::size_t step = room <= 60 ? room : std::min<std::size_t>(room - 2, 60);
            directory += "\\" + std::string(step, 'd');
            EXPECT_TRUE(CreateDirectoryW(LongPath(directory).c_str(), nullptr)) << directory;
            directories_.push_back(directory);
            WriteFile(directory + "\\PRNLINK.DLL", "new library");
        }
        return directory;
    };

    // The directory fits the 256-byte buffer, the source path built from it does not.
    const std::string fitting = deepen(250);
    ASSERT_EQ(fitting.size(), 250u);
    Outcome run = RunSwapwell(fitting);
    ExpectEnded(run, EXIT_ABORTED, SOURCE_TOO_LONG);

    // The directory itself does not fit: GetCurrentDirectoryA only reports its size.
    const std::string overlong = deepen(257);
    ASSERT_EQ(overlong.size(), 257u);
    run = RunSwapwell(overlong);
    ExpectEnded(run, EXIT_ABORTED, SOURCE_TOO_LONG);

    EXPECT_EQ(Contents(target_), "old library");
    EXPECT_NE(GetFileAttributesA(target_.c_str()) & FILE_ATTRIBUTE_HIDDEN, 0u);
    EXPECT_FALSE(Exists(backup_));
}

} // namespace
