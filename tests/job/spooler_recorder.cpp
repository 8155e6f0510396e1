#include "spooler_recorder.h"

#include <cstring>

namespace jobtest {

SpoolerRecorder* SpoolerRecorder::active_ = nullptr;

SpoolerRecorder::SpoolerRecorder() {
    active_ = this;
    g_spoolerClient = {OpenPrinter, GetPrinter, SetPort, SetJob, ClosePrinter};
}

SpoolerRecorder::~SpoolerRecorder() {
    g_spoolerClient = kWinspoolClient;
    active_ = nullptr;
}

void SpoolerRecorder::AddPrinter(const std::wstring& printerName, const std::wstring& portName) {
    std::lock_guard<std::mutex> lock(mutex_);
    printers_[printerName] = portName;
}

void SpoolerRecorder::UseRealPrinters() {
    g_spoolerClient = kWinspoolClient;
    g_spoolerClient.setPort = SetPort;
}

std::vector<PortStatusPost> SpoolerRecorder::StatusPosts() {
    std::lock_guard<std::mutex> lock(mutex_);
    return posts_;
}

std::vector<JobCommand> SpoolerRecorder::JobCommands() {
    std::lock_guard<std::mutex> lock(mutex_);
    return jobs_;
}

std::vector<OpenCall> SpoolerRecorder::Opens() {
    std::lock_guard<std::mutex> lock(mutex_);
    return opens_;
}

std::vector<HANDLE> SpoolerRecorder::Closes() {
    std::lock_guard<std::mutex> lock(mutex_);
    return closes_;
}

size_t SpoolerRecorder::GetPrinterCalls() {
    std::lock_guard<std::mutex> lock(mutex_);
    return getPrinterCalls_;
}

size_t SpoolerRecorder::OpenHandleCount() {
    std::lock_guard<std::mutex> lock(mutex_);
    return openHandles_.size();
}

bool SpoolerRecorder::IsOpen(HANDLE printer) {
    std::lock_guard<std::mutex> lock(mutex_);
    return openHandles_.count(printer) != 0;
}

void SpoolerRecorder::Clear() {
    std::lock_guard<std::mutex> lock(mutex_);
    posts_.clear();
    jobs_.clear();
    opens_.clear();
    closes_.clear();
    getPrinterCalls_ = 0;
}

BOOL WINAPI SpoolerRecorder::OpenPrinter(LPWSTR name, LPHANDLE printer, LPPRINTER_DEFAULTSW) {
    SpoolerRecorder* self = active_;
    std::lock_guard<std::mutex> lock(self->mutex_);
    std::wstring text = name != nullptr ? name : L"";
    if (printer == nullptr || self->printers_.count(text) == 0) {
        self->opens_.push_back({text, false, nullptr});
        SetLastError(ERROR_INVALID_PRINTER_NAME);
        return FALSE;
    }
    HANDLE handle = reinterpret_cast<HANDLE>(self->nextHandle_);
    self->nextHandle_ += 4;
    self->openHandles_[handle] = text;
    self->opens_.push_back({text, true, handle});
    *printer = handle;
    return TRUE;
}

BOOL WINAPI SpoolerRecorder::GetPrinter(HANDLE printer, DWORD level, LPBYTE buffer, DWORD size,
                                        LPDWORD needed) {
    SpoolerRecorder* self = active_;
    std::lock_guard<std::mutex> lock(self->mutex_);
    ++self->getPrinterCalls_;
    auto open = self->openHandles_.find(printer);
    if (open == self->openHandles_.end()) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    if (level != 2) {
        SetLastError(ERROR_INVALID_LEVEL);
        return FALSE;
    }
    const std::wstring& printerName = open->second;
    const std::wstring& portName = self->printers_[printerName];
    DWORD bytes =
        sizeof(PRINTER_INFO_2W) + 2 * (printerName.size() + 1) + 2 * (portName.size() + 1);
    *needed = bytes;
    if (buffer == nullptr || size < bytes) {
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return FALSE;
    }
    memset(buffer, 0, bytes);
    auto* info = reinterpret_cast<PRINTER_INFO_2W*>(buffer);
    auto* strings = reinterpret_cast<wchar_t*>(buffer + sizeof(PRINTER_INFO_2W));
    memcpy(strings, printerName.c_str(), 2 * (printerName.size() + 1));
    info->pPrinterName = strings;
    strings += printerName.size() + 1;
    memcpy(strings, portName.c_str(), 2 * (portName.size() + 1));
    info->pPortName = strings;
    info->Status = 0;
    return TRUE;
}

BOOL WINAPI SpoolerRecorder::SetPort(LPWSTR, LPWSTR portName, DWORD level, LPBYTE portInfo) {
    SpoolerRecorder* self = active_;
    std::lock_guard<std::mutex> lock(self->mutex_);
    PortStatusPost post = {
        portName != nullptr ? portName : L"", 0, false, L"", 0, GetCurrentThreadId()};
    if (level == 3 && portInfo != nullptr) {
        auto* info = reinterpret_cast<PORT_INFO_3W*>(portInfo);
        post.status = info->dwStatus;
        post.hasText = info->pszStatus != nullptr;
        post.text = info->pszStatus != nullptr ? info->pszStatus : L"";
        post.severity = info->dwSeverity;
    }
    self->posts_.push_back(post);
    return TRUE;
}

BOOL WINAPI SpoolerRecorder::SetJob(HANDLE printer, DWORD jobId, DWORD level, LPBYTE,
                                    DWORD command) {
    SpoolerRecorder* self = active_;
    std::lock_guard<std::mutex> lock(self->mutex_);
    auto open = self->openHandles_.find(printer);
    std::wstring name = open != self->openHandles_.end() ? open->second : L"";
    self->jobs_.push_back({printer, name, jobId, level, command});
    if (open == self->openHandles_.end()) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    return TRUE;
}

BOOL WINAPI SpoolerRecorder::ClosePrinter(HANDLE printer) {
    SpoolerRecorder* self = active_;
    std::lock_guard<std::mutex> lock(self->mutex_);
    self->closes_.push_back(printer);
    if (self->openHandles_.erase(printer) == 0) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    return TRUE;
}

} // namespace jobtest
