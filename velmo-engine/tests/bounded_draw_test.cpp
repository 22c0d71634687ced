#include "velmo/bounded_draw.hpp"

#include <gtest/gtest.h>

#include <array>
#include <cstddef>
#include <cstdint>
#include <vector>

namespace velmo {
namespace {

// The multiplicative inverse of an odd word modulo 2^32 (Newton's iteration,
// each step doubling the bits that are right).
constexpr std::uint32_t inverse(std::uint32_t odd) {
    std::uint32_t x = odd;
    for (int i = 0; i < 5; ++i) x *= 2u - odd * x;
    return x;
}

// Hands out the given words in order, then 0 (kept for every range, drawing
// 0), and counts how many were taken.
struct Words {
    std::vector<std::uint32_t> words;
    std::size_t taken = 0;

    std::uint32_t operator()() {
        const std::uint32_t word = taken < words.size() ? words[taken] : 0u;
        ++taken;
        return word;
    }
};

// For odd ranges every low half of draw * range comes from exactly one draw,
// so the draws on both sides of the zone's edge can be chosen. The edge is the
// range shifted up to the top bit, less one.
TEST(BoundedDraw, TheWordOnTheZonesEdgeIsKeptAndTheOneAboveItRejected) {
    struct Edge {
        std::uint32_t range, last_kept_low_half;
    };
    constexpr std::array<Edge, 6> edges{{{1u, 0x7FFF'FFFFu},
                                         {3u, 0xBFFF'FFFFu},
                                         {5u, 0x9FFF'FFFFu},
                                         {1'000'001u, 0xF424'0FFFu},
                                         {0x8000'0001u, 0x8000'0000u},
                                         {0xFFFF'FFFFu, 0xFFFF'FFFEu}}};
    for (const auto [range, edge] : edges) {
        const std::uint32_t on_edge = edge * inverse(range);
        const std::uint32_t above_edge = (edge + 1u) * inverse(range);

        Words kept{{on_edge}};
        EXPECT_EQ(bounded_draw(range, kept), (std::uint64_t{on_edge} * range) >> 32) << range;
        EXPECT_EQ(kept.taken, 1u) << range;

        Words rejected{{above_edge}};
        EXPECT_EQ(bounded_draw(range, rejected), 0u) << range;
        EXPECT_EQ(rejected.taken, 2u) << range;
    }
}

TEST(BoundedDraw, RangeOneKeepsTheLowerHalfOfAllWordsOnly) {
    Words low{{0x7FFF'FFFFu}};
    EXPECT_EQ(bounded_draw(1u, low), 0u);
    EXPECT_EQ(low.taken, 1u);

    Words high{{0x8000'0000u, 0x7FFF'FFFFu}};
    EXPECT_EQ(bounded_draw(1u, high), 0u);
    EXPECT_EQ(high.taken, 2u);
}

}  // namespace
}  // namespace velmo
