#include "console.h"

#include <windows.h>

#include <cstdio>
#include <cstring>

namespace prnlink {

namespace {

CRITICAL_SECTION g_consoleLock;
bool g_initialized;
bool g_stdoutIsTerminal;
std::string g_progress; // the progress line on the terminal, empty when none
unsigned g_lastPercentShown = 1000;
std::vector<std::string> g_debugLines;
bool g_echoDebug;
LARGE_INTEGER g_captureStart;
LARGE_INTEGER g_frequency;

class ConsoleLock {
  public:
    ConsoleLock() { EnterCriticalSection(&g_consoleLock); }
    ~ConsoleLock() { LeaveCriticalSection(&g_consoleLock); }
};

void ClearProgressLocked() {
    if (g_stdoutIsTerminal && !g_progress.empty()) {
        std::string blank = "\r" + std::string(g_progress.size(), ' ') + "\r";
        std::fputs(blank.c_str(), stdout);
        std::fflush(stdout);
    }
}

void RedrawProgressLocked() {
    if (g_stdoutIsTerminal && !g_progress.empty()) {
        std::fputs(g_progress.c_str(), stdout);
        std::fflush(stdout);
    }
}

void WriteLine(FILE* stream, const std::string& line) {
    ConsoleLock lock;
    ClearProgressLocked();
    std::fputs(line.c_str(), stream);
    std::fputc('\n', stream);
    std::fflush(stream);
    RedrawProgressLocked();
}

void RecordDebugLine(std::string text) {
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) {
        text.pop_back();
    }
    ConsoleLock lock;
    // Kept for the diagnosis after a failure; a long job writes many, the latest matter.
    if (g_debugLines.size() >= 20000) {
        g_debugLines.erase(g_debugLines.begin(), g_debugLines.begin() + 10000);
    }
    g_debugLines.push_back(text);
    if (g_echoDebug) {
        LARGE_INTEGER now;
        QueryPerformanceCounter(&now);
        double seconds = static_cast<double>(now.QuadPart - g_captureStart.QuadPart) /
                         static_cast<double>(g_frequency.QuadPart);
        char stamp[32];
        std::snprintf(stamp, sizeof(stamp), "[%8.3f] ", seconds);
        ClearProgressLocked();
        std::fputs(stamp, stderr);
        std::fputs(text.c_str(), stderr);
        std::fputc('\n', stderr);
        std::fflush(stderr);
        RedrawProgressLocked();
    }
}

LONG CALLBACK DebugStringHandler(EXCEPTION_POINTERS* info) {
    const EXCEPTION_RECORD* record = info->ExceptionRecord;
    if (record->NumberParameters < 2 || record->ExceptionInformation[1] == 0) {
        return EXCEPTION_CONTINUE_SEARCH;
    }
    size_t length = record->ExceptionInformation[0];
    if (record->ExceptionCode == DBG_PRINTEXCEPTION_C) {
        const char* text = reinterpret_cast<const char*>(record->ExceptionInformation[1]);
        // The length counts the terminator; never read past it.
        size_t used = 0;
        while (used < length && text[used] != '\0') {
            ++used;
        }
        RecordDebugLine(std::string(text, used));
        return EXCEPTION_CONTINUE_EXECUTION;
    }
    if (record->ExceptionCode == DBG_PRINTEXCEPTION_WIDE_C) {
        const wchar_t* text = reinterpret_cast<const wchar_t*>(record->ExceptionInformation[1]);
        std::string narrow;
        for (size_t i = 0; i < length && text[i] != L'\0'; ++i) {
            narrow.push_back(text[i] < 0x80 ? static_cast<char>(text[i]) : '?');
        }
        RecordDebugLine(narrow);
        return EXCEPTION_CONTINUE_EXECUTION;
    }
    return EXCEPTION_CONTINUE_SEARCH;
}

} // namespace

void ConsoleInitialize() {
    if (g_initialized) {
        return;
    }
    InitializeCriticalSection(&g_consoleLock);
    g_stdoutIsTerminal = GetFileType(GetStdHandle(STD_OUTPUT_HANDLE)) == FILE_TYPE_CHAR;
    QueryPerformanceFrequency(&g_frequency);
    QueryPerformanceCounter(&g_captureStart);
    g_initialized = true;
}

void PrintLine(const std::string& line) {
    WriteLine(stdout, line);
}

void PrintErrorLine(const std::string& line) {
    WriteLine(stderr, line);
}

void ShowProgress(const std::string& line, unsigned percent, bool final) {
    ConsoleLock lock;
    if (g_stdoutIsTerminal) {
        ClearProgressLocked();
        g_progress = line;
        std::fputs(line.c_str(), stdout);
        if (final) {
            std::fputc('\n', stdout);
            g_progress.clear();
        }
        std::fflush(stdout);
        return;
    }
    unsigned quarter = percent / 25;
    bool repeat = final && percent == g_lastPercentShown && line == g_progress;
    if (!repeat && (final || g_lastPercentShown == 1000 || quarter != g_lastPercentShown / 25)) {
        g_progress = line;
        g_lastPercentShown = percent;
        std::fputs(line.c_str(), stdout);
        std::fputc('\n', stdout);
        std::fflush(stdout);
    }
    if (final) {
        g_lastPercentShown = 1000;
        g_progress.clear();
    }
}

void StartDebugCapture(bool echo) {
    ConsoleInitialize();
    g_echoDebug = echo;
    QueryPerformanceCounter(&g_captureStart);
    AddVectoredExceptionHandler(1, DebugStringHandler);
}

bool DebugLinesContain(const char* text) {
    ConsoleLock lock;
    for (const std::string& line : g_debugLines) {
        if (line.find(text) != std::string::npos) {
            return true;
        }
    }
    return false;
}

std::vector<std::string> DebugLines() {
    ConsoleLock lock;
    return g_debugLines;
}

} // namespace prnlink
