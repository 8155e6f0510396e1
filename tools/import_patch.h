#pragma once
// Rebinding a loaded module's imports. The host uses it to stand in for the spooler: the
// monitor calls the spooler client functions through its import address table, and the
// host points those entries at its own implementations.

#include <windows.h>
#include <cstdint>

namespace prnlink {

// The import address table entry through which the image at imageBase (a module as the
// loader mapped it) calls functionName of dllName. dllName is compared without regard to
// case ("winspool.drv" matches "WINSPOOL.DRV"). Only imports by name are found. When the
// image carries no import name table, the entries are matched by their bound address:
// boundAddress is then the function's current address in dllName (may be null otherwise).
// Returns null when the image does not import the function. Reads the image only.
void** FindImportSlot(const uint8_t* imageBase, const char* dllName, const char* functionName,
                      const void* boundAddress);
// Every such entry: a linker may give one library several import descriptors (one per
// import library that named it), each with an entry of its own for the same function.
// Stores at most capacity of them in slots and returns how many there are.
size_t FindImportSlots(const uint8_t* imageBase, const char* dllName, const char* functionName,
                       const void* boundAddress, void*** slots, size_t capacity);

// Points every one of module's imports of dllName!functionName at replacement. The first entry's
// earlier value goes to *original when original is not null. Returns false when the module does not
// import the function or the page protection cannot be changed.
bool PatchImport(HMODULE module, const char* dllName, const char* functionName, void* replacement,
                 void** original);

} // namespace prnlink
