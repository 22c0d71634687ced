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

PyObject* ceil_body(const Arguments<ceil_signature>& arguments) {
    return unary<math::ceil, from_int32>(arguments);
}

PyObject* floor_body(const Arguments<floor_signature>& arguments) {
    return unary<math::floor, from_int32>(arguments);
}

PyObject* sgn_body(const Arguments<sgn_signature>& arguments) {
    return unary<math::sgn, from_double>(arguments);
}

PyObject* sqrt_body(const Arguments<sqrt_signature>& arguments) {
    return unary<math::sqrt, from_double>(arguments);
}

PyObject* sin_body(const Arguments<sin_signature>& arguments) {
    return unary<math::sin, from_double>(arguments);
}

PyObject* cos_body(const Arguments<cos_signature>& arguments) {
    return unary<math::cos, from_double>(arguments);
}

PyObject* atan2_body(const Arguments<atan2_signature>& arguments) {
    double y = to_double(arguments[0]);
    double x = to_double(arguments[1]);
    require_engine();
    return from_double(math::atan2(y, x));
}

}  // namespace

MethodRecords ceil_methods() noexcept { return method_records<ceil_signature, ceil_body>(); }

MethodRecords floor_methods() noexcept { return method_records<floor_signature, floor_body>(); }

MethodRecords sgn_methods() noexcept { return method_records<sgn_signature, sgn_body>(); }

MethodRecords sqrt_methods() noexcept { return method_records<sqrt_signature, sqrt_body>(); }

MethodRecords sin_methods() noexcept { return method_records<sin_signature, sin_body>(); }

MethodRecords cos_methods() noexcept { return method_records<cos_signature, cos_body>(); }

MethodRecords atan2_methods() noexcept { return method_records<atan2_signature, atan2_body>(); }

}  // namespace velmo::py
