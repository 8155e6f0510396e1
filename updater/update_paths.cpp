#include "update_paths.h"

#include <cstring>

namespace {

const char SOURCE_NAME[] = "PRNLINK.DLL";
const char TARGET_TAIL[] = "\\System32\\PRNLINK.DLL";
const char BACKUP_TAIL[] = "\\System32\\PRNLINKOLD.DDL";

// A directory length as the Win32 queries report it: usable only when it is not 0 and the
// string plus its NUL fitted the buffer.
bool IsUsableLength(std::size_t length) {
    return length != 0 && length < UPDATE_PATH_SIZE;
}

// Length of text, looking at no more than limit bytes.
std::size_t BoundedLength(const char* text, std::size_t limit) {
    std::size_t length = 0;
    while (length < limit && text[length] != '\0') {
        ++length;
    }
    return length;
}

// Writes head + separator + tail into out when all of it and the NUL fit; false otherwise.
bool Join(char (&out)[UPDATE_PATH_SIZE], const char* head, std::size_t headLength,
          const char* separator, const char* tail) {
    const std::size_t separatorLength = std::strlen(separator);
    const std::size_t tailLength = std::strlen(tail);
    if (headLength + separatorLength + tailLength >= UPDATE_PATH_SIZE) {
        return false;
    }
    std::memcpy(out, head, headLength);
    std::memcpy(out + headLength, separator, separatorLength);
    std::memcpy(out + headLength + separatorLength, tail, tailLength + 1);
    return true;
}

} // namespace

UpdatePathsResult BuildUpdatePaths(const char* windowsDirectory, std::size_t windowsLength,
                                   const char* currentDirectory, std::size_t currentLength,
                                   UpdatePaths* paths) {
    paths->source[0] = '\0';
    paths->target[0] = '\0';
    paths->backup[0] = '\0';

    // The length the query reported is trusted only as far as the string really goes.
    if (IsUsableLength(currentLength)) {
        currentLength = BoundedLength(currentDirectory, currentLength);
    }
    if (IsUsableLength(windowsLength)) {
        windowsLength = BoundedLength(windowsDirectory, windowsLength);
    }

    if (!IsUsableLength(currentLength)) {
        return UpdatePathsResult::SOURCE_TOO_LONG;
    }
    const char* separator = currentDirectory[currentLength - 1] == '\\' ? "" : "\\";
    if (!Join(paths->source, currentDirectory, currentLength, separator, SOURCE_NAME)) {
        return UpdatePathsResult::SOURCE_TOO_LONG;
    }

    if (!IsUsableLength(windowsLength) ||
        !Join(paths->target, windowsDirectory, windowsLength, "", TARGET_TAIL) ||
        !Join(paths->backup, windowsDirectory, windowsLength, "", BACKUP_TAIL)) {
        paths->source[0] = '\0';
        paths->target[0] = '\0';
        return UpdatePathsResult::WINDOWS_DIRECTORY_TOO_LONG;
    }
    return UpdatePathsResult::PATHS_OK;
}
