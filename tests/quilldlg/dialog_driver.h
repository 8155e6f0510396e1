#pragma once
// Drives dialogs as an administrator would, from a second thread, while the test's own
// thread sits in the call that shows them (ConfigurePortW and the like run a modal loop).
// Buttons and keys are posted, never sent: a button that opens a message box would
// otherwise hold the driver until that box closed.

#include <windows.h>

#include <functional>
#include <string>
#include <vector>

namespace testsupport {

class DialogDriver {
  public:
    // The visible dialog of this process whose title is exactly `title`, waited for up to
    // 10 s; null (and a failure noted) when none came.
    HWND Await(const std::wstring& title);
    // Waits up to 10 s for the window to go; notes a failure when it stays.
    void AwaitClosed(HWND window);
    std::wstring Text(HWND dialog, int id);
    // The text of a message box: its static controls, joined.
    std::wstring MessageText(HWND box);
    void SetText(HWND dialog, int id, const std::wstring& text);
    void Press(HWND dialog, int id);
    // A key pressed while the control has the focus: Enter, Esc, or Alt with a letter.
    void Key(HWND dialog, int id, UINT virtualKey);
    void AltKey(HWND dialog, wchar_t letter);
    // The control that has the keyboard focus in the dialog's thread.
    HWND Focus(HWND dialog);
    void Fail(const std::string& what) { failures.push_back(what); }

    std::vector<std::string> failures;
};

struct DrivenCall {
    BOOL result;
    DWORD error;
    std::vector<std::string> failures;
};

// Runs call on this thread and script on a second one. A window still open 10 s after the
// script ends is a failure, and is cancelled so that the call returns.
DrivenCall RunDriven(const std::function<BOOL()>& call,
                     const std::function<void(DialogDriver&)>& script);

} // namespace testsupport
