// Delete Port: asks the administrator to confirm, then the monitor's "DeletePort" command.

#include "messages.h"
#include "port_ui.h"
#include "resource_ids.h"

namespace quilldlg {

BOOL WINAPI DeletePortUI(PCWSTR server, HWND owner, PCWSTR portName) {
    XcvChannel channel;
    DWORD error = BeginPortOperation(server, owner, portName, OwnerWindow::Optional,
                                     IDS_OPERATION_DELETE, &channel);
    if (error != ERROR_SUCCESS) {
        return Finish(error);
    }
    // Without a window the caller asks for no dialog: a program deleting the port itself.
    if (owner != nullptr && ShowMessage(owner, LoadText(IDS_CONFIRM_DELETE, portName),
                                        MB_YESNO | MB_ICONQUESTION | MB_DEFBUTTON2) != IDYES) {
        return Finish(ERROR_CANCELLED);
    }
    XcvAnswer answer = channel.SendText(L"DeletePort", portName);
    if (answer.delivered && answer.code == ERROR_FILE_NOT_FOUND) {
        if (owner != nullptr) {
            ShowMessage(owner, LoadText(IDS_PORT_GONE, portName), MB_OK | MB_ICONWARNING);
        }
    } else if ((!answer.delivered || answer.code != ERROR_SUCCESS) && owner != nullptr) {
        ReportFailure(owner, IDS_OPERATION_DELETE, portName, answer.code, !answer.delivered);
    }
    return Finish(answer.code);
}

} // namespace quilldlg
