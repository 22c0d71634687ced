#include "velmo/noise.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <limits>
#include <numeric>

#include "golden.hpp"

namespace velmo {
namespace {

using golden::rows;

constexpr const char* table = "noise.txt";

TEST(NoiseTable, KnownSeedsGiveTheKnownTableEnds) {
    for (const golden::Row& r : rows(table, "perm_prefix")) {
        const NoiseTable noise = NoiseTable::from_seed(static_cast<std::uint32_t>(r.u64(0)));
        EXPECT_EQ(noise.seed, r.u64(0));
        for (std::size_t i = 1; i < r.size(); ++i) {
            EXPECT_EQ(noise.perm[i - 1], r.i64(i)) << "seed " << r.values[0] << " entry " << i - 1;
        }
    }
    for (const golden::Row& r : rows(table, "perm_suffix")) {
        const NoiseTable noise = NoiseTable::from_seed(static_cast<std::uint32_t>(r.u64(0)));
        const std::size_t count = r.size() - 1;
        for (std::size_t i = 0; i < count; ++i) {
            const std::size_t index = 256 - count + i;
            EXPECT_EQ(noise.perm[index], r.i64(i + 1)) << "seed " << r.values[0] << " entry " << index;
        }
    }
}

TEST(NoiseTable, EverySeedGivesAPermutationThatDependsOnTheSeedAlone) {
    const std::uint32_t seeds[] = {0, 1, 2, 42, 255, 256, 65535, 0x80000000u, 0xFFFFFFFEu, 0xFFFFFFFFu};
    for (std::uint32_t step = 0; step < 2000; ++step) {
        const std::uint32_t seed = step < std::size(seeds) ? seeds[step] : step * 2654435761u;
        const NoiseTable noise = NoiseTable::from_seed(seed);
        auto sorted = noise.perm;
        std::sort(sorted.begin(), sorted.end());
        std::array<std::uint8_t, 256> identity;
        std::iota(identity.begin(), identity.end(), 0);
        ASSERT_EQ(sorted, identity) << "seed " << seed;
        ASSERT_EQ(NoiseTable::from_seed(seed).perm, noise.perm) << "seed " << seed;
    }
    EXPECT_NE(NoiseTable::from_seed(1).perm, NoiseTable::from_seed(2).perm);
}

TEST(NoiseTable, SamplesMatchTheKnownValues) {
    for (const golden::Row& r : rows(table, "sample")) {
        const NoiseTable noise = NoiseTable::from_seed(static_cast<std::uint32_t>(r.u64(0)));
        const double x = r.f64(1), y = r.f64(2), z = r.f64(3);
        EXPECT_TRUE(golden::same_double(r.f64(4), noise.sample(x, y, z)))
            << "seed " << r.values[0] << " at " << x << ", " << y << ", " << z;
    }
}

// A fixed spread of points in [-1600, 1600), all multiples of 1/64.
double coordinate(std::uint32_t i, std::uint32_t salt) {
    const std::uint32_t mixed = (i * 2654435761u) ^ (salt * 40503u);
    return (static_cast<double>(mixed % 204800u) - 102400.0) / 64.0;
}

TEST(NoiseTable, SamplesStayInRangeAndVanishOnTheLattice) {
    for (std::uint32_t seed : {0u, 42u, 0xDEADBEEFu}) {
        const NoiseTable noise = NoiseTable::from_seed(seed);
        for (std::uint32_t i = 0; i < 20000; ++i) {
            // Thirds have inexact fractions, unlike the lattice spread.
            const double third = (i % 3) / 3.0;
            const double v = noise.sample(coordinate(i, 1) + third, coordinate(i, 2), coordinate(i, 3) - third);
            ASSERT_TRUE(v >= -1.0 && v <= 1.0) << "seed " << seed << " point " << i << " gave " << v;
        }
        for (int x = -300; x <= 300; x += 7) {
            for (int y = -3; y <= 3; ++y) {
                const double v = noise.sample(x, y, x + y);
                ASSERT_TRUE(golden::same_double(0.0, v)) << x << ", " << y;
            }
        }
    }
}

TEST(NoiseTable, FieldRepeatsEvery256UnitsAlongEachAxis) {
    const NoiseTable noise = NoiseTable::from_seed(42);
    for (std::uint32_t i = 0; i < 2000; ++i) {
        // Multiples of 1/64 this small keep their fraction exactly when shifted.
        const double x = coordinate(i, 4), y = coordinate(i, 5), z = coordinate(i, 6);
        const double base = noise.sample(x, y, z);
        const double shift = 256.0 * static_cast<double>(1 + i % 5);
        ASSERT_EQ(base, noise.sample(x + shift, y, z)) << i;
        ASSERT_EQ(base, noise.sample(x, y - shift, z)) << i;
        ASSERT_EQ(base, noise.sample(x, y, z + shift)) << i;
    }
}

TEST(NoiseTable, NonFiniteCoordinatesGiveNaNAndHugeOnesLandOnTheLattice) {
    const double nan = std::numeric_limits<double>::quiet_NaN();
    const double inf = std::numeric_limits<double>::infinity();
    const NoiseTable noise = NoiseTable::from_seed(0);
    for (double bad : {nan, inf, -inf}) {
        EXPECT_TRUE(std::isnan(noise.sample(bad, 0.5, 0.5)));
        EXPECT_TRUE(std::isnan(noise.sample(0.5, bad, 0.5)));
        EXPECT_TRUE(std::isnan(noise.sample(0.5, 0.5, bad)));
    }
    // No fractional part from 2^52 up, and saturated lattice coordinates.
    for (double huge : {4503599627370496.0, 9.3e18, -9.3e18, 1e300, -1.7976931348623157e308}) {
        EXPECT_EQ(noise.sample(huge, 0.0, 0.0), 0.0) << huge;
        EXPECT_EQ(noise.sample(huge, 0.5, 0.25), noise.sample(huge, 0.5 + 256.0, 0.25)) << huge;
    }
}

}  // namespace
}  // namespace velmo
