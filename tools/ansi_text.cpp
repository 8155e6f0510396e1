#include "ansi_text.h"

#include <windows.h>

namespace prnlink {

std::wstring Widen(const std::string& text) {
    std::wstring result;
    int length = MultiByteToWideChar(CP_ACP, 0, text.c_str(), -1, nullptr, 0);
    if (length > 0) {
        result.resize(static_cast<size_t>(length));
        MultiByteToWideChar(CP_ACP, 0, text.c_str(), -1, &result[0], length);
        result.resize(static_cast<size_t>(length - 1));
    }
    return result;
}

std::string Narrow(const std::wstring& text) {
    std::string result;
    int length = WideCharToMultiByte(CP_ACP, 0, text.c_str(), -1, nullptr, 0, nullptr, nullptr);
    if (length > 0) {
        result.resize(static_cast<size_t>(length));
        WideCharToMultiByte(CP_ACP, 0, text.c_str(), -1, &result[0], length, nullptr, nullptr);
        result.resize(static_cast<size_t>(length - 1));
    }
    return result;
}

} // namespace prnlink
