// Degree-based arithmetic on the platform's double-precision math library.
//
// Every function is a pure function of its arguments; all of them are total
// (NaN and the infinities included) and none can fail.
#pragma once

#include <cstdint>

#include "velmo/exact_float.hpp"

namespace velmo::math {

// The double 3.141592653589793 (0x400921FB54442D18).
inline constexpr double pi = 3.141592653589793;

// Rounded up or down, then saturated to the signed 32-bit range; NaN gives 0.
std::int32_t ceil(double x) noexcept;
std::int32_t floor(double x) noexcept;
// 1.0, -1.0, or +0.0 for both zeros and NaN.
double sgn(double x) noexcept;
// The IEEE square root, except that both zeros give the largest finite double.
double sqrt(double x) noexcept;
double sin(double deg) noexcept;
double cos(double deg) noexcept;
// The angle of the point (x, y) in degrees, in [-180, 180].
double atan2(double y, double x) noexcept;

}  // namespace velmo::math
