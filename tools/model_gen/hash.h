#pragma once

// Integer hashing for weights: the same bytes on every machine, compiler and run,
// which no <random> distribution guarantees.

#include <cstdint>

namespace model_gen {

inline uint64_t splitmix64(uint64_t x) {
    x += 0x9e3779b97f4a7c15ULL;
    x = (x ^ (x >> 30)) * 0xbf58476d1ce4e5b9ULL;
    x = (x ^ (x >> 27)) * 0x94d049bb133111ebULL;
    return x ^ (x >> 31);
}

inline uint64_t hash_index(uint64_t seed, uint64_t index) {
    return splitmix64(splitmix64(seed) ^ index);
}

// A stream of hashes, one per call.
class HashStream {
public:
    explicit HashStream(uint64_t start) : state(start) {}
    uint64_t next() { return splitmix64(state++); }
    // Below `bound`; the modulo bias is irrelevant at these sizes.
    uint64_t below(uint64_t bound) { return next() % bound; }

private:
    uint64_t state;
};

} // namespace model_gen
