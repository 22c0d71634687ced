#ifdef _WIN32

#include <algorithm>
#include <array>
#include <string>

#include <gtest/gtest.h>

#include "../src/entropy_win.hpp"
#include "velmo/platform.hpp"

namespace {

using velmo::platform::windows::fill_from_first_working;
using velmo::platform::windows::RandomSource;

bool failing_source(unsigned char*, std::size_t, std::string& error) {
    error = "first source broken";
    return false;
}

bool other_failing_source(unsigned char*, std::size_t, std::string& error) {
    error = "second source broken";
    return false;
}

bool sevens_source(unsigned char* buffer, std::size_t size, std::string&) {
    std::fill_n(buffer, size, static_cast<unsigned char>(7));
    return true;
}

bool looks_random(const std::array<unsigned char, 64>& bytes) {
    // 64 bytes from a working source are never all one value.
    return std::any_of(bytes.begin(), bytes.end(), [&](unsigned char b) { return b != bytes[0]; });
}

TEST(WindowsRandomSource, EachSystemSourceSuppliesBytes) {
    for (RandomSource source : {&velmo::platform::windows::fill_from_bcrypt,
                                &velmo::platform::windows::fill_from_rtl_gen_random}) {
        std::array<unsigned char, 64> bytes{};
        std::string error;
        EXPECT_TRUE(source(bytes.data(), bytes.size(), error)) << error;
        EXPECT_TRUE(looks_random(bytes));
    }
}

TEST(WindowsRandomSource, FillRandomGivesDifferentSeeds) {
    std::array<unsigned char, 64> first{}, second{};
    std::string error;
    ASSERT_TRUE(velmo::platform::fill_random(first.data(), first.size(), error)) << error;
    ASSERT_TRUE(velmo::platform::fill_random(second.data(), second.size(), error)) << error;
    EXPECT_TRUE(looks_random(first));
    EXPECT_NE(first, second);
}

TEST(WindowsRandomSource, FallsBackToTheNextSourceAndReportsEveryFailure) {
    std::array<unsigned char, 4> bytes{};
    std::string error;
    const RandomSource fallback[] = {&failing_source, &sevens_source};
    EXPECT_TRUE(fill_from_first_working(fallback, bytes.data(), bytes.size(), error));
    EXPECT_EQ(bytes, (std::array<unsigned char, 4>{7, 7, 7, 7}));

    const RandomSource broken[] = {&failing_source, &other_failing_source};
    EXPECT_FALSE(fill_from_first_working(broken, bytes.data(), bytes.size(), error));
    EXPECT_EQ(error, "first source broken; second source broken");
}

}  // namespace

#endif  // _WIN32
