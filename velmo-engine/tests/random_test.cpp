#include "velmo/random.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <limits>

#include "golden.hpp"
#include "velmo/compat_texts.hpp"
#include "velmo/fatal.hpp"

namespace velmo {
namespace {

using golden::row;
using golden::rows;

constexpr const char* table = "random.txt";

bool same_state(const RandomGenerator& a, const RandomGenerator& b) {
    return a.s0 == b.s0 && a.s1 == b.s1 && a.s2 == b.s2 && a.s3 == b.s3;
}

// How many steps separate `later` from `earlier`, up to `limit`.
int steps_between(RandomGenerator earlier, const RandomGenerator& later, int limit = 64) {
    for (int steps = 0; steps <= limit; ++steps) {
        if (same_state(earlier, later)) return steps;
        earlier.next_u64();
    }
    return -1;
}

TEST(RandomGenerator, SeedingAndFirstOutputsMatchTheKnownValues) {
    const golden::Row state = row(table, "state_after_seed_0");
    RandomGenerator rng = RandomGenerator::from_seed(0);
    EXPECT_EQ(rng.s0, state.u64(0));
    EXPECT_EQ(rng.s1, state.u64(1));
    EXPECT_EQ(rng.s2, state.u64(2));
    EXPECT_EQ(rng.s3, state.u64(3));

    const golden::Row outputs = row(table, "next_u64_after_seed_0");
    for (std::size_t i = 0; i < outputs.size(); ++i) EXPECT_EQ(rng.next_u64(), outputs.u64(i)) << i;

    RandomGenerator halves = RandomGenerator::from_seed(0);
    for (std::size_t i = 0; i < outputs.size(); ++i) {
        EXPECT_EQ(halves.next_u32(), static_cast<std::uint32_t>(outputs.u64(i) >> 32)) << i;
    }
}

TEST(RandomGenerator, SeedsDifferingOnlyInHighBitsGiveDifferentStates) {
    // rseed widens 32-bit seeds, but the generator takes all 64 bits.
    EXPECT_FALSE(
        same_state(RandomGenerator::from_seed(1), RandomGenerator::from_seed(1ull << 32 | 1)));
    // The one seed that zeroes a word still leaves the state non-zero.
    const RandomGenerator rng = RandomGenerator::from_seed(0 - 0x9E3779B97F4A7C15ull);
    EXPECT_EQ(rng.s0, 0u);
    EXPECT_NE(rng.s1 | rng.s2 | rng.s3, 0u);
}

TEST(RandomGenerator, UniformIntSequencesMatchTheKnownValues) {
    for (const golden::Row& r : rows(table, "rndi")) {
        RandomGenerator rng = RandomGenerator::from_seed(r.u64(0));
        const auto a = static_cast<std::int32_t>(r.i64(1));
        const auto b = static_cast<std::int32_t>(r.i64(2));
        for (std::size_t i = 3; i < r.size(); ++i) {
            EXPECT_EQ(rng.uniform_int(a, b), r.i64(i))
                << "bounds " << a << ", " << b << " call " << i - 3;
        }
    }
}

TEST(RandomGenerator, EqualBoundsStillDrawAndRejectTopBitDraws) {
    RandomGenerator rng = RandomGenerator::from_seed(0);
    const RandomGenerator before = rng;
    EXPECT_EQ(rng.uniform_int(5, 5), 5);
    EXPECT_EQ(steps_between(before, rng), row(table, "equal_bounds_steps_after_seed_0").i64(0));

    const golden::Row next = row(table, "rndi_1_6_after_equal_bounds");
    for (std::size_t i = 0; i < next.size(); ++i)
        EXPECT_EQ(rng.uniform_int(1, 6), next.i64(i)) << i;
}

TEST(RandomGenerator, FullRangeTakesExactlyOneStepAndNoOffset) {
    RandomGenerator rng = RandomGenerator::from_seed(7);
    RandomGenerator twin = rng;
    for (int i = 0; i < 100; ++i) {
        const std::int32_t value = rng.uniform_int(INT32_MAX, INT32_MIN);
        EXPECT_EQ(value, static_cast<std::int32_t>(twin.next_u32()));
        EXPECT_TRUE(same_state(rng, twin));
    }
}

TEST(RandomGenerator, UniformIntStaysWithinItsBounds) {
    struct Bounds {
        std::int32_t a, b;
    };
    const Bounds cases[] = {{1, 6},
                            {6, 1},
                            {0, 100},
                            {-5, 5},
                            {0, 255},
                            {0, INT32_MAX},
                            {INT32_MIN, INT32_MAX - 1},
                            {INT32_MIN, INT32_MIN + 2},
                            {INT32_MAX - 1, INT32_MAX},
                            {-1, 0}};
    RandomGenerator rng = RandomGenerator::from_seed(12345);
    for (const Bounds& c : cases) {
        const std::int32_t low = std::min(c.a, c.b);
        const std::int32_t high = std::max(c.a, c.b);
        bool saw_low = false;
        bool saw_high = false;
        for (int i = 0; i < 2000; ++i) {
            const std::int32_t v = rng.uniform_int(c.a, c.b);
            ASSERT_GE(v, low) << c.a << ", " << c.b;
            ASSERT_LE(v, high) << c.a << ", " << c.b;
            saw_low |= v == low;
            saw_high |= v == high;
        }
        // Narrow ranges must reach both ends: catches an off-by-one range.
        if (static_cast<std::int64_t>(high) - low < 8) {
            EXPECT_TRUE(saw_low && saw_high) << c.a << ", " << c.b;
        }
    }
}

TEST(RandomGenerator, UniformFloatSequencesMatchTheKnownValues) {
    for (const golden::Row& r : rows(table, "rndf")) {
        RandomGenerator rng = RandomGenerator::from_seed(r.u64(0));
        const double a = r.f64(1);
        const double b = r.f64(2);
        for (std::size_t i = 3; i < r.size(); ++i) {
            const RandomGenerator before = rng;
            EXPECT_TRUE(golden::same_double(r.f64(i), rng.uniform_float(a, b)))
                << "bounds " << a << ", " << b << " call " << i - 3;
            EXPECT_EQ(steps_between(before, rng), 1);
        }
    }
}

TEST(RandomGenerator, ScaleIsLoweredUntilTheLargestDrawFits) {
    const golden::Row r = row(table, "lowered_scale");
    const double low = r.f64(0);
    const double high = r.f64(1);
    const double first = r.f64(2);
    const double lowered = r.f64(3);
    ASSERT_EQ(first, (high - low) / 0.9999999999999998);
    // The first quotient overshoots: the reason the adjustment exists.
    ASSERT_GT(first * 0.9999999999999998 + low, high);
    EXPECT_TRUE(golden::same_double(lowered, uniform_float_scale(low, high)));
    EXPECT_TRUE(golden::same_double(0.0, uniform_float_scale(5.0, 5.0)));
}

TEST(RandomGenerator, UniformFloatReachesItsBoundsAndNeverLeavesThem) {
    struct Bounds {
        double a, b;
    };
    const Bounds cases[] = {
        {0.0, 1.0},       {-3.0, 0.1}, {0.1, 0.3},       {-1e308, 0.0},
        {1e-300, 2e-300}, {-0.0, 0.0}, {1e15, 1e15 + 7}, {-1.7976931348623157e308, -1e308}};
    RandomGenerator rng = RandomGenerator::from_seed(99);
    for (const Bounds& c : cases) {
        const double low = std::min(c.a, c.b);
        const double high = std::max(c.a, c.b);
        for (int i = 0; i < 2000; ++i) {
            const double v = rng.uniform_float(c.a, c.b);
            ASSERT_TRUE(v >= low && v <= high) << c.a << ", " << c.b << " gave " << v;
        }
        // The extreme unit draws, fed through the same arithmetic.
        const double scale = uniform_float_scale(low, high);
        EXPECT_LE(0.9999999999999998 * scale + low, high) << c.a << ", " << c.b;
        EXPECT_EQ(0.0 * scale + low, low);
    }
}

TEST(RandomGenerator, FailedUniformFloatRaisesBeforeAnyStep) {
    const double nan = std::numeric_limits<double>::quiet_NaN();
    const double inf = std::numeric_limits<double>::infinity();
    struct Case {
        double a, b;
        const char* message;
    };
    const Case cases[] = {
        {nan, 1.0, texts::empty_range},
        {1.0, nan, texts::empty_range},
        {nan, nan, texts::empty_range},
        {0.0, inf, texts::range_overflow},
        {-inf, 0.0, texts::range_overflow},
        {inf, inf, texts::range_overflow},
        {-1e308, 1e308, texts::range_overflow},
        {0.0, 1.7976931348623157e308, texts::range_overflow},
    };
    for (const Case& c : cases) {
        RandomGenerator rng = RandomGenerator::from_seed(0);
        const RandomGenerator before = rng;
        try {
            rng.uniform_float(c.a, c.b);
            ADD_FAILURE() << c.a << ", " << c.b << " did not fail";
        } catch (const FatalError& error) {
            EXPECT_EQ(error.message(), c.message) << c.a << ", " << c.b;
        }
        EXPECT_TRUE(same_state(before, rng)) << c.a << ", " << c.b;
    }
}

}  // namespace
}  // namespace velmo
