#pragma once
// The program's one source of random numbers; tests seed it to make random choices repeatable.

#include <cstdint>

namespace bcx {

class Random {
public:
    // A number in [0, bound); 0 when bound is 0.
    static uint32_t Next(uint32_t bound);
    static void Seed(uint64_t seed);
};

} // namespace bcx
