#pragma once

#include <cstddef>
#include <functional>
#include <utility>

// Overlapping windows over a list of n tokens that a prompt reads one after
// the other: each at most `length` tokens, cut shorter while its prompt does
// not fit whole, and the next one starting `overlap` tokens before its end.
class TokenWindows {
public:
    // Prompt tokens of the window [begin, end) beyond what fits; 0 when it fits.
    using Excess = std::function<size_t(size_t begin, size_t end)>;

    TokenWindows(size_t n, size_t length, size_t overlap, Excess excess)
        : n(n), length(length), overlap(overlap), excess(std::move(excess)) {}

    // The next window; false once the window that reaches n was given.
    bool next(size_t &begin, size_t &end);

private:
    size_t n, length, overlap;
    Excess excess;
    size_t start = 0;
    bool done = false;
};
