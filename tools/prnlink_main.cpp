// prnlink.exe: a console spooler host for PRNLINK.DLL. It loads the monitor the way the
// print spooler does and drives it through its MONITOR2 table, so that the monitor can be
// watched, diagnosed and used to print without a Windows spooler.

#include "ansi_text.h"
#include "commands.h"
#include "console.h"

#include <windows.h>

#include <cstring>

int main(int argc, char** argv) {
    prnlink::ConsoleInitialize();
    prnlink::Options options;
    bool help = false;
    for (int i = 1; i < argc; ++i) {
        std::string arg = argv[i];
        if (arg == "--trace") {
            options.trace = true;
        } else if (arg == "--help" || arg == "-h") {
            help = true;
        } else if (arg == "--dll") {
            if (i + 1 >= argc) {
                prnlink::PrintErrorLine("prnlink: --dll needs a path");
                return prnlink::EXIT_USAGE;
            }
            options.dllPath = prnlink::Widen(argv[++i]);
        } else {
            options.args.push_back(arg);
        }
    }
    if (help || options.args.empty()) {
        std::string command = options.args.empty() ? std::string() : options.args[0];
        prnlink::PrintLine(prnlink::HelpText(command));
        return help ? prnlink::EXIT_OK : prnlink::EXIT_USAGE;
    }
    return prnlink::RunCommand(options);
}
