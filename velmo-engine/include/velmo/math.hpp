// Degree-based arithmetic on the platform's double-precision math library.
#pragma once

#include <cstdint>

namespace velmo::math {

std::int32_t ceil(double x) noexcept;
std::int32_t floor(double x) noexcept;
double sgn(double x) noexcept;
double sqrt(double x) noexcept;
double sin(double deg) noexcept;
double cos(double deg) noexcept;
double atan2(double y, double x) noexcept;

}  // namespace velmo::math
