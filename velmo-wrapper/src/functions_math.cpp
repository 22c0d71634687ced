#include "binding.hpp"
#include "functions.hpp"
#include "velmo/math.hpp"
#include "velmo_singleton.hpp"

namespace velmo::py {
namespace {

constexpr const char* x_names[] = {"x"};
constexpr const char* deg_names[] = {"deg"};
constexpr const char* yx_names[] = {"y", "x"};

constexpr ArgumentSpec ceil_spec{"ceil", x_names, 1, 1};
constexpr ArgumentSpec floor_spec{"floor", x_names, 1, 1};
constexpr ArgumentSpec sgn_spec{"sgn", x_names, 1, 1};
constexpr ArgumentSpec sqrt_spec{"sqrt", x_names, 1, 1};
constexpr ArgumentSpec sin_spec{"sin", deg_names, 1, 1};
constexpr ArgumentSpec cos_spec{"cos", deg_names, 1, 1};
constexpr ArgumentSpec atan2_spec{"atan2", yx_names, 2, 2};

// The shape shared by the one-argument functions: convert, check for the
// Engine, compute, convert the result.
template <auto Compute, auto Result>
PyObject* unary(const ArgumentSpec& spec, PyObject* args, PyObject* kwargs) {
    return call_boundary([&] {
        auto slots = bind<1>(spec, args, kwargs);
        double value = to_double(slots[0], spec.parameter_names[0]);
        instance();
        return Result(Compute(value));
    });
}

}  // namespace

PyObject* ceil(PyObject*, PyObject* args, PyObject* kwargs) {
    return unary<math::ceil, from_int32>(ceil_spec, args, kwargs);
}

PyObject* floor(PyObject*, PyObject* args, PyObject* kwargs) {
    return unary<math::floor, from_int32>(floor_spec, args, kwargs);
}

PyObject* sgn(PyObject*, PyObject* args, PyObject* kwargs) {
    return unary<math::sgn, from_double>(sgn_spec, args, kwargs);
}

PyObject* sqrt(PyObject*, PyObject* args, PyObject* kwargs) {
    return unary<math::sqrt, from_double>(sqrt_spec, args, kwargs);
}

PyObject* sin(PyObject*, PyObject* args, PyObject* kwargs) {
    return unary<math::sin, from_double>(sin_spec, args, kwargs);
}

PyObject* cos(PyObject*, PyObject* args, PyObject* kwargs) {
    return unary<math::cos, from_double>(cos_spec, args, kwargs);
}

PyObject* atan2(PyObject*, PyObject* args, PyObject* kwargs) {
    return call_boundary([&] {
        auto slots = bind<2>(atan2_spec, args, kwargs);
        double y = to_double(slots[0], "y");
        double x = to_double(slots[1], "x");
        instance();
        return from_double(math::atan2(y, x));
    });
}

}  // namespace velmo::py
