#include "dialog_text.h"

namespace quilldlg {

std::wstring ControlText(HWND dialog, int id) {
    HWND control = GetDlgItem(dialog, id);
    int length = GetWindowTextLengthW(control);
    if (length <= 0) {
        return std::wstring();
    }
    std::wstring text(static_cast<size_t>(length) + 1, L'\0');
    int copied = GetWindowTextW(control, &text[0], length + 1);
    text.resize(copied > 0 ? static_cast<size_t>(copied) : 0);
    return text;
}

void FocusAndSelect(HWND dialog, int id) {
    HWND control = GetDlgItem(dialog, id);
    SendMessageW(dialog, WM_NEXTDLGCTL, reinterpret_cast<WPARAM>(control), TRUE);
    SendMessageW(control, EM_SETSEL, 0, -1);
}

std::wstring Trimmed(const std::wstring& text) {
    size_t first = text.find_first_not_of(L" \t");
    if (first == std::wstring::npos) {
        return std::wstring();
    }
    size_t last = text.find_last_not_of(L" \t");
    return text.substr(first, last - first + 1);
}

} // namespace quilldlg
