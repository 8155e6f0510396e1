// Which Windows a program or library is built for, read from the first bytes of its file,
// and which build belongs on which Windows. No Win32 calls here: each program reads the file
// and asks Windows whether it is 64-bit, and passes the answers in, so that the reading and
// the decisions can be checked on their own.
#pragma once

#include <cstddef>

enum class ImageMachine {
    NOT_AN_IMAGE, // no PE headers in the bytes given: some other file, or one cut short
    I686,         // IMAGE_FILE_MACHINE_I386: for 32-bit Windows
    X64,          // IMAGE_FILE_MACHINE_AMD64: for 64-bit Windows
    OTHER,        // a PE image for another processor
};

// How many of a file's first bytes the programs read to find its machine. Linkers place the
// PE headers within the first few hundred bytes.
constexpr std::size_t IMAGE_HEADER_BYTES = 4096;

// The machine named by the PE headers at the start of bytes: an "MZ" DOS header whose
// e_lfanew points, within size, at "PE\0\0" and a whole file header after it. Reads nothing
// outside bytes[0, size).
ImageMachine ReadImageMachine(const unsigned char* bytes, std::size_t size);

// The machine for people: "32-bit (i686)", "64-bit (x64)", "non-x86"; "unknown" for
// NOT_AN_IMAGE.
const char* ImageMachineName(ImageMachine machine);

// The machine this program is built for.
#ifdef _WIN64
constexpr ImageMachine THIS_PROGRAM_MACHINE = ImageMachine::X64;
#else
constexpr ImageMachine THIS_PROGRAM_MACHINE = ImageMachine::I686;
#endif

// The machine of the print spooler, and so of the monitor library it loads: 64-bit Windows
// runs a 64-bit spooler, 32-bit Windows a 32-bit one.
ImageMachine SpoolerMachine(bool windowsIs64Bit);

// Whether a program built for `program` can install a monitor library for the spooler of
// this Windows. A 32-bit program on 64-bit Windows runs under WOW64: its system directory is
// SysWOW64, where the 64-bit spooler does not look, and it would bring a 32-bit library,
// which that spooler cannot load.
bool InstallsForSpooler(ImageMachine program, bool windowsIs64Bit);

// Whether a program built for `program` can load or install a library whose first bytes say
// `library`: false only for a PE image of another machine. Bytes that are no PE image are
// left to the loader to judge.
bool LibraryFitsProgram(ImageMachine library, ImageMachine program);
