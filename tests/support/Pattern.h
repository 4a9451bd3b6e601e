// Test data that is the same for a given seed and unlikely to match by
// accident (xorshift32): what one test writes, another can expect, and a
// chunk landing at the wrong place shows.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

// `length` bytes of the pattern for `seed`, as a std::vector<uint8_t> or, with
// Pattern<std::string>, as text.
template <typename Bytes = std::vector<uint8_t>> Bytes Pattern(size_t length, uint32_t seed)
{
    Bytes bytes(length, 0);
    uint32_t x = seed * 2654435761u + 1;
    for (size_t i = 0; i < length; ++i) {
        x ^= x << 13;
        x ^= x >> 17;
        x ^= x << 5;
        bytes[i] = static_cast<typename Bytes::value_type>(x);
    }
    return bytes;
}
