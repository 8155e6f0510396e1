// Reading a file's machine from its first bytes, its names, and which build belongs on which
// Windows. Every reading runs over bytes that end where an inaccessible page begins, so a read
// past the buffer ends the test with an access violation instead of passing by luck.
#include <gtest/gtest.h>

#include <windows.h>

#include <cstring>
#include <fstream>
#include <iterator>
#include <string>

#include "image_machine.h"
#include "support/synthetic_image.h"

namespace {

using testsupport::SyntheticImage;

class Fenced {
  public:
    explicit Fenced(const std::string& bytes) {
        SYSTEM_INFO system;
        GetSystemInfo(&system);
        const std::size_t page = system.dwPageSize;
        const std::size_t span =
            bytes.size() <= page ? page : (bytes.size() + page - 1) / page * page;
        base_ = static_cast<unsigned char*>(
            VirtualAlloc(nullptr, span + page, MEM_RESERVE | MEM_COMMIT, PAGE_READWRITE));
        DWORD previous = 0;
        if (base_ == nullptr || !VirtualProtect(base_ + span, page, PAGE_NOACCESS, &previous)) {
            ADD_FAILURE() << "cannot fence the bytes, error " << GetLastError();
            return;
        }
        data_ = base_ + span - bytes.size();
        std::memcpy(data_, bytes.data(), bytes.size());
        size_ = bytes.size();
    }
    ~Fenced() {
        if (base_ != nullptr) {
            VirtualFree(base_, 0, MEM_RELEASE);
        }
    }
    Fenced(const Fenced&) = delete;
    Fenced& operator=(const Fenced&) = delete;

    ImageMachine Read() const { return ReadImageMachine(data_, size_); }

