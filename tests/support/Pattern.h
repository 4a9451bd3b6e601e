// Test data that is the same for a given seed and unlikely to match by
// accident (xorshift32): what one test writes, another can expect.
#pragma once

#include <cstddef>
#include <cstdint>

inline void FillPattern(unsigned char* out, size_t length, uint32_t seed)
{
    uint32_t x = seed * 2654435761u + 1;
    for (size_t i = 0; i < length; ++i) {
        x ^= x << 13;
        x ^= x >> 17;
        x ^= x << 5;
        out[i] = static_cast<unsigned char>(x);
    }
}
