#include "dialog_driver.h"

#include <atomic>
#include <thread>

namespace testsupport {

namespace {

constexpr DWORD kWaitMs = 10000;
constexpr DWORD kPollMs = 20;

std::string Narrow(const std::wstring& text) {
    std::string out;
    for (wchar_t c : text) {
        out.push_back(c < 128 ? static_cast<char>(c) : '?');
    }
    return out;
}

struct Search {
    const std::wstring* title; // null: any dialog
    HWND found;
};

BOOL CALLBACK FindDialog(HWND window, LPARAM lParam) {
    auto* search = reinterpret_cast<Search*>(lParam);
    DWORD process = 0;
    GetWindowThreadProcessId(window, &process);
    wchar_t className[16] = {};
    GetClassNameW(window, className, 16);
    if (process != GetCurrentProcessId() || wcscmp(className, L"#32770") != 0 ||
        !IsWindowVisible(window)) {
        return TRUE;
    }
    wchar_t title[512] = {};
    GetWindowTextW(window, title, 512);
    if (search->title == nullptr || *search->title == title) {
        search->found = window;
        return FALSE;
    }
    return TRUE;
}

HWND FindVisibleDialog(const std::wstring* title) {
    Search search = {title, nullptr};
    EnumWindows(FindDialog, reinterpret_cast<LPARAM>(&search));
    return search.found;
}

BOOL CALLBACK CollectStatic(HWND child, LPARAM lParam) {
    wchar_t className[16] = {};
    GetClassNameW(child, className, 16);
    if (_wcsicmp(className, L"Static") == 0) {
        wchar_t text[1024] = {};
        GetWindowTextW(child, text, 1024);
        auto* all = reinterpret_cast<std::wstring*>(lParam);
        *all += text;
        *all += L" ";
    }
    return TRUE;
}

} // namespace

HWND DialogDriver::Await(const std::wstring& title) {
    for (DWORD waited = 0; waited < kWaitMs; waited += kPollMs) {
        HWND found = FindVisibleDialog(&title);
        if (found != nullptr) {
            return found;
        }
        Sleep(kPollMs);
    }
    Fail("no dialog titled \"" + Narrow(title) + "\" appeared");
    return nullptr;
}

void DialogDriver::AwaitClosed(HWND window) {
    for (DWORD waited = 0; waited < kWaitMs; waited += kPollMs) {
        if (!IsWindow(window) || !IsWindowVisible(window)) {
            return;
        }
        Sleep(kPollMs);
    }
    Fail("a window stayed open");
}

std::wstring DialogDriver::Text(HWND dialog, int id) {
    wchar_t text[1024] = {};
    SendDlgItemMessageW(dialog, id, WM_GETTEXT, 1024, reinterpret_cast<LPARAM>(text));
    return text;
}

std::wstring DialogDriver::MessageText(HWND box) {
    std::wstring all;
    EnumChildWindows(box, CollectStatic, reinterpret_cast<LPARAM>(&all));
    return all;
}

void DialogDriver::SetText(HWND dialog, int id, const std::wstring& text) {
    SendDlgItemMessageW(dialog, id, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(text.c_str()));
}

void DialogDriver::Press(HWND dialog, int id) {
    PostMessageW(dialog, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED),
                 reinterpret_cast<LPARAM>(GetDlgItem(dialog, id)));
}

void DialogDriver::Key(HWND dialog, int id, UINT virtualKey) {
    PostMessageW(GetDlgItem(dialog, id), WM_KEYDOWN, virtualKey, 1);
}

void DialogDriver::AltKey(HWND dialog, wchar_t letter) {
    HWND focus = Focus(dialog);
    PostMessageW(focus != nullptr ? focus : dialog, WM_SYSCHAR, letter, 1u << 29);
}

HWND DialogDriver::Focus(HWND dialog) {
    GUITHREADINFO info = {};
    info.cbSize = sizeof(info);
    GetGUIThreadInfo(GetWindowThreadProcessId(dialog, nullptr), &info);
    return info.hwndFocus;
}

DrivenCall RunDriven(const std::function<BOOL()>& call,
                     const std::function<void(DialogDriver&)>& script) {
    DialogDriver driver;
    std::atomic<bool> returned(false);
    std::thread worker([&] {
        script(driver);
        // The call has the time to close its last window and return; whatever is still
        // open after that is a failure, and is closed so that the call comes back.
        for (DWORD waited = 0; waited < kWaitMs && !returned; waited += kPollMs) {
            Sleep(kPollMs);
        }
        bool reported = false;
        while (!returned) {
            HWND left = FindVisibleDialog(nullptr);
            if (left != nullptr) {
                if (!reported) {
                    wchar_t title[256] = {};
                    GetWindowTextW(left, title, 256);
                    driver.Fail("left open: \"" + Narrow(title) + "\"");
                    reported = true;
                }
                PostMessageW(left, WM_COMMAND, IDCANCEL, 0);
                PostMessageW(left, WM_COMMAND, IDNO, 0);
            }
            Sleep(100);
        }
    });
    SetLastError(0);
    BOOL result = call();
    DWORD error = GetLastError();
    returned = true;
    worker.join();
    return {result, error, driver.failures};
}

} // namespace testsupport