  private:
    unsigned char* base_ = nullptr;
    unsigned char* data_ = nullptr;
    std::size_t size_ = 0;
};

ImageMachine ReadFenced(const std::string& bytes) {
    return Fenced(bytes).Read();
}

// The bytes with a 32-bit little-endian value written at offset.
std::string With32(std::string bytes, std::size_t offset, DWORD value) {
    std::memcpy(&bytes[offset], &value, sizeof value);
    return bytes;
}

std::string WithText(std::string bytes, std::size_t offset, const char* text) {
    bytes.replace(offset, std::strlen(text), text);
    return bytes;
}

const std::size_t LFANEW = offsetof(IMAGE_DOS_HEADER, e_lfanew);
const std::size_t HEADERS = sizeof(IMAGE_DOS_HEADER); // where SyntheticImage puts "PE\0\0"

TEST(ImageMachine, ReadsTheMachineOrRefusesWhatIsNoImage) {
    const std::string i686 = SyntheticImage(IMAGE_FILE_MACHINE_I386);
    const std::size_t size = i686.size();
    struct Case {
        const char* what;
        std::string bytes;
        ImageMachine expected;
    } cases[] = {
        {"i686 image", i686, ImageMachine::I686},
        {"x64 image", SyntheticImage(IMAGE_FILE_MACHINE_AMD64), ImageMachine::X64},
        {"headers after a DOS stub", SyntheticImage(IMAGE_FILE_MACHINE_AMD64, 0xF8),
         ImageMachine::X64},
        {"ARM64 image", SyntheticImage(IMAGE_FILE_MACHINE_ARM64), ImageMachine::OTHER},
        {"Itanium image", SyntheticImage(IMAGE_FILE_MACHINE_IA64), ImageMachine::OTHER},
        {"machine 0", SyntheticImage(IMAGE_FILE_MACHINE_UNKNOWN), ImageMachine::OTHER},
        {"empty", "", ImageMachine::NOT_AN_IMAGE},
        {"text", "new library", ImageMachine::NOT_AN_IMAGE},
        {"no MZ", WithText(i686, 0, "ZM"), ImageMachine::NOT_AN_IMAGE},
        {"NE, not PE", WithText(i686, HEADERS, "NE"), ImageMachine::NOT_AN_IMAGE},
        {"PE without its zeros", WithText(i686, HEADERS + 2, "\x01"), ImageMachine::NOT_AN_IMAGE},
        {"e_lfanew at the end", With32(i686, LFANEW, size), ImageMachine::NOT_AN_IMAGE},
        {"e_lfanew negative", With32(i686, LFANEW, 0xFFFFFFFC), ImageMachine::NOT_AN_IMAGE},
        {"e_lfanew far beyond", With32(i686, LFANEW, 0x7FFFFFFF), ImageMachine::NOT_AN_IMAGE},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(ReadFenced(c.bytes), c.expected) << c.what;
    }
}

TEST(ImageMachine, AnImageCutShortAnywhereIsNoImage) {
    for (const std::size_t headersAt : {HEADERS, std::size_t{0x80}}) {
        const std::string image = SyntheticImage(IMAGE_FILE_MACHINE_AMD64, headersAt);
        // Every length short of the whole file header: within the DOS header, before and
        // inside e_lfanew, the signature and the file header.
        for (std::size_t size = 0; size < image.size(); ++size) {
            EXPECT_EQ(ReadFenced(image.substr(0, size)), ImageMachine::NOT_AN_IMAGE)
                << "headers at " << headersAt << ", cut to " << size;
        }
        EXPECT_EQ(ReadFenced(image), ImageMachine::X64) << "headers at " << headersAt;
    }
}

TEST(ImageMachine, ThisProgramsFileIsOfItsOwnMachine) {
    char path[MAX_PATH];
    ASSERT_NE(GetModuleFileNameA(nullptr, path, sizeof path), 0u);
    std::ifstream file(path, std::ios::binary);
    std::string head(IMAGE_HEADER_BYTES, '\0');
    file.read(&head[0], static_cast<std::streamsize>(head.size()));
    head.resize(static_cast<std::size_t>(file.gcount()));
    EXPECT_EQ(ReadFenced(head), THIS_PROGRAM_MACHINE);
#ifdef _WIN64
    EXPECT_EQ(THIS_PROGRAM_MACHINE, ImageMachine::X64);
#else
    EXPECT_EQ(THIS_PROGRAM_MACHINE, ImageMachine::I686);
#endif
}

TEST(ImageMachine, NamesForPeople) {
    EXPECT_STREQ(ImageMachineName(ImageMachine::I686), "32-bit (i686)");
    EXPECT_STREQ(ImageMachineName(ImageMachine::X64), "64-bit (x64)");
    EXPECT_STREQ(ImageMachineName(ImageMachine::OTHER), "non-x86");
    EXPECT_STREQ(ImageMachineName(ImageMachine::NOT_AN_IMAGE), "unknown");
}

// The refusal of a 32-bit installer on 64-bit Windows (WOW64) is decided here: the programs
// only ask IsWow64Process, which no test machine here can answer TRUE for a 32-bit program.
TEST(ImageMachine, OnlyAProgramOfTheSpoolersMachineInstalls) {
    struct Case {
        ImageMachine program;
        bool windowsIs64Bit;
        ImageMachine spooler;
        bool installs;
    } cases[] = {
        {ImageMachine::I686, false, ImageMachine::I686, true},
        {ImageMachine::I686, true, ImageMachine::X64, false}, // under WOW64
        {ImageMachine::X64, true, ImageMachine::X64, true},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(SpoolerMachine(c.windowsIs64Bit), c.spooler) << c.windowsIs64Bit;
        EXPECT_EQ(InstallsForSpooler(c.program, c.windowsIs64Bit), c.installs)
            << ImageMachineName(c.program) << " on " << (c.windowsIs64Bit ? "64" : "32")
            << "-bit Windows";
    }
}

TEST(ImageMachine, ALibraryFitsAProgramOfItsOwnMachine) {
    struct Case {
        ImageMachine library;
        ImageMachine program;
        bool fits;
    } cases[] = {
        {ImageMachine::I686, ImageMachine::I686, true},
        {ImageMachine::X64, ImageMachine::X64, true},
        {ImageMachine::I686, ImageMachine::X64, false},
        {ImageMachine::X64, ImageMachine::I686, false},
        {ImageMachine::OTHER, ImageMachine::X64, false},
        {ImageMachine::OTHER, ImageMachine::I686, false},
        // Left to the loader, which names its own error.
        {ImageMachine::NOT_AN_IMAGE, ImageMachine::X64, true},
        {ImageMachine::NOT_AN_IMAGE, ImageMachine::I686, true},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(LibraryFitsProgram(c.library, c.program), c.fits)
            << ImageMachineName(c.library) << " library, " << ImageMachineName(c.program)
            << " program";
    }
}

} // namespace
