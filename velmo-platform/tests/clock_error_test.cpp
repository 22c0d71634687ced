#include "../src/clock_error.hpp"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>

#include "velmo/compat_texts.hpp"
#include "velmo/fatal.hpp"

namespace velmo::platform {
namespace {

// The message of the fatal error for a wall clock `nanoseconds` before the epoch.
std::string before_epoch_message(std::uint64_t nanoseconds) {
    ::testing::internal::CaptureStderr();
    std::string message;
    try {
        wall_clock_before_epoch(nanoseconds);
    } catch (const FatalError& error) {
        message = error.message();
    }
    ::testing::internal::GetCapturedStderr();
    return message;
}

TEST(WallClockBeforeEpoch, GivesTheSecondsWithoutTrailingZeros) {
    const std::string start = texts::clock_before_epoch;
    EXPECT_EQ(before_epoch_message(2050000000), start + "2.05s)");
    EXPECT_EQ(before_epoch_message(3000000000), start + "3s)");
    EXPECT_EQ(before_epoch_message(970000001), start + "0.970000001s)");
}

}  // namespace
}  // namespace velmo::platform
