#include "velmo/math.hpp"

#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <cstdint>
#include <functional>
#include <limits>
#include <map>
#include <string>

#include "golden.hpp"
#include "velmo/saturate.hpp"

namespace velmo {
namespace {

// Runs every row of the math table for `function` through `check`.
template <typename Check>
int for_each_row(const std::string& function, Check check) {
    int count = 0;
    for (const golden::Row& r : golden::rows("math.txt", function)) {
        check(r);
        ++count;
    }
    return count;
}

TEST(Math, RoundingFunctionsSaturateAtTheInt32Bounds) {
    const std::map<std::string, std::function<std::int32_t(double)>> functions = {
        {"ceil", math::ceil}, {"floor", math::floor}};
    for (const auto& [name, function] : functions) {
        const int checked = for_each_row(name, [&](const golden::Row& r) {
            EXPECT_EQ(function(r.f64(0)), r.i64(1)) << name << "(" << r.values[0] << ")";
        });
        EXPECT_GT(checked, 0);
    }
}

// The scheduler's count of missed periods; its own quotients never reach
// these edges.
TEST(Math, UnsignedSaturationTruncatesTowardZero) {
    const double inf = std::numeric_limits<double>::infinity();
    const struct {
        double value;
        std::uint32_t expected;
    } cases[] = {
        {std::numeric_limits<double>::quiet_NaN(), 0},
        {-inf, 0},
        {-1.5, 0},
        {-0.0, 0},
        {0.9999999999999999, 0},
        {4294967294.5, 4294967294u},
        {4294967295.0, UINT32_MAX},
        {4294967295.5, UINT32_MAX},
        {4294967296.0, UINT32_MAX},
        {inf, UINT32_MAX},
    };
    for (const auto& c : cases)
        EXPECT_EQ(saturate_to<std::uint32_t>(c.value), c.expected) << c.value;
}

TEST(Math, FloatFunctionsGiveTheKnownBits) {
    const std::map<std::string, std::function<double(double)>> functions = {
        {"sgn", math::sgn}, {"sqrt", math::sqrt}, {"sin", math::sin}, {"cos", math::cos}};
    for (const auto& [name, function] : functions) {
        for_each_row(name, [&](const golden::Row& r) {
            EXPECT_TRUE(golden::same_double(r.f64(1), function(r.f64(0))))
                << name << "(" << r.values[0] << ")";
        });
    }
    for_each_row("atan2", [&](const golden::Row& r) {
        EXPECT_TRUE(golden::same_double(r.f64(2), math::atan2(r.f64(0), r.f64(1))))
            << "atan2(" << r.values[0] << ", " << r.values[1] << ")";
    });
}

// Called apart so that the compiler cannot merge a sine and a cosine of one
// argument into a single sincos call, which on some runtimes is another,
// less exact, implementation than the library's sin and cos.
[[gnu::noinline]] double library_sin(double radians) { return std::sin(radians); }
[[gnu::noinline]] double library_cos(double radians) { return std::cos(radians); }

TEST(Math, DegreeConversionIsTwoRoundedStepsNotAFoldedConstant) {
    ASSERT_EQ(std::bit_cast<std::uint64_t>(math::pi), 0x400921FB54442D18u);
    // Over many angles, both orders agree with the two-step form only; a
    // folded pi / 180 differs in the last bit somewhere in this range.
    int folded_differs = 0;
    for (int tenth = -3600; tenth <= 3600; ++tenth) {
        const double deg = tenth / 10.0;
        const double radians = (deg * math::pi) / 180.0;
        ASSERT_TRUE(golden::same_double(library_sin(radians), math::sin(deg))) << deg;
        ASSERT_TRUE(golden::same_double(library_cos(radians), math::cos(deg))) << deg;
        folded_differs += library_sin(deg * (math::pi / 180.0)) != math::sin(deg);
    }
    EXPECT_GT(folded_differs, 0);
    const double angle = math::atan2(0.3, -0.7);
    EXPECT_TRUE(golden::same_double((std::atan2(0.3, -0.7) * 180.0) / math::pi, angle));
}

TEST(Math, AngleStaysWithinAHalfTurnEitherWay) {
    const double values[] = {-HUGE_VAL, -1e300, -1.0, -0.0, 0.0, 1e-310, 1.0, 1e300, HUGE_VAL};
    for (double y : values) {
        for (double x : values) {
            const double angle = math::atan2(y, x);
            EXPECT_TRUE(angle >= -180.0 && angle <= 180.0) << y << ", " << x;
        }
    }
}

}  // namespace
}  // namespace velmo
