#include "status_text.h"

#include <cstdio>

namespace prnlink {

namespace {

std::string Narrow(const wchar_t* text) {
    std::string result;
    for (; *text != L'\0'; ++text) {
        result.push_back(*text >= 0x20 && *text < 0x7F ? static_cast<char>(*text) : '?');
    }
    return result;
}

} // namespace

std::string DescribePortStatus(uint32_t status, const wchar_t* text) {
    if (text != nullptr && text[0] != L'\0') {
        return Narrow(text);
    }
    static const char* const kNames[] = {
        "ready",         "offline",         "paper jam",
        "paper out",     "output bin full", "paper problem",
        "no toner",      "door open",       "user intervention needed",
        "out of memory", "toner low",       "warming up",
        "power save",
    };
    if (status < sizeof(kNames) / sizeof(kNames[0])) {
        return kNames[status];
    }
    return "port status " + std::to_string(status);
}

std::string FormatBytes(uint64_t bytes) {
    char text[32];
    if (bytes < 1024) {
        std::snprintf(text, sizeof(text), "%u B", static_cast<unsigned>(bytes));
    } else if (bytes < 1024 * 1024) {
        std::snprintf(text, sizeof(text), "%.1f KB", static_cast<double>(bytes) / 1024.0);
    } else {
        std::snprintf(text, sizeof(text), "%.2f MB", static_cast<double>(bytes) / 1048576.0);
    }
    return text;
}

std::string FormatProgress(uint64_t sent, uint64_t total, double elapsedSeconds, double waitSeconds,
                           int width) {
    if (width < 1) {
        width = 1;
    }
    int filled =
        total == 0 ? width : static_cast<int>((sent * static_cast<uint64_t>(width)) / total);
    if (filled > width) {
        filled = width;
    }
    unsigned percent = total == 0 ? 100u : static_cast<unsigned>((sent * 100) / total);
    if (percent > 100) {
        percent = 100;
    }
    std::string bar(static_cast<size_t>(filled), '#');
    bar.append(static_cast<size_t>(width - filled), '.');
    double rate = elapsedSeconds > 0.0 ? static_cast<double>(sent) / elapsedSeconds : 0.0;
    char tail[160];
    std::snprintf(tail, sizeof(tail), "] %3u%%  %s / %s  %s/s  %.1f s, credit wait %.1f s", percent,
                  FormatBytes(sent).c_str(), FormatBytes(total).c_str(),
                  FormatBytes(static_cast<uint64_t>(rate)).c_str(), elapsedSeconds, waitSeconds);
    return "[" + bar + tail;
}

} // namespace prnlink
