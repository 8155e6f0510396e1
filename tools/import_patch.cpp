#include "import_patch.h"

#include <cstring>

namespace prnlink {

namespace {

bool SameTextIgnoringCase(const char* a, const char* b) {
    for (;; ++a, ++b) {
        char ca = *a >= 'A' && *a <= 'Z' ? static_cast<char>(*a - 'A' + 'a') : *a;
        char cb = *b >= 'A' && *b <= 'Z' ? static_cast<char>(*b - 'A' + 'a') : *b;
        if (ca != cb) {
            return false;
        }
        if (ca == '\0') {
            return true;
        }
    }
}

} // namespace

void** FindImportSlot(const uint8_t* imageBase, const char* dllName, const char* functionName,
                      const void* boundAddress) {
    void** slot = nullptr;
    return FindImportSlots(imageBase, dllName, functionName, boundAddress, &slot, 1) > 0 ? slot
                                                                                         : nullptr;
}

size_t FindImportSlots(const uint8_t* imageBase, const char* dllName, const char* functionName,
                       const void* boundAddress, void*** found, size_t capacity) {
    size_t count = 0;
    auto keep = [&](uintptr_t* slot) {
        if (count < capacity) {
            found[count] = reinterpret_cast<void**>(slot);
        }
        ++count;
    };
    if (imageBase == nullptr || dllName == nullptr || functionName == nullptr) {
        return 0;
    }
    auto* dos = reinterpret_cast<const IMAGE_DOS_HEADER*>(imageBase);
    if (dos->e_magic != IMAGE_DOS_SIGNATURE) {
        return 0;
    }
    // The headers and thunks of this program's own architecture (PE32 on i686, PE32+ on x64):
    // a module mapped into this process is of the same kind.
    auto* nt = reinterpret_cast<const IMAGE_NT_HEADERS*>(imageBase + dos->e_lfanew);
    if (nt->Signature != IMAGE_NT_SIGNATURE ||
        nt->OptionalHeader.Magic != IMAGE_NT_OPTIONAL_HDR_MAGIC ||
        nt->OptionalHeader.NumberOfRvaAndSizes <= IMAGE_DIRECTORY_ENTRY_IMPORT) {
        return 0;
    }
    const IMAGE_DATA_DIRECTORY& directory =
        nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT];
    if (directory.VirtualAddress == 0) {
        return 0;
    }
    auto* descriptor =
        reinterpret_cast<const IMAGE_IMPORT_DESCRIPTOR*>(imageBase + directory.VirtualAddress);
    for (; descriptor->Name != 0 && descriptor->FirstThunk != 0; ++descriptor) {
        auto* name = reinterpret_cast<const char*>(imageBase + descriptor->Name);
        if (!SameTextIgnoringCase(name, dllName)) {
            continue;
        }
        auto* slots =
            reinterpret_cast<uintptr_t*>(const_cast<uint8_t*>(imageBase) + descriptor->FirstThunk);
        if (descriptor->OriginalFirstThunk == 0) {
            // No name table: the loader's bindings are all there is to go by.
            for (size_t i = 0; boundAddress != nullptr && slots[i] != 0; ++i) {
                if (slots[i] == reinterpret_cast<uintptr_t>(boundAddress)) {
                    keep(&slots[i]);
                }
            }
            continue;
        }
        auto* names =
            reinterpret_cast<const IMAGE_THUNK_DATA*>(imageBase + descriptor->OriginalFirstThunk);
        for (size_t i = 0; names[i].u1.AddressOfData != 0; ++i) {
            if (IMAGE_SNAP_BY_ORDINAL(names[i].u1.Ordinal)) {
                continue;
            }
            auto* byName = reinterpret_cast<const IMAGE_IMPORT_BY_NAME*>(imageBase +
                                                                         names[i].u1.AddressOfData);
            if (std::strcmp(reinterpret_cast<const char*>(byName->Name), functionName) == 0) {
                keep(&slots[i]);
            }
        }
    }
    return count;
}

bool PatchImport(HMODULE module, const char* dllName, const char* functionName, void* replacement,
                 void** original) {
    HMODULE exporter = GetModuleHandleA(dllName);
    const void* bound = exporter != nullptr
                            ? reinterpret_cast<const void*>(GetProcAddress(exporter, functionName))
                            : nullptr;
    void** slot =
        FindImportSlot(reinterpret_cast<const uint8_t*>(module), dllName, functionName, bound);
    if (slot == nullptr) {
        return false;
    }
    DWORD oldProtection = 0;
    if (!VirtualProtect(slot, sizeof(void*), PAGE_READWRITE, &oldProtection)) {
        return false;
    }
    if (original != nullptr) {
        *original = *slot;
    }
    InterlockedExchangePointer(slot, replacement);
    DWORD ignored = 0;
    VirtualProtect(slot, sizeof(void*), oldProtection, &ignored);
    FlushInstructionCache(GetCurrentProcess(), slot, sizeof(void*));
    return true;
}

} // namespace prnlink
