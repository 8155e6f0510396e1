#include "messages.h"

#include "resource_ids.h"

namespace quilldlg {

HINSTANCE g_module = nullptr;

std::wstring LoadText(UINT id, const wchar_t* first, const wchar_t* second, const wchar_t* third) {
    const wchar_t* pattern = nullptr;
    // With a zero size LoadStringW hands out the read-only resource text itself.
    int length = LoadStringW(g_module, id, reinterpret_cast<LPWSTR>(&pattern), 0);
    if (length <= 0 || pattern == nullptr) {
        return std::wstring();
    }
    std::wstring format(pattern, static_cast<size_t>(length));
    DWORD_PTR inserts[3] = {reinterpret_cast<DWORD_PTR>(first ? first : L""),
                            reinterpret_cast<DWORD_PTR>(second ? second : L""),
                            reinterpret_cast<DWORD_PTR>(third ? third : L"")};
    wchar_t* text = nullptr;
    DWORD written = FormatMessageW(FORMAT_MESSAGE_FROM_STRING | FORMAT_MESSAGE_ALLOCATE_BUFFER |
                                       FORMAT_MESSAGE_ARGUMENT_ARRAY,
                                   format.c_str(), 0, 0, reinterpret_cast<LPWSTR>(&text), 0,
                                   reinterpret_cast<va_list*>(inserts));
    if (written == 0 || text == nullptr) {
        return format;
    }
    std::wstring result(text, written);
    LocalFree(text);
    return result;
}

std::wstring ErrorText(DWORD code) {
    wchar_t* text = nullptr;
    DWORD written = FormatMessageW(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_ALLOCATE_BUFFER |
                                       FORMAT_MESSAGE_IGNORE_INSERTS,
                                   nullptr, code, 0, reinterpret_cast<LPWSTR>(&text), 0, nullptr);
    std::wstring result;
    if (written != 0 && text != nullptr) {
        result.assign(text, written);
        LocalFree(text);
    }
    while (!result.empty() && (result.back() == L'\r' || result.back() == L'\n' ||
                               result.back() == L' ' || result.back() == L'.')) {
        result.pop_back();
    }
    if (result.empty()) {
        result = L"error";
    }
    return result + L" (" + std::to_wstring(code) + L")";
}

int ShowMessage(HWND owner, const std::wstring& text, UINT type) {
    if (owner == nullptr) {
        return IDCANCEL; // a caller without a window asked for no dialogs
    }
    return MessageBoxW(owner, text.c_str(), LoadText(IDS_MESSAGE_CAPTION).c_str(), type);
}

void ReportFailure(HWND owner, UINT operation, const wchar_t* portName, DWORD code,
                   bool channelBroken) {
    std::wstring verb = LoadText(operation);
    if (code == ERROR_ACCESS_DENIED) {
        ShowMessage(owner, LoadText(IDS_ACCESS_DENIED, portName, verb.c_str()));
    } else if (channelBroken) {
        ShowMessage(owner, LoadText(IDS_CHANNEL_CLOSED, portName, ErrorText(code).c_str()));
    } else {
        ShowMessage(
            owner, LoadText(IDS_OPERATION_FAILED, portName, verb.c_str(), ErrorText(code).c_str()));
    }
}

} // namespace quilldlg
