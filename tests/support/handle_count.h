#pragma once
// How many handles the process has open, for checks that a run leaks none. Wine's
// GetProcessHandleCount answers 0, so the handle table is probed instead.

#include <cstddef>

namespace testsupport {

// The number of valid handle values among the first `probe` slots of the handle table.
size_t CountOpenHandles(size_t probe = 16384);

} // namespace testsupport
