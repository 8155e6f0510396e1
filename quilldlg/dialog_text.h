#pragma once
// What the library's dialogs share: the text of their controls and their buttons.

#include <windows.h>

#include <string>

namespace quilldlg {

// The whole text of a control, however long.
std::wstring ControlText(HWND dialog, int id);
// Puts the focus on a control and selects its text, so that the administrator can type
// over what was refused.
void FocusAndSelect(HWND dialog, int id);
// The text without the spaces and tabs around it.
std::wstring Trimmed(const std::wstring& text);

// The buttons every dialog of the library has: OK (and Enter) runs onOk, which ends the
// dialog or keeps it open; Cancel (and Esc) ends it. True when the command was one of them.
template <typename State>
bool HandleDialogButtons(HWND dialog, WPARAM wParam, void (*onOk)(HWND, State*), State* state) {
    if (LOWORD(wParam) == IDOK) {
        onOk(dialog, state);
        return true;
    }
    if (LOWORD(wParam) == IDCANCEL) {
        EndDialog(dialog, IDCANCEL);
        return true;
    }
    return false;
}

} // namespace quilldlg
