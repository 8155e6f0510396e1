#pragma once
// The three operations of the MONITORUI table and what they share: the checks of a
// caller's arguments and the opening of a port's channel.

#include <windows.h>

#include "xcv_channel.h"

namespace quilldlg {

BOOL WINAPI AddPortUI(PCWSTR server, HWND owner, PCWSTR monitorName, PWSTR* portNameOut);
BOOL WINAPI ConfigurePortUI(PCWSTR server, HWND owner, PCWSTR portName);
BOOL WINAPI DeletePortUI(PCWSTR server, HWND owner, PCWSTR portName);

// 0 when the server is this computer; else ERROR_NOT_SUPPORTED (the printers are within
// reach of this computer's radio, and its device database lists them).
DWORD CheckServer(PCWSTR server);
// 0 for a name of 1 to 247 characters; ERROR_INVALID_PARAMETER for none or an empty one,
// ERROR_INVALID_NAME for a longer one.
DWORD CheckName(PCWSTR name);

// Whether a caller's window can own a dialog: a live window, or none where the operation
// allows that (Delete Port, which then asks nothing).
enum class OwnerWindow { Required, Optional };

// The checks of a port operation's arguments (server, port name, owner window) and the
// opening of the port's channel: 0, or the code the operation returns (a failure to open is
// shown, see OpenOwnPort).
DWORD BeginPortOperation(PCWSTR server, HWND owner, PCWSTR portName, OwnerWindow window,
                         UINT operation, XcvChannel* channel);

// Opens the channel of a port of this library's monitor. A port the spooler does not know,
// or one of another monitor, gives ERROR_UNKNOWN_PORT without a word to the administrator
// (the spooler offers this library only for its own ports); any other failure is shown in
// a message owned by owner, naming the operation (IDS_OPERATION_*), and returned.
DWORD OpenOwnPort(XcvChannel* channel, PCWSTR portName, HWND owner, UINT operation);

// Sets the thread's error and returns FALSE, or returns TRUE for 0.
BOOL Finish(DWORD code);

} // namespace quilldlg
