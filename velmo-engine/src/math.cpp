#include "velmo/math.hpp"

// Placeholder until the math functions land.
namespace velmo::math {
std::int32_t ceil(double) noexcept { return 0; }
std::int32_t floor(double) noexcept { return 0; }
double sgn(double) noexcept { return 0; }
double sqrt(double) noexcept { return 0; }
double sin(double) noexcept { return 0; }
double cos(double) noexcept { return 0; }
double atan2(double, double) noexcept { return 0; }
}  // namespace velmo::math
