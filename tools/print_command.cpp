// prnlink print: a file sent to a port as the spooler sends a job.

#include "command_support.h"
#include "command_table.h"

#include "ansi_text.h"
#include "console.h"
#include "status_text.h"
#include "win32_error_names.h"

#include <windows.h>

#include <cstdio>
#include <memory>
#include <utility>
#include <vector>

namespace prnlink {

namespace {

constexpr DWORD kChunkSize = 4096; // what the spooler hands a port monitor per WritePort

// The status changes shown while a job runs. The monitor posts from its own threads and
// from the Bluetooth library's; the host may still call a copy of the observer after it
// was replaced, so the observer owns a share of this.
class StatusWatch {
  public:
    explicit StatusWatch(std::string port) : port_(std::move(port)) {
        InitializeCriticalSection(&lock_);
    }
    ~StatusWatch() { DeleteCriticalSection(&lock_); }
    StatusWatch(const StatusWatch&) = delete;
    StatusWatch& operator=(const StatusWatch&) = delete;

    // The post that clears the status when the document ends (severity 0) is the job's
    // end, not a printer change: not shown.
    void Posted(const PortStatusPost& post) {
        if (post.severity == 0) {
            return;
        }
        std::string text = StatusOf(post);
        EnterCriticalSection(&lock_);
        bool changed = active_ && text != shown_;
        if (changed) {
            shown_ = text;
        }
        LeaveCriticalSection(&lock_);
        if (changed) {
            PrintLine("  " + port_ + ": " + text);
        }
    }
    void Stop() {
        EnterCriticalSection(&lock_);
        active_ = false;
        LeaveCriticalSection(&lock_);
    }

