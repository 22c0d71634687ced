#include "velmo/noise.hpp"

// Placeholder until the noise table lands.
namespace velmo {
NoiseTable NoiseTable::from_seed(std::uint32_t seed) noexcept { return {{}, seed}; }
double NoiseTable::sample(double, double, double) const noexcept { return 0.0; }
}  // namespace velmo
