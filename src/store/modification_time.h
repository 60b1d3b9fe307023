#pragma once

#include <climits>
#include <cstdint>

// Modification times are 100 ns ticks; two closer than 2 s count as the same,
// as file systems keep them at different precisions.
constexpr int64_t kSameTimeTicks = 20'000'000;

// |a - b|, saturated instead of overflowing for far-apart values.
inline int64_t tick_distance(int64_t a, int64_t b) {
    const uint64_t d = a >= b ? static_cast<uint64_t>(a) - static_cast<uint64_t>(b)
                              : static_cast<uint64_t>(b) - static_cast<uint64_t>(a);
    return d > static_cast<uint64_t>(INT64_MAX) ? INT64_MAX : static_cast<int64_t>(d);
}

inline bool same_modification_time(int64_t a, int64_t b) { return tick_distance(a, b) < kSameTimeTicks; }
