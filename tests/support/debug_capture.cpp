#include "debug_capture.h"

#include <cstring>

#ifndef DBG_PRINTEXCEPTION_C
#define DBG_PRINTEXCEPTION_C 0x40010006L
#endif

namespace testsupport {

DebugCapture* DebugCapture::active_ = nullptr;

DebugCapture::DebugCapture() {
    active_ = this;
    handler_ = AddVectoredExceptionHandler(1, &DebugCapture::Handler);
}

DebugCapture::~DebugCapture() {
    RemoveVectoredExceptionHandler(handler_);
    active_ = nullptr;
}

LONG CALLBACK DebugCapture::Handler(EXCEPTION_POINTERS* info) {
    const EXCEPTION_RECORD* record = info->ExceptionRecord;
    DebugCapture* self = active_;
    if (self != nullptr && record->ExceptionCode == static_cast<DWORD>(DBG_PRINTEXCEPTION_C) &&
        record->NumberParameters >= 2 && record->ExceptionInformation[1] != 0) {
        // Parameter 0: length including the terminator; parameter 1: the text.
        const char* text = reinterpret_cast<const char*>(record->ExceptionInformation[1]);
        size_t length = record->ExceptionInformation[0];
        if (length > 0) {
            length--;
        }
        std::lock_guard<std::mutex> guard(self->lock_);
        self->lines_.push_back(DebugLine{GetCurrentThreadId(), std::string(text, length)});
    }
    return EXCEPTION_CONTINUE_SEARCH;
}

std::vector<DebugLine> DebugCapture::All() const {
    std::lock_guard<std::mutex> guard(lock_);
    return lines_;
}

std::vector<std::string> DebugCapture::Lines() const {
    std::vector<std::string> out;
    for (const DebugLine& line : All()) {
        out.push_back(line.text);
    }
    return out;
}

std::vector<std::string> DebugCapture::LinesOfThisThread() const {
    std::vector<std::string> out;
    DWORD self = GetCurrentThreadId();
    for (const DebugLine& line : All()) {
        if (line.threadId == self) {
            out.push_back(line.text);
        }
    }
    return out;
}

void DebugCapture::Clear() {
    std::lock_guard<std::mutex> guard(lock_);
    lines_.clear();
}

} // namespace testsupport
