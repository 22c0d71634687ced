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

}  // namespace

PyObject* ceil(const Arguments<ceil_signature>& arguments) {
    return unary<math::ceil, from_int32>(arguments);
}

PyObject* floor(const Arguments<floor_signature>& arguments) {
    return unary<math::floor, from_int32>(arguments);
}

PyObject* sgn(const Arguments<sgn_signature>& arguments) {
    return unary<math::sgn, from_double>(arguments);
}

PyObject* sqrt(const Arguments<sqrt_signature>& arguments) {
    return unary<math::sqrt, from_double>(arguments);
}

PyObject* sin(const Arguments<sin_signature>& arguments) {
    return unary<math::sin, from_double>(arguments);
}

PyObject* cos(const Arguments<cos_signature>& arguments) {
    return unary<math::cos, from_double>(arguments);
}

PyObject* atan2(const Arguments<atan2_signature>& arguments) {
    double y = to_double(arguments[0]);
    double x = to_double(arguments[1]);
    require_engine();
    return from_double(math::atan2(y, x));
}

}  // namespace velmo::py
