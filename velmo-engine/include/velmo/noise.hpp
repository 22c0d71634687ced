// Seeded improved gradient noise in three dimensions.
#pragma once

#include <array>
#include <cstdint>

namespace velmo {

struct NoiseTable {
    std::array<std::uint8_t, 256> perm;
    std::uint32_t seed;

    // Shuffles the identity permutation with xorshift128 seeded by 1, s, s, s.
    static NoiseTable from_seed(std::uint32_t seed) noexcept;

    // The field's value at (x, y, z): in [-1, 1], NaN for NaN or infinite input.
    double sample(double x, double y, double z) const noexcept;
};

}  // namespace velmo
