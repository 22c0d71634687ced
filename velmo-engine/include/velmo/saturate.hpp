// Doubles as integers, truncated toward zero and saturating at the bounds of
// the type.
#pragma once

#include <cmath>
#include <concepts>
#include <limits>

namespace velmo {

// `value` truncated toward zero as an `Int`, saturating at its bounds; NaN
// gives 0. Both bounds are exact as doubles: the lowest is 0 or -2^(bits-1),
// and 2^digits lies just past the highest. So the comparisons are exact, and
// everything between them truncates into range.
template <std::integral Int>
Int saturate_to(double value) noexcept {
    using limits = std::numeric_limits<Int>;
    constexpr double past_highest = 2.0 * static_cast<double>(Int{1} << (limits::digits - 1));
    constexpr double lowest = static_cast<double>(limits::min());
    if (std::isnan(value)) return 0;
    if (value >= past_highest) return limits::max();
    if (value <= lowest) return limits::min();
    return static_cast<Int>(value);
}

}  // namespace velmo
