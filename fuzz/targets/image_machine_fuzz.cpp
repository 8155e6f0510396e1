// The machine of a library file as the installers read it (ReadImageMachine): whatever file
// is put where PRNLINK.DLL belongs, beside prnlink.exe, given with --dll, or in Swapwell's
// folder.

#include "check.h"
#include "image_machine.h"

#include <cstdint>
#include <cstring>

namespace {

uint32_t Little32(const uint8_t* at) {
    return at[0] | at[1] << 8 | at[2] << 16 | static_cast<uint32_t>(at[3]) << 24;
}

// The answer worked out again, field by field: "MZ", e_lfanew at 0x3C, "PE\0\0" there, and
// the 20-byte file header whose first field is the machine.
ImageMachine Expected(const uint8_t* data, size_t size) {
    if (size < 0x40 || data[0] != 'M' || data[1] != 'Z') {
        return ImageMachine::NOT_AN_IMAGE;
    }
    const uint64_t headers = Little32(data + 0x3C);
    if (headers + 24 > size || memcmp(data + headers, "PE\0\0", 4) != 0) {
        return ImageMachine::NOT_AN_IMAGE;
    }
    const unsigned machine = data[headers + 4] | data[headers + 5] << 8;
    return machine == 0x014C   ? ImageMachine::I686
           : machine == 0x8664 ? ImageMachine::X64
                               : ImageMachine::OTHER;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    // A copy of exactly size bytes, so that AddressSanitizer sees any read past the end.
    uint8_t* copy = new uint8_t[size];
    if (size > 0) {
        memcpy(copy, data, size);
    }
    const ImageMachine machine = ReadImageMachine(copy, size);
    FUZZ_CHECK(machine == Expected(copy, size));
    // Only an image of the other x86 machine is refused; anything else is left to the loader.
    FUZZ_CHECK(LibraryFitsProgram(machine, ImageMachine::X64) ==
               (machine != ImageMachine::I686 && machine != ImageMachine::OTHER));
    FUZZ_CHECK(LibraryFitsProgram(machine, ImageMachine::I686) ==
               (machine != ImageMachine::X64 && machine != ImageMachine::OTHER));
    delete[] copy;
    return 0;
}
