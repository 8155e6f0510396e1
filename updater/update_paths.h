// The three file paths Swapwell works with, built byte by byte from the Windows directory
// and the current directory. No Win32 calls here: the program fetches both directories and
// passes them in, so the building can be checked on its own.
#pragma once

#include <cstddef>

// Every path lives in a buffer of this many 8-bit characters, terminating NUL included.
constexpr std::size_t UPDATE_PATH_SIZE = 256;

struct UpdatePaths {
    char source[UPDATE_PATH_SIZE]; // <current directory>\PRNLINK.DLL
    char target[UPDATE_PATH_SIZE]; // <Windows directory>\System32\PRNLINK.DLL
    char backup[UPDATE_PATH_SIZE]; // <Windows directory>\System32\PRNLINKOLD.DDL
};

enum class UpdatePathsResult {
    PATHS_OK,
    // The current directory, or the source path built from it, does not fit a buffer.
    SOURCE_TOO_LONG,
    // The Windows directory, or the target or backup path built from it, does not fit.
    WINDOWS_DIRECTORY_TOO_LONG,
};

// Builds the three paths. Each directory comes with the length its Win32 query returned:
// the string length when the directory fitted the caller's UPDATE_PATH_SIZE buffer, the
// size needed (larger than the buffer) when it did not, or 0 when the query failed; in the
// last two cases the directory text is not read. A drive root such as "C:\" already ends in
// a backslash and gets no second one. Nothing is ever written past a buffer: a path that
// does not fit is refused, and the paths are then all empty strings.
UpdatePathsResult BuildUpdatePaths(const char* windowsDirectory, std::size_t windowsLength,
                                   const char* currentDirectory, std::size_t currentLength,
                                   UpdatePaths* paths);
