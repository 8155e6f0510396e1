#pragma once
// The library's one way to the monitor: the spooler's configuration channel (Xcv),
// opened as any client opens it, asking for the administrator's right.

#include <windows.h>

namespace quilldlg {

// What one command came back with: delivered is false when the spooler did not pass the
// command on (a closed or broken channel); code is then the spooler call's error, else
// the monitor's answer (0 for success).
struct XcvAnswer {
    bool delivered;
    DWORD code;
};

class XcvChannel {
  public:
    XcvChannel() = default;
    ~XcvChannel();
    XcvChannel(const XcvChannel&) = delete;
    XcvChannel& operator=(const XcvChannel&) = delete;

    // Opens ",XcvPort NAME" (port is true) or ",XcvMonitor NAME" of the local spooler.
    // Returns 0 or the spooler's error (5 for a caller without the administrator right).
    DWORD Open(bool port, const wchar_t* name);
    XcvAnswer Send(const wchar_t* command, const void* input, DWORD inputSize, void* output,
                   DWORD outputSize);
    // Sends a text with its terminator.
    XcvAnswer SendText(const wchar_t* command, const wchar_t* text);

  private:
    HANDLE handle_ = nullptr;
};

} // namespace quilldlg
