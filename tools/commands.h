#pragma once
// The commands of prnlink.exe. Each returns the process exit code.

#include <string>
#include <vector>

namespace prnlink {

// Exit codes.
constexpr int EXIT_OK = 0;
constexpr int EXIT_FAILED = 1;    // the operation failed; the message says why
constexpr int EXIT_USAGE = 2;     // bad command line
constexpr int EXIT_NOT_READY = 3; // status: the printer answered but is not ready

struct Options {
    bool trace = false;
    std::wstring dllPath;          // empty: PRNLINK.DLL beside prnlink.exe
    std::vector<std::string> args; // the command and its arguments
};

int RunCommand(const Options& options);
// The help text of one command, or of the program when command is empty or unknown.
std::string HelpText(const std::string& command);

} // namespace prnlink
