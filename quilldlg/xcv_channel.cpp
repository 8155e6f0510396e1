#include "xcv_channel.h"

#include <winspool.h>

#include <cwchar>
#include <string>

namespace quilldlg {

XcvChannel::~XcvChannel() {
    if (handle_ != nullptr) {
        ClosePrinter(handle_);
    }
}

DWORD XcvChannel::Open(bool port, const wchar_t* name) {
    std::wstring object = std::wstring(port ? L",XcvPort " : L",XcvMonitor ") + name;
    PRINTER_DEFAULTSW defaults = {};
    defaults.DesiredAccess = SERVER_ACCESS_ADMINISTER;
    if (!OpenPrinterW(&object[0], &handle_, &defaults)) {
        handle_ = nullptr;
        DWORD error = GetLastError();
        return error != 0 ? error : ERROR_INVALID_HANDLE;
    }
    return ERROR_SUCCESS;
}

XcvAnswer XcvChannel::Send(const wchar_t* command, const void* input, DWORD inputSize, void* output,
                           DWORD outputSize) {
    DWORD needed = 0;
    DWORD status = ERROR_SUCCESS;
    if (!XcvDataW(handle_, command, static_cast<BYTE*>(const_cast<void*>(input)), inputSize,
                  static_cast<BYTE*>(output), outputSize, &needed, &status)) {
        DWORD error = GetLastError();
        return {false, error != 0 ? error : ERROR_INVALID_HANDLE};
    }
    return {true, status};
}

XcvAnswer XcvChannel::SendText(const wchar_t* command, const wchar_t* text) {
    return Send(command, text, static_cast<DWORD>((wcslen(text) + 1) * sizeof(wchar_t)), nullptr,
                0);
}

} // namespace quilldlg
