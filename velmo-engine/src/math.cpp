#include "velmo/math.hpp"

#include "velmo/saturate.hpp"

#include <cmath>
#include <cstdint>
#include <limits>

namespace velmo::math {

std::int32_t ceil(double x) noexcept { return saturate_to<std::int32_t>(std::ceil(x)); }

std::int32_t floor(double x) noexcept { return saturate_to<std::int32_t>(std::floor(x)); }

double sgn(double x) noexcept {
    if (x > 0.0) return 1.0;
    if (x < 0.0) return -1.0;
    return 0.0;
}

double sqrt(double x) noexcept {
    // Both zeros give the largest finite double, not 0.0: scripts rely on
    // this exact value.
    if (x == 0.0) return std::numeric_limits<double>::max();
    return std::sqrt(x);
}

// Degrees to radians as two rounded steps: multiplying by a folded pi / 180
// would change the last bit of many results.
static double to_radians(double deg) noexcept {
    double scaled = deg * pi;
    double radians = scaled / 180.0;
    return radians;
}

double sin(double deg) noexcept { return std::sin(to_radians(deg)); }

double cos(double deg) noexcept { return std::cos(to_radians(deg)); }

double atan2(double y, double x) noexcept {
    double radians = std::atan2(y, x);
    double scaled = radians * 180.0;
    double degrees = scaled / pi;
    return degrees;
}

}  // namespace velmo::math
