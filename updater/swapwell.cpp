// Swapwell: installs the PRNLINK.DLL found in the current directory over the one in the
// system directory. The spooler keeps the old library loaded, so the installed one is moved
// aside rather than overwritten, and the new one takes effect when Windows restarts.
#include <windows.h>

#include <io.h>

#include "update_paths.h"

namespace {

const char CAPTION[] = "Swapwell.exe";
const char NOT_PRESENT[] = "Prnlink.dll is not present, abort update.";
const char RESTART[] = "You must restart windows before the changes take effect";
const char SOURCE_TOO_LONG[] = "Prnlink.dll path is too long, abort update.";
const char WINDOWS_TOO_LONG[] = "The Windows directory path is too long, abort update.";

const int EXIT_UPDATED = 0;
const int EXIT_ABORTED = -1;

// Time given to the file system between moving the old library aside, copying the new one
// in and removing the old one.
const DWORD SETTLE_MS = 1000;

int Abort(const char* message) {
    MessageBoxA(nullptr, message, CAPTION, MB_OK);
    return EXIT_ABORTED;
}

} // namespace

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
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

    // From here on every step is attempted whatever the previous one did; the user is told
    // to restart in any case.
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
