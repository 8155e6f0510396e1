#pragma once
// Reading and writing the text of a dialog's controls.

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

} // namespace quilldlg
