#pragma once
// Milliseconds of the performance counter, for the benchmark programs.

#include <windows.h>

namespace testsupport {

inline double MillisecondsNow() {
    static LARGE_INTEGER frequency = {};
    if (frequency.QuadPart == 0) {
        QueryPerformanceFrequency(&frequency);
    }
    LARGE_INTEGER counter;
    QueryPerformanceCounter(&counter);
    return 1000.0 * static_cast<double>(counter.QuadPart) / static_cast<double>(frequency.QuadPart);
}

} // namespace testsupport
