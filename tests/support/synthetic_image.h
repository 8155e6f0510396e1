#pragma once
// The first bytes of a PE image and nothing more, for the tests of whatever reads an image's
// machine: a DOS header whose e_lfanew points at "PE\0\0", and a file header naming the
// machine. No loader takes it; no reader of the machine can tell it from a real library.
// Built from the declarations of winnt.h, not from the reader's own idea of the layout.

#include <windows.h>

#include <cstddef>
#include <string>

namespace testsupport {

// The machine of this program's build and of the other one.
#ifdef _WIN64
constexpr WORD THIS_MACHINE = IMAGE_FILE_MACHINE_AMD64;
constexpr WORD OTHER_MACHINE = IMAGE_FILE_MACHINE_I386;
#else
constexpr WORD THIS_MACHINE = IMAGE_FILE_MACHINE_I386;
constexpr WORD OTHER_MACHINE = IMAGE_FILE_MACHINE_AMD64;
#endif

// How the programs name this program's architecture and the other one.
#ifdef _WIN64
constexpr char THIS_ARCHITECTURE[] = "64-bit (x64)";
constexpr char OTHER_ARCHITECTURE[] = "32-bit (i686)";
#else
constexpr char THIS_ARCHITECTURE[] = "32-bit (i686)";
constexpr char OTHER_ARCHITECTURE[] = "64-bit (x64)";
#endif

// The headers at headersAt, just past the DOS header unless given (never inside it), with
// zeros in between, where a real image has its DOS stub.
inline std::string SyntheticImage(WORD machine, std::size_t headersAt = sizeof(IMAGE_DOS_HEADER)) {
    IMAGE_DOS_HEADER dos = {};
    dos.e_magic = IMAGE_DOS_SIGNATURE;
    dos.e_lfanew = static_cast<LONG>(headersAt);
    const DWORD signature = IMAGE_NT_SIGNATURE;
    IMAGE_FILE_HEADER file = {};
    file.Machine = machine;
    std::string bytes(reinterpret_cast<const char*>(&dos), sizeof dos);
    bytes.resize(headersAt, '\0');
    bytes.append(reinterpret_cast<const char*>(&signature), sizeof signature);
    bytes.append(reinterpret_cast<const char*>(&file), sizeof file);
    return bytes;
}

} // namespace testsupport
