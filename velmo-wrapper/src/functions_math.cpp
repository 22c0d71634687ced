#include "functions.hpp"
#include "velmo/math.hpp"
#include "velmo_singleton.hpp"

namespace velmo::py {
namespace {

// The shape shared by the one-argument functions: convert, check for the
// Engine, compute, convert the result.
template <auto Compute, auto Result, const auto& S>
PyObject* unary(const Arguments<S>& arguments) {
    double value = to_double(arguments[0]);
    require_engine();
    return Result(Compute(value));
}

PyObject* atan2_body(const Arguments<atan2_signature>& arguments) {
    double y = to_double(arguments[0]);
    double x = to_double(arguments[1]);
    require_engine();
    return from_double(math::atan2(y, x));
}

// The records of a one-argument function, whose body is `unary`.
template <const auto& S, auto Compute, auto Result>
MethodRecords unary_records() noexcept {
    return method_records<S, unary<Compute, Result, S>>();
}

}  // namespace

MethodRecords ceil_methods() noexcept {
    return unary_records<ceil_signature, math::ceil, from_int32>();
}

MethodRecords floor_methods() noexcept {
    return unary_records<floor_signature, math::floor, from_int32>();
}

MethodRecords sgn_methods() noexcept {
    return unary_records<sgn_signature, math::sgn, from_double>();
}

MethodRecords sqrt_methods() noexcept {
    return unary_records<sqrt_signature, math::sqrt, from_double>();
}

MethodRecords sin_methods() noexcept {
    return unary_records<sin_signature, math::sin, from_double>();
}

MethodRecords cos_methods() noexcept {
    return unary_records<cos_signature, math::cos, from_double>();
}

MethodRecords atan2_methods() noexcept { return method_records<atan2_signature, atan2_body>(); }

}  // namespace velmo::py
