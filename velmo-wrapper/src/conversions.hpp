// The conversion rules that turn a bound argument into a native value, and
// the result kinds that turn a native value into the object returned. A
// failed conversion is thrown as its argument's PythonError (binding.hpp).
#pragma once

#include <cstdint>
#include <optional>

#include "binding.hpp"
#include "errors.hpp"
#include "pyref.hpp"
#include "python.hpp"

namespace velmo::py {

#ifdef PYPY_VERSION
// The float rule's last step, which PyPy's PyFloat_AsDouble lacks: an object
// without __float__ converts through __index__. Called with the failed
// conversion's error pending.
[[gnu::cold]] double index_as_double(Argument argument);
// A float subclass's own value. PyPy 7.3's PyFloat_AsDouble calls the
// subclass's __float__, where CPython's reads the value.
[[gnu::cold]] double float_subclass_value(Argument argument);
#endif

// Conversion rules.
inline double to_double(Argument argument) {
#ifdef PYPY_VERSION
    if (PyFloat_Check(argument.object) && !PyFloat_CheckExact(argument.object)) [[unlikely]]
        return float_subclass_value(argument);
#endif
    double value = PyFloat_AsDouble(argument.object);
    if (value == -1.0 && PyErr_Occurred()) [[unlikely]] {
#ifdef PYPY_VERSION
        return index_as_double(argument);
#else
        conversion_failed(argument.name);
#endif
    }
    return value;
}

inline double to_optional_double(Argument argument) {
    if (argument.object == nullptr || argument.object == Py_None) return 0.0;
    return to_double(argument);
}

std::int32_t to_int32(Argument argument);
std::uint32_t to_uint32(Argument argument);
std::optional<std::uint32_t> to_optional_uint32(Argument argument);
// The string rule's checks, for a text that is not needed.
void check_utf8(Argument argument);

// Result kinds.
inline PyObject* from_int32(std::int32_t value) { return checked(PyLong_FromLong(value)); }
inline PyObject* from_double(double value) { return checked(PyFloat_FromDouble(value)); }
PyObject* from_bool(bool value) noexcept;
PyObject* none() noexcept;

}  // namespace velmo::py
