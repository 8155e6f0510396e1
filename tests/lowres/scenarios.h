#pragma once
// The operations the spooler and the port dialogs perform, each run once to count the calls
// it makes and then once per fault point, and what must hold after each of them.

#include <windows.h>

#include <string>
#include <vector>

namespace lowres {

// How one run of an operation went.
struct Outcome {
    bool ok = false;
    DWORD code = 0;        // the failing call's error code
    std::string operation; // the call that failed
    std::string problem;   // a promise the operation broke while it ran ("" when none)
};

enum class ScenarioKind {
    Loaded,         // runs on a monitor loaded and initialised without faults
    Initialisation, // the loading and initialisation is the operation
    Ending,         // ends the monitor (ClosePort and Shutdown)
};

struct Scenario {
    const char* name;
    ScenarioKind kind;
    // Unfaulted, on the loaded monitor, before the faults are armed.
    void (*prepare)();
    Outcome (*run)();
    // The state once the operation has succeeded (after the run, or after a retry without
    // faults): "" when it is what a success promises.
    std::string (*check)();
    // The state after a failed run, before anything else runs (null: not checked).
    std::string (*checkAfterFailure)();
    // The database the operation leaves when it succeeds ("" for the starting one).
    std::string (*databaseAfterSuccess)();
    // Error codes the operation documents for a failure besides running short of memory and
    // passing on the failed call's own code.
    std::vector<DWORD> documented;
};

const std::vector<Scenario>& Scenarios();

// The monitor loaded through the spooler host with the fault injector bound (faults off).
bool LoadInjectedMonitor(std::string* error);

} // namespace lowres
