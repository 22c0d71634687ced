#include "velmo/random.hpp"

#include <bit>
#include <cmath>
#include <cstdint>

#include "velmo/compat_texts.hpp"
#include "velmo/fatal.hpp"

namespace velmo {
namespace {

constexpr std::uint64_t splitmix_increment = 0x9E3779B97F4A7C15;

// SplitMix64's output mixer: a bijection that maps 0, and only 0, to 0.
constexpr std::uint64_t splitmix_mix(std::uint64_t z) noexcept {
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EB;
    return z ^ (z >> 31);
}

// The largest unit draw, 1 - 2^-52 (0x3FEFFFFFFFFFFFFE).
constexpr double largest_unit = 0.9999999999999998;
static_assert(std::bit_cast<std::uint64_t>(largest_unit) == 0x3FEFFFFFFFFFFFFE);

constexpr std::uint64_t exponent_of_one = 0x3FF0000000000000;

// The next smaller double of a positive finite value.
double next_below(double value) noexcept {
    return std::bit_cast<double>(std::bit_cast<std::uint64_t>(value) - 1);
}

// A value in [0, largest_unit] from the top 52 bits of one output: those
// bits as the mantissa of a double in [1, 2), less 1.0 (which is exact).
double unit_from_bits(std::uint64_t bits) noexcept {
    const double one_to_two = std::bit_cast<double>((bits >> 12) | exponent_of_one);
    return one_to_two - 1.0;
}

}  // namespace

double uniform_float_scale(double low, double high) noexcept {
    const double span = high - low;
    double scale = span / largest_unit;
    if (!std::isfinite(scale)) return scale;
    // The quotient may round up far enough that the largest unit draw lands
    // above `high`; lower it one bit pattern at a time until it fits.
    for (;;) {
        const double largest_offset = scale * largest_unit;
        const double largest_result = largest_offset + low;
        if (!(largest_result > high)) return scale;
        scale = next_below(scale);
    }
}

RandomGenerator RandomGenerator::from_seed(std::uint64_t seed) noexcept {
    return {
        splitmix_mix(seed + 1 * splitmix_increment),
        splitmix_mix(seed + 2 * splitmix_increment),
        splitmix_mix(seed + 3 * splitmix_increment),
        splitmix_mix(seed + 4 * splitmix_increment),
    };
}

double RandomGenerator::uniform_float(double a, double b) {
    // With a NaN bound one of these is NaN and the check below fails.
    const double high = b > a ? b : a;
    const double low = a < b ? a : b;
    if (!(high >= low)) fatal_here(texts::empty_range);

    const double scale = uniform_float_scale(low, high);
    if (!std::isfinite(scale)) fatal_here(texts::range_overflow);

    const double unit = unit_from_bits(next_u64());
    const double offset = unit * scale;
    const double result = offset + low;
    return result;
}

}  // namespace velmo
