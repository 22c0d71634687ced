#include "velmo/fatal.hpp"
#include "velmo/random.hpp"

// Placeholder until the generator lands: every draw fails loudly.
namespace velmo {
RandomGenerator RandomGenerator::from_seed(std::uint64_t) noexcept { return {0, 0, 0, 0}; }
std::uint64_t RandomGenerator::next_u64() noexcept { return 0; }
std::uint32_t RandomGenerator::next_u32() noexcept { return 0; }
std::int32_t RandomGenerator::uniform_int(std::int32_t, std::int32_t) noexcept { return 0; }
double RandomGenerator::uniform_float(double, double) { fatal_here("rndf is not built yet"); }
}  // namespace velmo
