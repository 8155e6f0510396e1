#pragma once
// What the commands of prnlink.exe share: messages and exit codes, option parsing, the
// monitor loaded as the spooler loads it, one of its ports opened, and Xcv calls.

#include "commands.h"
#include "image_machine.h"
#include "running_windows.h"
#include "spooler_host.h"

#include <windows.h>

#include <string>
#include <vector>

namespace prnlink {

// The name under which the monitor is registered with the spooler, and the name of its
// registry key.
extern const wchar_t* const kMonitorName;
// The printer name the host passes to StartDocPort unless told otherwise.
extern const char* const kDefaultPrinterName;

// "prnlink: message" on standard error; returns EXIT_FAILED.
int Fail(const std::string& message);
// "prnlink: message" and the command's usage line on standard error; returns EXIT_USAGE.
int Usage(const std::string& command, const std::string& message);

// Seconds on a steady clock.
double Seconds();
// Whether the stack process Tarnwick.exe runs (true when that cannot be told).
bool StackProcessRunning();
// Why the monitor could not reach a printer, from what it wrote on the debug output and
// from the state of the machine.
std::string ReachHint();

// Takes "NAME VALUE" out of args (both removed); the value stays as it was when the option
// is absent. False with a message when the value is missing.
bool TakeOption(std::vector<std::string>* args, const char* name, std::string* value,
                std::string* error);
// Takes a flag out of args; true when it was there.
bool TakeFlag(std::vector<std::string>* args, const char* name);
// A decimal whole number from 0 to max.
bool ParseNumber(const std::string& text, unsigned long max, unsigned long* value);

// PRNLINK.DLL beside prnlink.exe.
std::wstring DefaultDllPath();
// The directory of prnlink.exe, with its trailing backslash.
std::wstring ProgramDirectory();
// Whether there is a file (not a directory) at path.
bool FileExists(const std::wstring& path);

// The machine of the file at path, read from its first bytes; false with the error code
// when it cannot be read.
bool ReadFileMachine(const std::wstring& path, ImageMachine* machine, DWORD* error);
// Why this program cannot load the library at path, going by its machine: "a 32-bit (i686)
// library; this prnlink.exe is 64-bit (x64) and loads only 64-bit (x64) libraries". Empty
// when the file is of this program's machine, or is no PE image or cannot be read (the
// loader then says why).
std::string LibraryMachineMismatch(const std::wstring& path);

// The monitor loaded and initialised; unloaded when the session goes.
class MonitorSession {
  public:
    // False after saying why.
    bool Open(const Options& options);
    // After a failed Open: EXIT_USAGE when --dll named a library of another machine,
    // EXIT_FAILED otherwise.
    int FailureExitCode() const;
    ~MonitorSession();

  private:
    bool loaded_ = false;
    bool wrongDll_ = false;
};

// Level-1 or level-2 port entries; false with the error code when enumeration fails.
bool EnumeratePorts(DWORD level, std::vector<BYTE>* buffer, DWORD* count, DWORD* error);
bool PortNames(std::vector<std::wstring>* names, DWORD* error);
// Enumerates (which makes the monitor build its ports from HCRPDB.txt, as the spooler's
// enumeration at start-up does) and opens the port; false after saying why, with *unknown
// set when the monitor has no port of that name (a mistyped argument).
bool OpenNamedPort(const std::string& name, HANDLE* port, bool* unknown);

// The monitor loaded and one of its ports opened, as the spooler has them before a job. The
// port is closed (if Close has not done it) and the monitor unloaded when it goes.
class PortSession {
  public:
    // Loads the monitor and opens the named port; false after saying why.
    bool Open(const Options& options, const std::string& name);
    void Close();
    HANDLE port() const { return port_; }
    // After a failed Open: EXIT_USAGE when the port name is not one of the monitor's,
    // EXIT_FAILED otherwise.
    int FailureExitCode() const;
    ~PortSession();

  private:
    MonitorSession monitor_;
    HANDLE port_ = nullptr;
    bool unknownPort_ = false;
};

// A level-1 document description, as the spooler passes to StartDocPort.
struct DocumentInfo {
    std::wstring name;
    std::wstring datatype = L"RAW";
    DOC_INFO_1W info;
    LPBYTE Get();
};

std::string StatusOf(const PortStatusPost& post);

// The printer's line status, asked as the spooler asks before a document: StartDocPort
// (the monitor connects, asks and posts the status), EndDocPort when it started.
struct LineStatus {
    enum Kind { READY, NOT_READY, UNREACHABLE } kind;
    std::string text; // "ready", "paper out", ...; for UNREACHABLE the error
    DWORD error;      // StartDocPort's error code when UNREACHABLE
};
LineStatus AskLineStatus(HANDLE port, const std::string& portName, const std::string& printer);

// One Xcv command on a handle opened with administrator access; the Win32 error code.
DWORD XcvCommand(const std::wstring& object, const wchar_t* command, const BYTE* input,
                 DWORD inputSize, BYTE* output, DWORD outputSize, DWORD* needed);

} // namespace prnlink
