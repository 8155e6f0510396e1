// Swapwell: installs the PRNLINK.DLL found in the current directory over the one in the
// system directory. The spooler keeps the old library loaded, so the installed one is moved
// aside rather than overwritten, and the new one takes effect when Windows restarts.
// Each build installs only a library of its own architecture, on the Windows of that
// architecture: the 32-bit one on 32-bit Windows, the 64-bit one on 64-bit Windows.
#include <windows.h>

#include <io.h>

#include <string>

#include "image_machine.h"
#include "running_windows.h"
#include "update_paths.h"

namespace {

const char CAPTION[] = "Swapwell.exe";
const char NOT_PRESENT[] = "Prnlink.dll is not present, abort update.";
const char RESTART[] = "You must restart windows before the changes take effect";
const char SOURCE_TOO_LONG[] = "Prnlink.dll path is too long, abort update.";
const char WINDOWS_TOO_LONG[] = "The Windows directory path is too long, abort update.";
const char WRONG_WINDOWS[] = "This is 64-bit Windows, whose spooler loads only a 64-bit "
                             "PRNLINK.DLL: use the 64-bit (x64) Swapwell.exe with the 64-bit "
                             "(x64) PRNLINK.DLL, abort update.";

const int EXIT_UPDATED = 0;
const int EXIT_ABORTED = -1;

// Time given to the file system between moving the old library aside, copying the new one
// in and removing the old one.
const DWORD SETTLE_MS = 1000;

int Abort(const char* message) {
    MessageBoxA(nullptr, message, CAPTION, MB_OK);
    return EXIT_ABORTED;
}

// The machine of the file at path from its first bytes. A file that cannot be read counts
// as no image: the copy then fails as it always did.
ImageMachine FileMachine(const char* path) {
    HANDLE file =
        CreateFileA(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                    nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        return ImageMachine::NOT_AN_IMAGE;
    }
    unsigned char head[IMAGE_HEADER_BYTES];
    DWORD length = 0;
    const BOOL read = ReadFile(file, head, sizeof head, &length, nullptr);
    CloseHandle(file);
    return read ? ReadImageMachine(head, length) : ImageMachine::NOT_AN_IMAGE;
}

} // namespace

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
    // Under WOW64 the system directory below would be SysWOW64, where no 64-bit spooler
    // looks.
    if (!InstallsForSpooler(THIS_PROGRAM_MACHINE, WindowsIs64Bit())) {
        return Abort(WRONG_WINDOWS);
    }

    char windowsDirectory[UPDATE_PATH_SIZE];
    char currentDirectory[UPDATE_PATH_SIZE];
    // Both report the size they need when the buffer is too small; the path building
    // refuses that instead of reading an unfilled buffer.
    const UINT windowsLength = GetWindowsDirectoryA(windowsDirectory, sizeof windowsDirectory);
    const DWORD currentLength = GetCurrentDirectoryA(sizeof currentDirectory, currentDirectory);

    UpdatePaths paths;
    switch (BuildUpdatePaths(windowsDirectory, windowsLength, currentDirectory, currentLength,
                             &paths)) {
    case UpdatePathsResult::PATHS_OK:
        break;
    case UpdatePathsResult::SOURCE_TOO_LONG:
        return Abort(SOURCE_TOO_LONG);
    case UpdatePathsResult::WINDOWS_DIRECTORY_TOO_LONG:
        return Abort(WINDOWS_TOO_LONG);
    }

    if (_access(paths.source, 0) != 0) {
        return Abort(NOT_PRESENT);
    }
    // The spooler could not load a library of another machine. By now this program's
    // machine is the spooler's.
    const ImageMachine library = FileMachine(paths.source);
    if (!LibraryFitsProgram(library, THIS_PROGRAM_MACHINE)) {
        const std::string ours = ImageMachineName(THIS_PROGRAM_MACHINE);
        return Abort((std::string("PRNLINK.DLL is a ") + ImageMachineName(library) +
                      " library, but this Swapwell.exe and this Windows are " + ours +
                      ": use the " + ours + " PRNLINK.DLL, abort update.")
                         .c_str());
    }

    // From here on a failed step does not end the update: the installed library is moved
    // aside and the new one copied in; the copy aside is then deleted, or, when the new
    // library could not be copied, put back. The user is told to restart in any case.
    SetFileAttributesA(paths.target, FILE_ATTRIBUTE_NORMAL);
    const BOOL movedAside = MoveFileA(paths.target, paths.backup);
    Sleep(SETTLE_MS);
    const BOOL copied = CopyFileA(paths.source, paths.target, FALSE);
    Sleep(SETTLE_MS);
    if (copied || !movedAside) {
        DeleteFileA(paths.backup);
    } else {
        // The new library could not be copied in: put the installed one back rather than
        // delete the only copy of it.
        MoveFileA(paths.backup, paths.target);
    }

    MessageBoxA(nullptr, RESTART, CAPTION, MB_OK);
    return EXIT_UPDATED;
}
