// xoshiro256** seeded by SplitMix64, with the integer and float range draws.
//
// The sequences drawn after a given seed are part of the module's contract:
// every constant, shift and rounding step below is fixed. The generator holds
// its four words and nothing else; every draw consumes whole steps.
#pragma once

#include <bit>
#include <cstdint>

#include "velmo/bounded_draw.hpp"
#include "velmo/exact_float.hpp"

namespace velmo {

struct RandomGenerator {
    std::uint64_t s0, s1, s2, s3;

    // The four state words are the first four SplitMix64 outputs from `seed`.
    // SplitMix64's mixer maps only 0 to 0, so the state is never all zero.
    static RandomGenerator from_seed(std::uint64_t seed) noexcept;

    std::uint64_t next_u64() noexcept;
    // Upper half of one step's output; the lower half is discarded.
    std::uint32_t next_u32() noexcept;

    // Uniform over the bounds in either order, both included. Consumes one
    // step, plus one for every rejected draw (at most half of them).
    std::int32_t uniform_int(std::int32_t a, std::int32_t b) noexcept;
    // Uniform over the bounds in either order, both included. A NaN bound or
    // an unbounded range is a fatal error raised before any step is taken.
    double uniform_float(double a, double b);
};

// The factor that uniform_float stretches its unit draw by for the range
// [low, high] (finite, low <= high): the span over the largest unit draw,
// lowered until the largest draw maps to at most `high`.
double uniform_float_scale(double low, double high) noexcept;

// The generator's step and integer draw are inline: a call from the module
// costs a few nanoseconds, and a function call would be a large part of it.

inline std::uint64_t RandomGenerator::next_u64() noexcept {
    const std::uint64_t result = std::rotl(s1 * 5, 7) * 9;
    const std::uint64_t t = s1 << 17;
    s2 ^= s0;
    s3 ^= s1;
    s1 ^= s2;
    s0 ^= s3;
    s2 ^= t;
    s3 = std::rotl(s3, 45);
    return result;
}

inline std::uint32_t RandomGenerator::next_u32() noexcept {
    return static_cast<std::uint32_t>(next_u64() >> 32);
}

inline std::int32_t RandomGenerator::uniform_int(std::int32_t a, std::int32_t b) noexcept {
    const std::uint32_t low = static_cast<std::uint32_t>(a < b ? a : b);
    const std::uint32_t high = static_cast<std::uint32_t>(a < b ? b : a);
    // Modulo 2^32: 0 only for the full signed range.
    const std::uint32_t range = high - low + 1u;
    if (range == 0) return static_cast<std::int32_t>(next_u32());
    const std::uint32_t offset = bounded_draw(range, [this] { return next_u32(); });
    return static_cast<std::int32_t>(low + offset);
}

}  // namespace velmo
