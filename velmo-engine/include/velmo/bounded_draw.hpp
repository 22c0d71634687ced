// Unbiased bounded draws from a generator of uniform 32-bit words.
#pragma once

#include <bit>
#include <cstdint>

namespace velmo {

// A uniform value in [0, range), range > 0, from the draws of `next` (each a
// uniform 32-bit word): the high half of the widening product draw * range.
// A draw whose low half lands above `zone` would bias the high half, so it is
// rejected and drawn again; at most half of all draws are.
template <class NextWord>
std::uint32_t bounded_draw(std::uint32_t range, NextWord&& next) noexcept {
    const std::uint32_t zone = (range << std::countl_zero(range)) - 1u;
    for (;;) {
        const std::uint64_t m = std::uint64_t{next()} * range;
        if (static_cast<std::uint32_t>(m) <= zone) return static_cast<std::uint32_t>(m >> 32);
    }
}

}  // namespace velmo