  private:
    CRITICAL_SECTION lock_;
    std::string port_;
    std::string shown_;
    bool active_ = true;
};

// Status posts go to the watch while this lives.
class WatchRegistration {
  public:
    explicit WatchRegistration(const std::shared_ptr<StatusWatch>& watch) {
        SpoolerHostEvents events;
        events.portStatus = [watch](const PortStatusPost& post) { watch->Posted(post); };
        SetSpoolerHostEvents(events);
    }
    ~WatchRegistration() { SetSpoolerHostEvents(SpoolerHostEvents()); }
    WatchRegistration(const WatchRegistration&) = delete;
    WatchRegistration& operator=(const WatchRegistration&) = delete;
};

} // namespace

int CommandPrint(const Options& options) {
    std::vector<std::string> args = options.args;
    std::string printer = kDefaultPrinterName;
    std::string jobText = "1";
    std::string chunkText = std::to_string(kChunkSize);
    std::string error;
    if (!TakeOption(&args, "--printer", &printer, &error) ||
        !TakeOption(&args, "--job", &jobText, &error) ||
        !TakeOption(&args, "--chunk", &chunkText, &error)) {
        return Usage("print", error);
    }
    unsigned long jobId = 0;
    unsigned long chunk = 0;
    if (!ParseNumber(jobText, 0xFFFFFFFFul, &jobId)) {
        return Usage("print", "--job takes a number");
    }
    if (!ParseNumber(chunkText, 1u << 20, &chunk) || chunk == 0) {
        return Usage("print", "--chunk takes a number of bytes from 1 to 1048576");
    }
    if (args.size() != 3) {
        return Usage("print", "print needs a port name and a file");
    }
    const std::string& name = args[1];
    const std::string& file = args[2];
    std::wstring widePath = Widen(file);
    HANDLE input = CreateFileW(widePath.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                               OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (input == INVALID_HANDLE_VALUE) {
        return Fail("cannot read " + file + ": " + DescribeWin32Error(GetLastError()));
    }
    std::unique_ptr<void, decltype(&CloseHandle)> inputCloser(input, CloseHandle);
    LARGE_INTEGER fileSize;
    if (!GetFileSizeEx(input, &fileSize)) {
        return Fail("cannot read " + file + ": " + DescribeWin32Error(GetLastError()));
    }
    uint64_t total = static_cast<uint64_t>(fileSize.QuadPart);

    PortSession session;
    if (!session.Open(options, name)) {
        return session.FailureExitCode();
    }
    HANDLE port = session.port();
    const Monitor2Table* table = Monitor();
    SetPrinterPort(Widen(name));
    ForgetPortStatus();

    // Status changes as the monitor posts them.
    auto watch = std::make_shared<StatusWatch>(name);
    WatchRegistration registration(watch);

    PrintLine("printing " + file + " (" + FormatBytes(total) + ") to " + name);
    std::wstring printerName = Widen(printer);
    DocumentInfo document;
    document.name = widePath.substr(widePath.find_last_of(L"\\/") + 1);
    SetLastError(0);
    if (!table->pfnStartDocPort(port, &printerName[0], jobId, 1, document.Get())) {
        DWORD code = GetLastError();
        PortStatusPost post;
        std::string reason = LastPortStatus(&post) ? "the printer is not ready: " + StatusOf(post)
                                                   : DescribeWin32Error(code) + "; " + ReachHint();
        session.Close();
        return Fail("StartDocPort on " + name + " failed: " + reason);
    }

    std::vector<BYTE> buffer(chunk);
    uint64_t sent = 0;
    double start = Seconds();
    double writeSeconds = 0.0;
    double linkSeconds = 0.0;
    std::string failure;
    for (;;) {
        DWORD got = 0;
        if (!ReadFile(input, buffer.data(), static_cast<DWORD>(buffer.size()), &got, nullptr)) {
            failure = "reading " + file + " failed: " + DescribeWin32Error(GetLastError());
            break;
        }
        if (got == 0) {
            break;
        }
        // The spooler gives the rest of a buffer again when a write took only part of it.
        DWORD offset = 0;
        while (offset < got && failure.empty()) {
            DWORD written = 0;
            double linkBefore = LinkSendSeconds();
            double before = Seconds();
            SetLastError(0);
            BOOL ok = table->pfnWritePort(port, buffer.data() + offset, got - offset, &written);
            DWORD code = GetLastError();
            writeSeconds += Seconds() - before;
            linkSeconds += LinkSendSeconds() - linkBefore;
            if (written > got - offset) {
                written = got - offset; // never trust a count beyond what was given
            }
            offset += written;
            sent += written;
            double elapsed = Seconds() - start;
            double wait = writeSeconds - linkSeconds;
            unsigned percent = total == 0 ? 100u : static_cast<unsigned>(sent * 100 / total);
            ShowProgress(FormatProgress(sent, total, elapsed, wait > 0 ? wait : 0, 30), percent,
                         false);
            if (!ok || written == 0) {
                failure = "WritePort failed after " + std::to_string(sent) + " of " +
                          std::to_string(total) + " bytes: " + DescribeWin32Error(code);
            }
        }
        if (!failure.empty()) {
            break;
        }
    }
    double elapsed = Seconds() - start;
    double wait = writeSeconds - linkSeconds;
    if (wait < 0) {
        wait = 0;
    }
    unsigned percent = total == 0 ? 100u : static_cast<unsigned>(sent * 100 / total);
    ShowProgress(FormatProgress(sent, total, elapsed, wait, 30), percent, true);

    if (!failure.empty()) {
        // A write that sends nothing makes the monitor ask the printer for its status again
        // and post it: how the reason for the failure reaches the spooler's queue window.
        DWORD ignored = 0;
        BYTE none = 0;
        table->pfnWritePort(port, &none, 0, &ignored);
        PortStatusPost post;
        if (LastPortStatus(&post) && post.severity != 0) {
            failure += "; printer status: " + StatusOf(post);
        } else {
            failure += "; " + ReachHint();
        }
    }
    watch->Stop();
    SetLastError(0);
    BOOL ended = table->pfnEndDocPort(port);
    DWORD endCode = GetLastError();
    session.Close();
    if (!failure.empty()) {
        return Fail("printing " + file + " to " + name + " failed: " + failure);
    }
    if (!ended) {
        return Fail("EndDocPort on " + name + " failed: " + DescribeWin32Error(endCode) +
                    " (the link was lost before the end of the document)");
    }
    char summary[200];
    std::snprintf(
        summary, sizeof(summary), "sent %s to %s in %.1f s (%s/s), %.1f s waiting for credit",
        FormatBytes(sent).c_str(), name.c_str(), elapsed,
        FormatBytes(elapsed > 0 ? static_cast<uint64_t>(sent / elapsed) : sent).c_str(), wait);
    PrintLine(summary);
    return EXIT_OK;
}

} // namespace prnlink
