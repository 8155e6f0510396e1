#pragma once
// Captures the lines a program writes with OutputDebugStringA, in the same process:
// OutputDebugStringA raises DBG_PRINTEXCEPTION_C before anything else, and a vectored
// exception handler sees it first. The line is left to the system afterwards as usual.
//
//   #include "support/debug_capture.h"
//   testsupport::DebugCapture capture;   // from here on every line is recorded
//   ... code under test ...
//   EXPECT_EQ(expected, capture.LinesOfThisThread());

#include <windows.h>

#include <mutex>
#include <string>
#include <vector>

namespace testsupport {

struct DebugLine {
    DWORD threadId;
    std::string text; // exactly as written, including any trailing "\n"
};

class DebugCapture {
  public:
    // Only one capture may be active at a time.
    DebugCapture();
    ~DebugCapture();
    DebugCapture(const DebugCapture&) = delete;
    DebugCapture& operator=(const DebugCapture&) = delete;

    std::vector<DebugLine> All() const;
    std::vector<std::string> Lines() const;
    // Lines written by the calling thread only.
    std::vector<std::string> LinesOfThisThread() const;
    void Clear();

  private:
    static LONG CALLBACK Handler(EXCEPTION_POINTERS* info);

    static DebugCapture* active_;
    PVOID handler_;
    mutable std::mutex lock_;
    std::vector<DebugLine> lines_;
};

} // namespace testsupport
