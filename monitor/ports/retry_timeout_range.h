#pragma once
// The retry time-out an administrator may set, in whole seconds. Below 1 a write gives up
// at its first wait for credit; above 4294967 the monitor's milliseconds (seconds times
// 1000, kept in 32 bits) wrap round to a shorter time.

#include <cstdint>

constexpr uint32_t RETRY_TIMEOUT_MIN_SECONDS = 1;
constexpr uint32_t RETRY_TIMEOUT_MAX_SECONDS = 4294967;
static_assert(uint64_t{RETRY_TIMEOUT_MAX_SECONDS} * 1000 <= UINT32_MAX, "milliseconds fit 32 bits");
static_assert(uint64_t{RETRY_TIMEOUT_MAX_SECONDS + 1} * 1000 > UINT32_MAX, "the largest such");
