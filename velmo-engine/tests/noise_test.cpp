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
            EXPECT_EQ(noise.perm[index], r.i64(i + 1))
                << "seed " << r.values[0] << " entry " << index;
        }
    }
}

TEST(NoiseTable, EverySeedGivesAPermutationThatDependsOnTheSeedAlone) {
    const std::uint32_t seeds[] = {0,   1,     2,           42,          255,
                                   256, 65535, 0x80000000u, 0xFFFFFFFEu, 0xFFFFFFFFu};
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
        const double x = r.f64(1);
        const double y = r.f64(2);
        const double z = r.f64(3);
        EXPECT_TRUE(golden::same_double(r.f64(4), noise.sample(x, y, z)))
            << "seed " << r.values[0] << " at " << x << ", " << y << ", " << z;
    }
}

// A fixed spread of points in [-1600, 1600), all multiples of 1/64.
double coordinate(std::uint32_t i, std::uint32_t salt) {
    const std::uint32_t mixed = (i * 2654435761u) ^ (salt * 40503u);
    return (static_cast<double>(mixed % 204800u) - 102400.0) / 64.0;
}

// The field written out plainly, one switch per corner, to check the
// sampler's table-driven gradient selection bit for bit.
double plain_gradient(int hash, double u, double v, double w) {
    switch (hash & 15) {
        case 0:
        case 12: return u + v;
        case 1:
        case 13: return v - u;
        case 2: return u - v;
        case 3: return -u - v;
        case 4: return u + w;
        case 5: return w - u;
        case 6: return u - w;
        case 7: return -u - w;
        case 8: return v + w;
        case 9:
        case 14: return w - v;
        case 10: return v - w;
        default: return -v - w;
    }
}

double plain_fade(double t) { return ((t * 6.0 - 15.0) * t + 10.0) * ((t * t) * t); }

double plain_sample(const NoiseTable& table, double x, double y, double z) {
    const double fx = std::floor(x);
    const double fy = std::floor(y);
    const double fz = std::floor(z);
    const int X = static_cast<int>(static_cast<std::int64_t>(fx) & 255);
    const int Y = static_cast<int>(static_cast<std::int64_t>(fy) & 255);
    const int Z = static_cast<int>(static_cast<std::int64_t>(fz) & 255);
    const double dx = x - fx;
    const double dy = y - fy;
    const double dz = z - fz;
    double g[2][2][2];
    for (int i = 0; i < 2; ++i)
        for (int j = 0; j < 2; ++j)
            for (int k = 0; k < 2; ++k) {
                const auto& p = table.perm;
                const int h = p[p[p[(X + i) & 255] ^ ((Y + j) & 255)] ^ ((Z + k) & 255)];
                g[i][j][k] =
                    plain_gradient(h, i ? dx - 1.0 : dx, j ? dy - 1.0 : dy, k ? dz - 1.0 : dz);
            }
    const double sx = plain_fade(dx);
    const double sy = plain_fade(dy);
    const double sz = plain_fade(dz);
    const double k0 = g[0][0][0];
    const double k1 = g[1][0][0] - g[0][0][0];
    const double k2 = g[0][1][0] - g[0][0][0];
    const double k3 = g[0][0][1] - g[0][0][0];
    const double k4 = ((g[0][0][0] + g[1][1][0]) - g[1][0][0]) - g[0][1][0];
    const double k5 = ((g[0][0][0] + g[1][0][1]) - g[1][0][0]) - g[0][0][1];
    const double k6 = ((g[0][0][0] + g[0][1][1]) - g[0][1][0]) - g[0][0][1];
    const double k7 =
        ((((((g[1][0][0] + g[0][1][0]) + g[0][0][1]) + g[1][1][1]) - g[0][0][0]) - g[1][1][0]) -
         g[1][0][1]) -
        g[0][1][1];
    const double r = k0 + k1 * sx + k2 * sy + k3 * sz + (k4 * sx) * sy + (k5 * sx) * sz +
                     (k6 * sy) * sz + ((k7 * sx) * sy) * sz;
    const double scaled = r * 1.1547005383792517;
    return std::clamp(scaled, -1.0, 1.0);
}

TEST(NoiseTable, SamplerAgreesBitForBitWithThePlainFormula) {
    for (std::uint32_t seed : {0u, 42u, 0xDEADBEEFu}) {
        const NoiseTable noise = NoiseTable::from_seed(seed);
        for (std::uint32_t i = 0; i < 20000; ++i) {
            const double third = (i % 3) / 3.0;
            const double x = coordinate(i, 7) + third;
            const double y = coordinate(i, 8) - third;
            const double z = coordinate(i, 9);
            ASSERT_TRUE(golden::same_double(plain_sample(noise, x, y, z), noise.sample(x, y, z)))
                << "seed " << seed << " at " << x << ", " << y << ", " << z;
        }
        // Both signs of zero, tiny negatives, and the edges of the range in
        // which coordinates still have a fractional part.
        const double edges[] = {0.0,
                                -0.0,
                                -1e-300,
                                1e-300,
                                -0.5,
                                0.5,
                                -1.0,
                                255.99999999999997,
                                -4503599627370495.5,
                                4503599627370495.5,
                                -4503599627370496.0,
                                4503599627370497.0,
                                -9.2e18,
                                9.2e18};
        for (double a : edges) {
            for (double b : edges) {
                ASSERT_TRUE(
                    golden::same_double(plain_sample(noise, a, b, 0.25), noise.sample(a, b, 0.25)))
                    << a << ", " << b;
                ASSERT_TRUE(golden::same_double(plain_sample(noise, b, -0.75, a),
                                                noise.sample(b, -0.75, a)))
                    << b << ", " << a;
            }
        }
        EXPECT_TRUE(golden::same_double(0.0, noise.sample(-0.0, -0.0, -0.0)));
    }
}

TEST(NoiseTable, SamplesStayInRangeAndVanishOnTheLattice) {
    for (std::uint32_t seed : {0u, 42u, 0xDEADBEEFu}) {
        const NoiseTable noise = NoiseTable::from_seed(seed);
        for (std::uint32_t i = 0; i < 20000; ++i) {
            // Thirds have inexact fractions, unlike the lattice spread.
            const double third = (i % 3) / 3.0;
            const double v =
                noise.sample(coordinate(i, 1) + third, coordinate(i, 2), coordinate(i, 3) - third);
            ASSERT_TRUE(v >= -1.0 && v <= 1.0)
                << "seed " << seed << " point " << i << " gave " << v;
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
        const double x = coordinate(i, 4);
        const double y = coordinate(i, 5);
        const double z = coordinate(i, 6);
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
