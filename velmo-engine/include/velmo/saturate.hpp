// Integral doubles as signed integers, saturating at the bounds of the type.
#pragma once

#include <cmath>
#include <concepts>
#include <limits>

namespace velmo {

// An integral double (or NaN, or an infinity) as an `Int`, saturating at its
// bounds; NaN gives 0. The bound 2^(bits-1) is exact as a double, so the
// comparisons are exact.
template <std::signed_integral Int>
Int saturate_to(double integral) noexcept {
    constexpr double bound = -static_cast<double>(std::numeric_limits<Int>::min());
    if (std::isnan(integral)) return 0;
    if (integral >= bound) return std::numeric_limits<Int>::max();
    if (integral < -bound) return std::numeric_limits<Int>::min();
    return static_cast<Int>(integral);
}

}  // namespace velmo
