#include "engine/token_windows.h"

#include <algorithm>

bool TokenWindows::next(size_t &begin, size_t &end) {
    if (done || start >= n) return false;
    const size_t full = std::min(n, start + length);
    end = full;
    for (size_t over; (over = excess(start, end)) > 0;) {
        // Not even one token fits beside the rest of the prompt: the prompt is
        // cut whatever the window, so the window keeps its length.
        if (end - start == 1) {
            end = full;
            break;
        }
        end -= std::min(over, end - start - 1);
    }
    begin = start;
    done = end == n;
    // A short window shares at most half of itself, so the scan moves on.
    start = end - std::min(overlap, (end - begin) / 2);
    return true;
}
