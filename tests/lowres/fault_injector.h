#pragma once
// Low resources on demand: the library's imports of the calls that can fail for want of
// memory, handles, files or registry space (and the registry functions it is given) are bound
// to wrappers that count every call, fail the chosen ones as the system would, and keep
// account of what the library made and has not released: heap blocks, handles, registry
// keys, printer handles, loaded modules and running threads. Test programs only: the
// library itself is used unchanged.

#include <windows.h>

#include "entry/monitor.h"

#include <cstdint>
#include <string>
#include <vector>

namespace lowres {

enum class FaultMode {
    Off,      // calls pass, uncounted
    Count,    // calls pass, counted
    FailAt,   // the k-th counted call fails, the others pass
    FailFrom, // every counted call from the k-th on fails
};

// Binds the wrappers into library's import table and into *registry (the registry
// functions the library is about to be given). Calls the library does not import are
// named in *unbound (comma-separated).
void InstallFaultInjector(HMODULE library, MONITORREG* registry, std::string* unbound);

// From now on, calls are counted from 1 and failed as the mode says.
void SetFaultMode(FaultMode mode, uint64_t k = 0);
// The calls counted since the mode was last set.
uint64_t FaultPointsSeen();
// Which thread made each call counted since the mode was last set (in the order counted):
// the thread that set the mode (the spooler's, in a scenario), a thread the library
// started, or another (the Bluetooth library's, calling back with what a printer sent).
enum class CallThread { Caller, Library, Foreign };
std::vector<CallThread> CountedThreads();
// The calls failed since then, and the name of the first of them ("" when none failed).
uint64_t FaultsInjected();
std::string FirstFailedCall();
// Whether a failed call of this run set this error code (the library may pass it on).
bool InjectedCode(DWORD code);

// What the library made through the bound calls since ForgetResources and has not
// released. Threads count while their start routine runs.
struct LiveResources {
    size_t blocks = 0;
    size_t handles = 0;
    size_t keys = 0;
    size_t printers = 0;
    size_t modules = 0;
    size_t threads = 0;
    std::string madeBy; // the calls that made them
    bool None() const { return blocks + handles + keys + printers + modules + threads == 0; }
    std::string Describe() const;
};
LiveResources Live();
void ForgetResources();
// Waits up to timeoutMs for the library's threads to end; true when none runs.
bool WaitForThreads(DWORD timeoutMs);

} // namespace lowres
