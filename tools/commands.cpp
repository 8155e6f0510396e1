// The command table of prnlink.exe: each command's name, usage, help text and handler.

#include "commands.h"

#include "command_support.h"
#include "command_table.h"
#include "console.h"

#include <string>

namespace prnlink {

namespace {

struct Command {
    const char* name;
    const char* usage;
    const char* text;
    int (*run)(const Options& options);
};

const Command kCommands[] = {
    {"ports", "prnlink ports",
     "Lists the monitor's ports (level-2 port entries), one per Bluetooth printer in\n"
     "HCRPDB.txt in the Windows directory.",
     CommandPorts},
    {"status", "prnlink status PORT [--printer NAME] [--watch [--interval SECONDS] [--count N]]",
     "Shows the printer's line status as the spooler would show it: ready, \"Not Powered On\",\n"
     "paper out or offline. It opens the port and starts an empty document, as the spooler\n"
     "does before it prints (the monitor connects, asks the printer for its IEEE 1284 line\n"
     "status and posts it with SetPortW), then ends the document and closes the port.\n"
     "Exit code 0 when the printer is ready, 3 when it answered but is not ready, 1 when it\n"
     "could not be asked.\n"
     "With --watch it asks again every SECONDS (default 1, from 0.1 to 3600) and prints a\n"
     "line with the time whenever the answer changes, until Ctrl+C, or after N polls with\n"
     "--count N; it then exits with 0.",
     CommandStatus},
    {"device-id", "prnlink device-id PORT [--wait SECONDS]",
     "Asks the port for the printer's IEEE 1284 device ID (GetPrinterDataFromPort with\n"
     "IOCTL_PAR_QUERY_DEVICE_ID), waiting for the monitor's worker while it answers\n"
     "ERROR_IO_PENDING (at most SECONDS, default 30), and prints the ID and its fields.",
     CommandDeviceId},
    {"print", "prnlink print PORT FILE [--printer NAME] [--job ID] [--chunk BYTES]",
     "Prints FILE to PORT as the spooler does: OpenPort, StartDocPort, WritePort in pieces of\n"
     "BYTES (default 4096), EndDocPort, ClosePort. Shows a progress bar with the bytes sent,\n"
     "the rate and the time spent waiting for credit: the time inside WritePort beyond\n"
     "handing the data to the Bluetooth library (credit requests and their answers, the\n"
     "monitor's waits for credit, status checks). Status changes are shown as they happen.\n"
     "On failure prints the Win32 error and exits with 1.",
     CommandPrint},
    {"add-port", "prnlink add-port NAME",
     "Adds a port by name through the Xcv command \"AddPort\" (administrator access). The\n"
     "port lives in this process; lasting ports come from HCRPDB.txt.",
     CommandAddPort},
    {"delete-port", "prnlink delete-port NAME",
     "Deletes a port through the Xcv command \"DeletePort\" (administrator access): its\n"
     "printer's record is removed from HCRPDB.txt.",
     CommandDeletePort},
    {"timeout", "prnlink timeout get | prnlink timeout set SECONDS",
     "Reads (\"GetTransmissionRetryTimeout\") or writes (\"ConfigurePortCommandOK\") the\n"
     "transmission retry time-out: how long the monitor keeps asking a printer for credit\n"
     "before a write fails. Ports made afterwards use the new value.",
     CommandTimeout},
    {"devices",
     "prnlink devices list | add ADDRESS NAME [--control-psm N] [--data-psm N] | remove "
     "ADDRESS|NAME",
     "Lists, adds or removes the printers of HCRPDB.txt in the Windows directory, whose\n"
     "records the monitor turns into ports (the port takes the printer's NAME). ADDRESS is\n"
     "written as in port names, 00:1b:dc:0f:10:01, or as 12 hexadecimal digits; NAME has 1\n"
     "to 247 bytes, no commas and no trailing space; the PSMs of the HCRP control and data\n"
     "channels (default 0x1001 and 0x1003) are odd numbers up to 0xFEFF, decimal or 0x-hex.\n"
     "The file is never edited in place: the new content goes to HCRPDB.txt.new, which then\n"
     "replaces it. A second record with the same address or name is refused. Ports appear\n"
     "or go at the spooler's next port enumeration.",
     CommandDevices},
    {"install", "prnlink install [--name NAME]",
     "Copies PRNLINK.DLL (from beside prnlink.exe, or --dll PATH) into the system directory\n"
     "and registers it with the spooler as the monitor NAME (default \"Prnlink\") with\n"
     "AddMonitorW, level 2. Nothing to do when it is registered already. The library must be\n"
     "of this prnlink.exe's architecture and this prnlink.exe of the spooler's: the 64-bit\n"
     "(x64) one on 64-bit Windows, the 32-bit (i686) one on 32-bit Windows.",
     CommandInstall},
    {"uninstall", "prnlink uninstall [--name NAME]",
     "Removes the monitor NAME (default \"Prnlink\") from the spooler with DeleteMonitorW and\n"
     "deletes PRNLINK.DLL from the system directory. Refuses, changing nothing, while\n"
     "printers use its ports; keeps the file while another registered monitor uses it; when\n"
     "the spooler holds the file, says that a restart is needed. Nothing to do when it is\n"
     "not installed. A 32-bit prnlink.exe on 64-bit Windows refuses, as install does.",
     CommandUninstall},
    {"doctor", "prnlink doctor [PORT]",
     "Checks, one line each, what the monitor needs: PRNLINK.DLL (the installed one, else the\n"
     "one prnlink would install) is of the spooler's architecture; the stack process\n"
     "Tarnwick.exe runs; \"InstallDir\" of the Bluetooth stack is in the registry; QORLIB.DLL\n"
     "loads with its five operations; HCRPDB.txt exists and holds well-formed records; the\n"
     "monitor is registered with the spooler and its ports are listed; the retry time-out is\n"
     "a usable number.\n"
     "With PORT, also that the printer connects, its line status and its device ID. Each\n"
     "failed check says what to do. Exit code 0 when every check passes, 1 otherwise.",
     CommandDoctor},
};

const Command* FindCommand(const std::string& name) {
    for (const Command& command : kCommands) {
        if (name == command.name) {
            return &command;
        }
    }
    return nullptr;
}

} // namespace

int Usage(const std::string& command, const std::string& message) {
    PrintErrorLine("prnlink: " + message);
    const Command* entry = FindCommand(command);
    PrintErrorLine(std::string("usage: ") + (entry != nullptr ? entry->usage : "prnlink COMMAND"));
    return EXIT_USAGE;
}

std::string HelpText(const std::string& command) {
    if (const Command* entry = FindCommand(command)) {
        return std::string("usage: ") + entry->usage + "\n\n" + entry->text;
    }
    std::string text =
        "prnlink: a spooler host for the PRNLINK.DLL port monitor. It loads the monitor as\n"
        "the print spooler does and drives it through its function table. It also installs\n"
        "the monitor, diagnoses it and manages the printers of HCRPDB.txt.\n\n"
        "usage: prnlink [--trace] [--dll PATH] COMMAND [ARGUMENTS]\n\ncommands:\n";
    for (const Command& entry : kCommands) {
        text += "  " + std::string(entry.usage) + "\n";
    }
    text += "\n  --trace     print the monitor's debug lines as it writes them (on stderr)\n"
            "  --dll PATH  the monitor library (default: PRNLINK.DLL beside prnlink.exe), of this\n"
            "              prnlink.exe's architecture\n"
            "  prnlink COMMAND --help shows what a command does.\n\n"
            "exit codes: 0 done, 1 failed (the message says why), 2 bad command line,\n"
            "3 status: printer not ready";
    return text;
}

int RunCommand(const Options& options) {
    const std::string& command = options.args[0];
    if (command == "help") {
        PrintLine(HelpText(options.args.size() > 1 ? options.args[1] : std::string()));
        return EXIT_OK;
    }
    if (const Command* entry = FindCommand(command)) {
        return entry->run(options);
    }
    return Usage("", "unknown command \"" + command + "\"");
}

} // namespace prnlink
