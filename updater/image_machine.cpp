#include "image_machine.h"

#include <cstdint>
#include <cstring>

namespace {

// The PE format's layout, the same in 32-bit and 64-bit images: a DOS header that begins
// with "MZ" and holds at 0x3C (e_lfanew) the offset of "PE\0\0", which is followed by the
// file header, whose first field is the machine.
const unsigned char DOS_SIGNATURE[2] = {'M', 'Z'};
constexpr std::size_t LFANEW_OFFSET = 0x3C;
const unsigned char PE_SIGNATURE[4] = {'P', 'E', 0, 0};
constexpr std::size_t FILE_HEADER_SIZE = 20;
constexpr std::uint16_t MACHINE_I386 = 0x014C;
constexpr std::uint16_t MACHINE_AMD64 = 0x8664;

// Little-endian, as the format stores every field.
std::uint32_t Read32(const unsigned char* at) {
    return static_cast<std::uint32_t>(at[0]) | static_cast<std::uint32_t>(at[1]) << 8 |
           static_cast<std::uint32_t>(at[2]) << 16 | static_cast<std::uint32_t>(at[3]) << 24;
}

std::uint16_t Read16(const unsigned char* at) {
    return static_cast<std::uint16_t>(at[0] | at[1] << 8);
}

} // namespace

ImageMachine ReadImageMachine(const unsigned char* bytes, std::size_t size) {
    if (bytes == nullptr || size < LFANEW_OFFSET + 4 ||
        std::memcmp(bytes, DOS_SIGNATURE, sizeof DOS_SIGNATURE) != 0) {
        return ImageMachine::NOT_AN_IMAGE;
    }
    // e_lfanew is signed in the declaration; read unsigned, a negative one lies past any
    // buffer and is refused with the rest.
    const std::uint32_t headers = Read32(bytes + LFANEW_OFFSET);
    if (headers > size || size - headers < sizeof PE_SIGNATURE + FILE_HEADER_SIZE ||
        std::memcmp(bytes + headers, PE_SIGNATURE, sizeof PE_SIGNATURE) != 0) {
        return ImageMachine::NOT_AN_IMAGE;
    }
    switch (Read16(bytes + headers + sizeof PE_SIGNATURE)) {
    case MACHINE_I386:
        return ImageMachine::I686;
    case MACHINE_AMD64:
        return ImageMachine::X64;
    default:
        return ImageMachine::OTHER;
    }
}

const char* ImageMachineName(ImageMachine machine) {
    switch (machine) {
    case ImageMachine::I686:
        return "32-bit (i686)";
    case ImageMachine::X64:
        return "64-bit (x64)";
    case ImageMachine::OTHER:
        return "non-x86";
    case ImageMachine::NOT_AN_IMAGE:
        break;
    }
    return "unknown";
}

ImageMachine SpoolerMachine(bool windowsIs64Bit) {
    return windowsIs64Bit ? ImageMachine::X64 : ImageMachine::I686;
}

bool InstallsForSpooler(ImageMachine program, bool windowsIs64Bit) {
    return program == SpoolerMachine(windowsIs64Bit);
}

bool LibraryFitsProgram(ImageMachine library, ImageMachine program) {
    return library == ImageMachine::NOT_AN_IMAGE || library == program;
}
