#pragma once
// Stands in for the spooler on the other side of the monitor's spooler-client calls: it
// answers OpenPrinterW, GetPrinterW, SetPortW, SetJobW and ClosePrinter for printers the
// test declares, and records every call as the spooler would see it.

#include <windows.h>

#include <map>
#include <mutex>
#include <set>
#include <string>
#include <vector>

#include "job/spooler_client.h"

namespace jobtest {

struct PortStatusPost {
    std::wstring portName;
    DWORD status;
    bool hasText;
    std::wstring text;
    DWORD severity;
    DWORD threadId = 0; // the thread that posted it
};

struct JobCommand {
    HANDLE printer;
    std::wstring printerName; // the printer the handle was opened for
    DWORD jobId;
    DWORD level;
    DWORD command;
};

struct OpenCall {
    std::wstring name;
    bool succeeded;
    HANDLE handle;
};

class SpoolerRecorder {
  public:
    SpoolerRecorder();
    ~SpoolerRecorder();
    SpoolerRecorder(const SpoolerRecorder&) = delete;
    SpoolerRecorder& operator=(const SpoolerRecorder&) = delete;

    // A printer the spooler knows, printing to portName.
    void AddPrinter(const std::wstring& printerName, const std::wstring& portName);
    // Keep the real OpenPrinterW/GetPrinterW/SetJobW/ClosePrinter and record only SetPortW.
    void UseRealPrinters();

    std::vector<PortStatusPost> StatusPosts();
    std::vector<JobCommand> JobCommands();
    std::vector<OpenCall> Opens();
    std::vector<HANDLE> Closes();
    size_t GetPrinterCalls();
    size_t OpenHandleCount();
    bool IsOpen(HANDLE printer);
    void Clear();

  private:
    static BOOL WINAPI OpenPrinter(LPWSTR name, LPHANDLE printer, LPPRINTER_DEFAULTSW defaults);
    static BOOL WINAPI GetPrinter(HANDLE printer, DWORD level, LPBYTE buffer, DWORD size,
                                  LPDWORD needed);
    static BOOL WINAPI SetPort(LPWSTR server, LPWSTR portName, DWORD level, LPBYTE portInfo);
    static BOOL WINAPI SetJob(HANDLE printer, DWORD jobId, DWORD level, LPBYTE job, DWORD command);
    static BOOL WINAPI ClosePrinter(HANDLE printer);

    static SpoolerRecorder* active_;
    std::mutex mutex_;
    std::map<std::wstring, std::wstring> printers_; // printer name -> port name
    std::map<HANDLE, std::wstring> openHandles_;    // handle -> printer name
    uintptr_t nextHandle_ = 0x1000;
    std::vector<PortStatusPost> posts_;
    std::vector<JobCommand> jobs_;
    std::vector<OpenCall> opens_;
    std::vector<HANDLE> closes_;
    size_t getPrinterCalls_ = 0;
};

} // namespace jobtest
