// xoshiro256** seeded by SplitMix64, with the integer and float range draws.
#pragma once

#include <cstdint>

namespace velmo {

struct RandomGenerator {
    std::uint64_t s0, s1, s2, s3;

    // The four state words are the first four SplitMix64 outputs from `seed`.
    static RandomGenerator from_seed(std::uint64_t seed) noexcept;

    std::uint64_t next_u64() noexcept;
    // Upper half of one step's output; the lower half is discarded.
    std::uint32_t next_u32() noexcept;

    // Uniform over the bounds in either order, both included.
    std::int32_t uniform_int(std::int32_t a, std::int32_t b) noexcept;
    // Uniform over the bounds in either order, both included. A NaN bound or
    // an unbounded range is a fatal error raised before any step is taken.
    double uniform_float(double a, double b);
};

}  // namespace velmo
