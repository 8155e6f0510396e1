#pragma once
// The host's console output. Several threads write to it: the command's own thread, the
// monitor's worker threads and the Bluetooth library's threads (debug lines and status
// posts), so every line is written whole, one writer at a time. A progress line may stay
// at the bottom of a terminal; other lines are printed above it.

#include <string>
#include <vector>

namespace prnlink {

void ConsoleInitialize();
// A line on standard output (the newline is added).
void PrintLine(const std::string& line);
// A line on standard error (the newline is added).
void PrintErrorLine(const std::string& line);
// Replaces the progress line: rewritten in place on a terminal, at most every 25 % of the
// way when output goes to a file or pipe (final = true always prints).
void ShowProgress(const std::string& line, unsigned percent, bool final);

// Catches the monitor's debug lines (OutputDebugString raises DBG_PRINTEXCEPTION_C before
// anything else happens to the text; a vectored handler in this process takes it there).
// With echo, every line is printed on standard error as it is written, with the time since
// the capture began.
void StartDebugCapture(bool echo);
// Whether any captured debug line so far contains text.
bool DebugLinesContain(const char* text);
std::vector<std::string> DebugLines();

} // namespace prnlink
