// Configure Port: the port's Bluetooth address (read from its name) and the monitor's
// transmission retry time-out, which the administrator may change.

#include "dialog_text.h"
#include "messages.h"
#include "port_ui.h"
#include "port_ui_text.h"
#include "resource_ids.h"

#include "ports/retry_timeout_range.h"

#include <string>

namespace quilldlg {

namespace {

struct ConfigureState {
    XcvChannel* channel;
    PCWSTR portName;
    DWORD seconds;
    DWORD result; // what ConfigurePortUI reports
};

// OK: the value is checked here, so that nothing out of range reaches the monitor (which
// stores any text it is given); a refused value keeps the dialog open.
void StoreTimeout(HWND dialog, ConfigureState* state) {
    std::wstring typed = ControlText(dialog, IDC_RETRY_TIMEOUT);
    uint32_t seconds = 0;
    if (!ParseRetryTimeoutSeconds(typed.c_str(), &seconds)) {
        ShowMessage(dialog, LoadText(IDS_TIMEOUT_OUT_OF_RANGE), MB_OK | MB_ICONWARNING);
        FocusAndSelect(dialog, IDC_RETRY_TIMEOUT);
        return;
    }
    std::wstring text = std::to_wstring(seconds);
    XcvAnswer answer = state->channel->SendText(L"ConfigurePortCommandOK", text.c_str());
    if (!answer.delivered || answer.code != ERROR_SUCCESS) {
        ReportFailure(dialog, IDS_OPERATION_CONFIGURE, state->portName, answer.code,
                      !answer.delivered);
    }
    state->result = answer.code;
    EndDialog(dialog, IDOK);
}

INT_PTR CALLBACK ConfigureProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
    auto* state = reinterpret_cast<ConfigureState*>(GetWindowLongPtrW(dialog, DWLP_USER));
    switch (message) {
    case WM_INITDIALOG: {
        state = reinterpret_cast<ConfigureState*>(lParam);
        SetWindowLongPtrW(dialog, DWLP_USER, lParam);
        SetWindowTextW(dialog, LoadText(IDS_CONFIGURE_TITLE, state->portName).c_str());
        SetDlgItemTextW(dialog, IDC_PORT_NAME, state->portName);
        uint8_t address[6];
        wchar_t addressText[ADDRESS_TEXT_SIZE];
        if (ParseAddressPortName(state->portName, address)) {
            FormatAddress(address, addressText);
            SetDlgItemTextW(dialog, IDC_ADDRESS, addressText);
        } else {
            SetDlgItemTextW(dialog, IDC_ADDRESS, LoadText(IDS_NO_ADDRESS_IN_NAME).c_str());
        }
        SetDlgItemInt(dialog, IDC_RETRY_TIMEOUT, state->seconds, FALSE);
        FocusAndSelect(dialog, IDC_RETRY_TIMEOUT);
        return FALSE; // the focus is set
    }
    case WM_COMMAND:
        return HandleDialogButtons(dialog, wParam, StoreTimeout, state) ? TRUE : FALSE;
    default:
        break;
    }
    return FALSE;
}

} // namespace

BOOL WINAPI ConfigurePortUI(PCWSTR server, HWND owner, PCWSTR portName) {
    XcvChannel channel;
    DWORD error = BeginPortOperation(server, owner, portName, OwnerWindow::Required,
                                     IDS_OPERATION_CONFIGURE, &channel);
    if (error != ERROR_SUCCESS) {
        return Finish(error);
    }
    DWORD milliseconds = 0;
    XcvAnswer answer = channel.Send(L"GetTransmissionRetryTimeout", nullptr, 0, &milliseconds,
                                    sizeof(milliseconds));
    if (!answer.delivered || answer.code != ERROR_SUCCESS) {
        ReportFailure(owner, IDS_OPERATION_READ, portName, answer.code, !answer.delivered);
        return Finish(answer.code);
    }
    ConfigureState state = {&channel, portName, milliseconds / 1000, ERROR_CANCELLED};
    INT_PTR shown = DialogBoxParamW(g_module, MAKEINTRESOURCEW(IDD_CONFIGURE_PORT), owner,
                                    ConfigureProc, reinterpret_cast<LPARAM>(&state));
    if (shown == -1 || shown == 0) {
        DWORD failure = GetLastError();
        return Finish(failure != 0 ? failure : ERROR_INVALID_WINDOW_HANDLE);
    }
    return Finish(state.result);
}

} // namespace quilldlg
