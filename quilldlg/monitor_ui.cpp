// The library's entry: the MONITORUI table that the spooler's client asks for after the
// monitor's "MonitorUI" answer named this library, and the checks its operations share.

#include "messages.h"
#include "port_ui.h"
#include "port_ui_text.h"
#include "resource_ids.h"

#include <winspool.h>
#include <winsplp.h>

#include <cstddef>

namespace quilldlg {

DWORD CheckServer(PCWSTR server) {
    wchar_t computer[MAX_COMPUTERNAME_LENGTH + 1] = {};
    DWORD size = MAX_COMPUTERNAME_LENGTH + 1;
    if (!GetComputerNameW(computer, &size)) {
        computer[0] = L'\0';
    }
    return NamesThisComputer(server, computer) ? ERROR_SUCCESS : ERROR_NOT_SUPPORTED;
}

DWORD CheckName(PCWSTR name) {
    if (name == nullptr || name[0] == L'\0') {
        return ERROR_INVALID_PARAMETER;
    }
    return BoundedLength(name, PORT_NAME_MAX_LENGTH) > PORT_NAME_MAX_LENGTH ? ERROR_INVALID_NAME
                                                                            : ERROR_SUCCESS;
}

DWORD OpenOwnPort(XcvChannel* channel, PCWSTR portName, HWND owner, UINT operation) {
    DWORD error = channel->Open(true, portName);
    if (error == ERROR_INVALID_PRINTER_NAME || error == ERROR_INVALID_NAME ||
        error == ERROR_UNKNOWN_PORT) {
        return ERROR_UNKNOWN_PORT;
    }
    if (error != ERROR_SUCCESS) {
        ReportFailure(owner, operation, portName, error, false);
        return error;
    }
    // The spooler hands the channel to the port's own monitor: ours names this library.
    wchar_t library[MAX_PATH] = {};
    XcvAnswer answer = channel->Send(L"MonitorUI", nullptr, 0, library, sizeof(library) - 2);
    wchar_t own[MAX_PATH] = {};
    DWORD length = GetModuleFileNameW(g_module, own, MAX_PATH);
    const wchar_t* ownName = own;
    for (DWORD i = 0; i < length; ++i) {
        if (own[i] == L'\\' || own[i] == L'/') {
            ownName = own + i + 1;
        }
    }
    if (!answer.delivered || answer.code != ERROR_SUCCESS || lstrcmpiW(library, ownName) != 0) {
        return ERROR_UNKNOWN_PORT;
    }
    return ERROR_SUCCESS;
}

DWORD BeginPortOperation(PCWSTR server, HWND owner, PCWSTR portName, OwnerWindow window,
                         UINT operation, XcvChannel* channel) {
    DWORD error = CheckServer(server);
    if (error == ERROR_SUCCESS) {
        error = CheckName(portName);
    }
    const bool windowGiven = owner != nullptr;
    if (error == ERROR_SUCCESS && (windowGiven || window == OwnerWindow::Required) &&
        (!windowGiven || !IsWindow(owner))) {
        error = ERROR_INVALID_WINDOW_HANDLE; // no dialog can be owned by it
    }
    if (error != ERROR_SUCCESS) {
        return error;
    }
    return OpenOwnPort(channel, portName, owner, operation);
}

BOOL Finish(DWORD code) {
    SetLastError(code);
    return code == ERROR_SUCCESS;
}

} // namespace quilldlg

static_assert(offsetof(MONITORUI, pfnAddPortUI) == sizeof(void*), "DWORD size, then pointers");
static_assert(sizeof(MONITORUI) == 4 * sizeof(void*), "16 bytes on i686, 32 on x64");

extern "C" PMONITORUI WINAPI InitializePrintMonitorUI(VOID) {
    static MONITORUI table = {sizeof(MONITORUI), quilldlg::AddPortUI, quilldlg::ConfigurePortUI,
                              quilldlg::DeletePortUI};
    return &table;
}

extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID) {
    if (reason == DLL_PROCESS_ATTACH) {
        quilldlg::g_module = instance;
        DisableThreadLibraryCalls(instance);
    }
    return TRUE;
}
