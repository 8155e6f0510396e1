#pragma once
// Messages to the administrator: every text comes from the string table, with %1, %2, ...
// filled in, shown in a message box owned by the caller's window.

#include <windows.h>

#include <string>

namespace quilldlg {

// The library's own module, for its resources.
extern HINSTANCE g_module;

// String-table entry id with its inserts filled in ("" when the entry is missing).
std::wstring LoadText(UINT id, const wchar_t* first = nullptr, const wchar_t* second = nullptr,
                      const wchar_t* third = nullptr);
// The system's text for a Win32 error code, with the code: "Access is denied (5)".
std::wstring ErrorText(DWORD code);
// A message box with the library's caption; returns the button pressed. Without an owner
// nothing is shown and the answer is IDCANCEL.
int ShowMessage(HWND owner, const std::wstring& text, UINT type = MB_OK | MB_ICONERROR);

// Tells the administrator why an operation (IDS_OPERATION_*) on a port failed: access
// denied as such, a channel the spooler no longer passes commands through, or the error's
// own text.
void ReportFailure(HWND owner, UINT operation, const wchar_t* portName, DWORD code,
                   bool channelBroken);

} // namespace quilldlg
