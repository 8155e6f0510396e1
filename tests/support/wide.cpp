#include "support/wide.h"

namespace testsupport {

std::wstring WindowsDirectory() {
    wchar_t buffer[MAX_PATH] = {};
    UINT length = GetWindowsDirectoryW(buffer, MAX_PATH);
    return std::wstring(buffer, length);
}

} // namespace testsupport
