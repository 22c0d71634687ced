// Seeded improved gradient noise in three dimensions.
//
// The values sampled after a given seed are part of the module's contract:
// the table build and every floating-point step of the sampler are fixed.
#pragma once

#include <array>
#include <cstdint>

#include "velmo/exact_float.hpp"

namespace velmo {

struct NoiseTable {
    std::array<std::uint8_t, 256> perm;
    std::uint32_t seed;

    // Shuffles the identity permutation with xorshift128 seeded by 1, s, s, s.
    // The result depends on `seed` alone.
    static NoiseTable from_seed(std::uint32_t seed) noexcept;

    // The field's value at (x, y, z): in [-1, 1], NaN for NaN or infinite
    // input, 0.0 at every lattice point. Reads `perm` only; allocates nothing.
    double sample(double x, double y, double z) const noexcept;
};

}  // namespace velmo
