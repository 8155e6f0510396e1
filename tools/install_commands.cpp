// prnlink install and uninstall: PRNLINK.DLL and its port dialogs (QUILLDLG.dll) copied into
// the system directory and the monitor registered with the spooler (AddMonitorW), and taken
// away again (DeleteMonitorW).

#include "command_support.h"
#include "command_table.h"

#include "admin_arguments.h"
#include "ansi_text.h"
#include "console.h"
#include "image_machine.h"
#include "spooler_registration.h"
#include "win32_error_names.h"

#include <windows.h>
#include <winspool.h>

#include <string>
#include <vector>

namespace prnlink {

namespace {

const wchar_t kLibraryFile[] = L"PRNLINK.DLL";
// The port dialogs, which the monitor's "MonitorUI" answer names: the spooler's client
// loads them from the system directory when an administrator presses Add Port,
// Configure Port or Delete Port.
const wchar_t kDialogsFile[] = L"QUILLDLG.dll";

std::wstring SystemFilePath(const wchar_t* file) {
    wchar_t system[MAX_PATH] = {};
    // The system directory of this program's architecture, from which the spooler of the
    // same architecture loads its monitors: System32 for the 64-bit build on 64-bit Windows
    // and for the 32-bit build on 32-bit Windows. (A 32-bit build on 64-bit Windows would
    // get SysWOW64, which no spooler reads; install and uninstall refuse to run there.)
    GetSystemDirectoryW(system, MAX_PATH);
    return std::wstring(system) + L"\\" + file;
}

std::wstring InstalledLibraryPath() {
    return SystemFilePath(kLibraryFile);
}

// Copies QUILLDLG.dll from beside the monitor's library into the system directory. Empty
// when it was copied, or when there is none to copy (said in a line: the monitor works
// without it); otherwise why it was not.
std::string InstallPortDialogs(const std::wstring& librarySource) {
    std::wstring source =
        librarySource.substr(0, librarySource.find_last_of(L"\\/") + 1) + kDialogsFile;
    if (!FileExists(source)) {
        PrintLine("no " + Narrow(source) +
                  ": the Add Port, Configure Port and Delete Port "
                  "buttons will not work for Bluetooth ports");
        return std::string();
    }
    const std::string mismatch = LibraryMachineMismatch(source);
    if (!mismatch.empty()) {
        return Narrow(source) + ": " + mismatch + "; nothing was changed";
    }
    std::wstring target = SystemFilePath(kDialogsFile);
    if (!CopyFileW(source.c_str(), target.c_str(), FALSE)) {
        DWORD code = GetLastError();
        return "cannot copy " + Narrow(source) + " to " + Narrow(target) + ": " +
               DescribeWin32Error(code) +
               (code == ERROR_SHARING_VIOLATION ? " (a port dialog is open: close it)" : "") +
               "; nothing was changed";
    }
    PrintLine("copied " + Narrow(source) + " to " + Narrow(target) + " (the port dialogs)");
    return std::string();
}

// The monitor name from --name, checked; false after the usage message.
bool TakeMonitorName(const char* command, std::vector<std::string>* args, std::string* name,
                     int* exitCode) {
    std::string error;
    *name = Narrow(kMonitorName);
    if (!TakeOption(args, "--name", name, &error)) {
        *exitCode = Usage(command, error);
        return false;
    }
    error = CheckMonitorNameArgument(*name);
    if (error.empty() && args->size() != 1) {
        error = std::string(command) + " takes only --name NAME, not \"" + (*args)[1] + "\"";
    }
    if (!error.empty()) {
        *exitCode = Usage(command, error);
        return false;
    }
    return true;
}

// Empty when this program may install for the spooler of this Windows, or uninstall from
// it; otherwise why not, for a 32-bit prnlink.exe on 64-bit Windows.
std::string WrongWindows(bool install) {
    const bool windowsIs64Bit = WindowsIs64Bit();
    if (InstallsForSpooler(THIS_PROGRAM_MACHINE, windowsIs64Bit)) {
        return std::string();
    }
    const std::string ours = ImageMachineName(THIS_PROGRAM_MACHINE);
    const std::string spooler = ImageMachineName(SpoolerMachine(windowsIs64Bit));
    const std::string both = "this prnlink.exe is " + ours + " and this Windows is " + spooler;
    if (install) {
        return both + ": it would copy PRNLINK.DLL into SysWOW64 and register it with the " +
               spooler + " spooler, which cannot load a " + ours + " monitor. Install with the " +
               spooler + " prnlink.exe and PRNLINK.DLL; nothing was changed";
    }
    return both + ": its system directory is SysWOW64, not the one the " + spooler +
           " spooler loads PRNLINK.DLL from. Uninstall with the " + spooler +
           " prnlink.exe; nothing was changed";
}

} // namespace

int CommandInstall(const Options& options) {
    std::vector<std::string> args = options.args;
    std::string name;
    int exitCode = EXIT_USAGE;
    if (!TakeMonitorName("install", &args, &name, &exitCode)) {
        return exitCode;
    }
    const std::string wrongWindows = WrongWindows(true);
    if (!wrongWindows.empty()) {
        return Fail(wrongWindows);
    }
    std::wstring source = options.dllPath.empty() ? DefaultDllPath() : options.dllPath;
    if (!FileExists(source)) {
        if (!options.dllPath.empty()) {
            return Usage("install", "--dll " + Narrow(source) +
                                        ": no such file (give the path of PRNLINK.DLL)");
        }
        return Fail(Narrow(source) + " is missing: put PRNLINK.DLL beside prnlink.exe or give "
                                     "its path with --dll PATH");
    }
    // The loader would refuse a library of another machine only as no monitor at all.
    const std::string mismatch = LibraryMachineMismatch(source);
    if (!mismatch.empty()) {
        if (!options.dllPath.empty()) {
            return Usage("install", "--dll " + Narrow(source) + ": " + mismatch);
        }
        return Fail(Narrow(source) + ": " + mismatch + "; put the " +
                    ImageMachineName(THIS_PROGRAM_MACHINE) + " PRNLINK.DLL beside prnlink.exe");
    }
    if (!options.dllPath.empty() && !IsPortMonitorLibrary(source)) {
        return Usage("install", "--dll " + Narrow(source) +
                                    ": not a port monitor library (it exports no "
                                    "InitializePrintMonitor2)");
    }
    std::wstring wideName = Widen(name);
    std::wstring target = InstalledLibraryPath();
    std::vector<RegisteredMonitor> monitors;
    DWORD error = 0;
    if (!RegisteredMonitors(&monitors, &error)) {
        return Fail("cannot ask the spooler for its monitors: " + DescribeWin32Error(error));
    }
    // First, so that a failure leaves everything as it was.
    const std::string dialogsFailure = InstallPortDialogs(source);
    if (!dialogsFailure.empty()) {
        return Fail(dialogsFailure);
    }
    const RegisteredMonitor* existing = FindMonitor(monitors, wideName);
    if (existing != nullptr && FileExists(target)) {
        PrintLine("\"" + name + "\" is already installed (" + Narrow(existing->dllName) + " in " +
                  Narrow(target.substr(0, target.find_last_of(L'\\'))) +
                  "); to update the library, use Swapwell.exe");
        return EXIT_OK;
    }
    bool hadFile = FileExists(target);
    if (!CopyFileW(source.c_str(), target.c_str(), FALSE)) {
        DWORD code = GetLastError();
        std::string why = DescribeWin32Error(code);
        if (code == ERROR_SHARING_VIOLATION || code == ERROR_ACCESS_DENIED) {
            why += ": the installed library is in use (the spooler loads it); update it with "
                   "Swapwell.exe and restart Windows";
        }
        return Fail("cannot copy " + Narrow(source) + " to " + Narrow(target) + ": " + why);
    }
    PrintLine("copied " + Narrow(source) + " to " + Narrow(target));
    if (existing != nullptr) {
        PrintLine("\"" + name + "\" was registered already; its library is back in place");
        return EXIT_OK;
    }
    MONITOR_INFO_2W info = {};
    info.pName = &wideName[0];
    info.pEnvironment = nullptr;
    std::wstring dllName = kLibraryFile;
    info.pDLLName = &dllName[0];
    if (!AddMonitorW(nullptr, 2, reinterpret_cast<LPBYTE>(&info))) {
        DWORD code = GetLastError();
        if (code != ERROR_PRINT_MONITOR_ALREADY_INSTALLED) {
            if (!hadFile) {
                DeleteFileW(target.c_str());
            }
            std::string hint = code == ERROR_ACCESS_DENIED ? " (run as an administrator)" : "";
            return Fail("AddMonitorW \"" + name + "\" failed: " + DescribeWin32Error(code) + hint +
                        (hadFile ? "" : "; the copied library was deleted again"));
        }
    }
    PrintLine("registered the monitor \"" + name + "\" with the spooler (AddMonitorW, level 2)");
    return EXIT_OK;
}

int CommandUninstall(const Options& options) {
    std::vector<std::string> args = options.args;
    std::string name;
    int exitCode = EXIT_USAGE;
    if (!TakeMonitorName("uninstall", &args, &name, &exitCode)) {
        return exitCode;
    }
    // It would remove the registration yet look for the library, and the printers on its
    // ports, through SysWOW64.
    const std::string wrongWindows = WrongWindows(false);
    if (!wrongWindows.empty()) {
        return Fail(wrongWindows);
    }
    std::wstring wideName = Widen(name);
    std::wstring target = InstalledLibraryPath();
    std::vector<RegisteredMonitor> monitors;
    DWORD error = 0;
    if (!RegisteredMonitors(&monitors, &error)) {
        return Fail("cannot ask the spooler for its monitors: " + DescribeWin32Error(error));
    }
    const RegisteredMonitor* existing = FindMonitor(monitors, wideName);
    if (existing != nullptr) {
        std::vector<PrinterOnPort> users;
        if (!PrintersOnMonitorPorts(target, &users, &error)) {
            return Fail("cannot tell which printers use the monitor's ports: " +
                        DescribeWin32Error(error) + "; nothing was changed");
        }
        if (!users.empty()) {
            for (const PrinterOnPort& user : users) {
                PrintErrorLine("prnlink: printer \"" + Narrow(user.printer) +
                               "\" prints to port \"" + Narrow(user.port) + "\"");
            }
            return Fail("cannot uninstall \"" + name +
                        "\": printers still use its ports; delete "
                        "them or give them another port first. Nothing was changed");
        }
        if (!DeleteMonitorW(nullptr, nullptr, &wideName[0])) {
            DWORD code = GetLastError();
            std::string hint = code == ERROR_PRINT_MONITOR_IN_USE ? "; printers still use its ports"
                               : code == ERROR_ACCESS_DENIED      ? " (run as an administrator)"
                                                                  : "";
            return Fail("DeleteMonitorW \"" + name + "\" failed: " + DescribeWin32Error(code) +
                        hint);
        }
        PrintLine("removed the monitor \"" + name + "\" from the spooler (DeleteMonitorW)");
        monitors.erase(monitors.begin() + (existing - monitors.data()));
    }
    // Another registration of the same library keeps the file.
    for (const RegisteredMonitor& other : monitors) {
        if (lstrcmpiW(other.dllName.c_str(), kLibraryFile) == 0) {
            PrintLine("kept " + Narrow(target) + ": the monitor \"" + Narrow(other.name) +
                      "\" uses it too");
            return EXIT_OK;
        }
    }
    if (!FileExists(target)) {
        if (existing == nullptr) {
            PrintLine("\"" + name + "\" is not installed: nothing to do");
        }
        return EXIT_OK;
    }
    if (!DeleteFileW(target.c_str())) {
        DWORD code = GetLastError();
        if (code == ERROR_SHARING_VIOLATION || code == ERROR_ACCESS_DENIED) {
            return Fail("cannot delete " + Narrow(target) + ": " + DescribeWin32Error(code) +
                        ": the spooler still holds the library. Restart Windows, then run "
                        "prnlink uninstall again to delete it");
        }
        return Fail("cannot delete " + Narrow(target) + ": " + DescribeWin32Error(code));
    }
    PrintLine("deleted " + Narrow(target));
    std::wstring dialogs = SystemFilePath(kDialogsFile);
    if (FileExists(dialogs)) {
        if (DeleteFileW(dialogs.c_str())) {
            PrintLine("deleted " + Narrow(dialogs));
        } else {
            PrintLine("kept " + Narrow(dialogs) + ": " + DescribeWin32Error(GetLastError()) +
                      " (a port dialog is open?); delete it by hand");
        }
    }
    return EXIT_OK;
}

} // namespace prnlink
