#pragma once
// How many handles the process has open and how many heap bytes it uses, for checks and
// benchmarks that a run leaks none. Wine's GetProcessHandleCount answers 0, so the handle
// table is probed instead.

#include <cstddef>

namespace testsupport {

// The number of valid handle values among the first `probe` slots of the handle table.
size_t CountOpenHandles(size_t probe = 16384);

// The same count once it holds still over 50 ms (at most 5 s of trying): threads that are
// still starting open handles of their own, which a baseline must not miss.
size_t SteadyOpenHandleCount();

// Bytes in busy blocks of every heap of the process.
size_t HeapBytesInUse();

} // namespace testsupport
