// Add Port: a port named by the printer's Bluetooth address, added through the monitor's
// "AddPort" command once the name has been checked here.

#include "dialog_text.h"
#include "messages.h"
#include "port_ui.h"
#include "port_ui_text.h"
#include "resource_ids.h"

#include <cstring>
#include <string>

namespace quilldlg {

namespace {

struct AddState {
    XcvChannel* channel;
    PCWSTR monitorName;
    std::wstring added; // the new port's name, once added
    DWORD result;       // what AddPortUI reports
};

// Whether the spooler already has a port of that name (any monitor's, any letter case).
// The monitor's own "AddPort" refuses such a name too; asking first lets the dialog stay
// open for another name.
bool SpoolerHasPort(XcvChannel* channel, const std::wstring& name) {
    DWORD exists = 0;
    XcvAnswer answer = channel->Send(L"PortExists", name.c_str(),
                                     static_cast<DWORD>((name.size() + 1) * sizeof(wchar_t)),
                                     &exists, sizeof(exists));
    return answer.delivered && answer.code == ERROR_SUCCESS && exists != 0;
}

void AddTypedPort(HWND dialog, AddState* state) {
    std::wstring name = Trimmed(ControlText(dialog, IDC_NEW_PORT_NAME));
    uint8_t address[6];
    if (!ParseAddressPortName(name.c_str(), address)) {
        ShowMessage(dialog, LoadText(IDS_ADDRESS_INVALID, name.c_str()), MB_OK | MB_ICONWARNING);
        FocusAndSelect(dialog, IDC_NEW_PORT_NAME);
        return;
    }
    if (SpoolerHasPort(state->channel, name)) {
        ShowMessage(dialog, LoadText(IDS_PORT_EXISTS, name.c_str()), MB_OK | MB_ICONWARNING);
        FocusAndSelect(dialog, IDC_NEW_PORT_NAME);
        return;
    }
    XcvAnswer answer = state->channel->SendText(L"AddPort", name.c_str());
    if (answer.delivered && answer.code == ERROR_ALREADY_EXISTS) {
        // Made by someone else since the question above.
        ShowMessage(dialog, LoadText(IDS_PORT_EXISTS, name.c_str()), MB_OK | MB_ICONWARNING);
        FocusAndSelect(dialog, IDC_NEW_PORT_NAME);
        return;
    }
    if (!answer.delivered || answer.code != ERROR_SUCCESS) {
        ReportFailure(dialog, IDS_OPERATION_ADD, name.c_str(), answer.code, !answer.delivered);
    } else {
        state->added = name;
    }
    state->result = answer.code;
    EndDialog(dialog, IDOK);
}

INT_PTR CALLBACK AddProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
    auto* state = reinterpret_cast<AddState*>(GetWindowLongPtrW(dialog, DWLP_USER));
    switch (message) {
    case WM_INITDIALOG:
        SetWindowLongPtrW(dialog, DWLP_USER, lParam);
        SendDlgItemMessageW(dialog, IDC_NEW_PORT_NAME, EM_LIMITTEXT, PORT_NAME_MAX_LENGTH, 0);
        return TRUE; // the focus goes to the name
    case WM_COMMAND:
        return HandleDialogButtons(dialog, wParam, AddTypedPort, state) ? TRUE : FALSE;
    default:
        break;
    }
    return FALSE;
}

} // namespace

BOOL WINAPI AddPortUI(PCWSTR server, HWND owner, PCWSTR monitorName, PWSTR* portNameOut) {
    if (portNameOut != nullptr) {
        *portNameOut = nullptr;
    }
    DWORD error = CheckServer(server);
    if (error == ERROR_SUCCESS && (monitorName == nullptr || monitorName[0] == L'\0')) {
        error = ERROR_INVALID_PARAMETER; // the channel is the monitor's
    }
    if (error == ERROR_SUCCESS && (owner == nullptr || !IsWindow(owner))) {
        error = ERROR_INVALID_WINDOW_HANDLE; // nothing can be asked without a window
    }
    if (error != ERROR_SUCCESS) {
        return Finish(error);
    }
    // The caller frees the name with LocalFree, as for every string the spooler's client
    // hands back. Taken before the port is added, so that no added port goes unreported.
    PWSTR name = nullptr;
    if (portNameOut != nullptr) {
        name = static_cast<PWSTR>(
            LocalAlloc(LMEM_FIXED, (PORT_NAME_MAX_LENGTH + 1) * sizeof(wchar_t)));
        if (name == nullptr) {
            return Finish(ERROR_NOT_ENOUGH_MEMORY);
        }
    }
    XcvChannel channel;
    error = channel.Open(false, monitorName);
    if (error != ERROR_SUCCESS) {
        ReportFailure(owner, IDS_OPERATION_ADD, monitorName, error, false);
        LocalFree(name);
        return Finish(error);
    }
    AddState state = {&channel, monitorName, std::wstring(), ERROR_CANCELLED};
    INT_PTR shown = DialogBoxParamW(g_module, MAKEINTRESOURCEW(IDD_ADD_PORT), owner, AddProc,
                                    reinterpret_cast<LPARAM>(&state));
    if (shown == -1 || shown == 0) {
        DWORD failure = GetLastError();
        LocalFree(name);
        return Finish(failure != 0 ? failure : ERROR_INVALID_WINDOW_HANDLE);
    }
    if (state.result == ERROR_SUCCESS && name != nullptr) {
        memcpy(name, state.added.c_str(), (state.added.size() + 1) * sizeof(wchar_t));
        *portNameOut = name;
        name = nullptr;
    }
    LocalFree(name);
    return Finish(state.result);
}

} // namespace quilldlg
