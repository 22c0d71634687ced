#include "conversions.hpp"

#include <utility>

#include "velmo/compat_texts.hpp"

namespace velmo::py {

namespace {

#ifdef PYPY_VERSION
// `integer`, an int or an int subclass, as an exact int of its value. PyPy's
// PyLong_AsDouble calls an int subclass's __float__ and its PyLong_AsLong the
// subclass's __int__ (for values past 64 bits), where CPython's read the
// value; so do PyPy's int.__index__, int.__int__ and int.__pos__, but int's
// own addition reads the value.
Ref exact_int(Argument argument, Ref integer) {
    if (PyLong_CheckExact(integer.get())) return integer;
    Ref exact = Ref::steal(PyObject_CallMethod(reinterpret_cast<PyObject*>(&PyLong_Type), "__add__",
                                               "Oi", integer.get(), 0));
    if (!exact) conversion_failed(argument.name);
    return exact;
}
#endif

// PyNumber_Index, with its failure as the argument's error. An exact int is
// its own index: it is returned borrowed, with `owner` left empty, which
// gives the same value and errors and spares a common call two API calls.
PyObject* index_of(Argument argument, Ref& owner) {
    if (PyLong_CheckExact(argument.object)) return argument.object;
    owner = Ref::steal(PyNumber_Index(argument.object));
    if (!owner) [[unlikely]]
        conversion_failed(argument.name);
#ifdef PYPY_VERSION
    owner = exact_int(argument, std::move(owner));
#endif
    return owner.get();
}

// The argument as UTF-8 bytes, after the string rule's type check.
Ref utf8_bytes(Argument argument) {
    if (!(PyType_GetFlags(Py_TYPE(argument.object)) & Py_TPFLAGS_UNICODE_SUBCLASS)) {
        throw argument_error(argument.name, not_a_string(argument.object));
    }
    Ref bytes = Ref::steal(PyUnicode_AsUTF8String(argument.object));
    if (!bytes) conversion_failed(argument.name);
    return bytes;
}

}  // namespace

#ifdef PYPY_VERSION
double index_as_double(Argument argument) {
    PyObject* type = reinterpret_cast<PyObject*>(Py_TYPE(argument.object));
    if (!PyErr_ExceptionMatches(PyExc_TypeError) || PyObject_HasAttrString(type, "__float__") ||
        !PyIndex_Check(argument.object)) {
        conversion_failed(argument.name);
    }
    PyErr_Clear();
    Ref index = Ref::steal(PyNumber_Index(argument.object));
    if (!index) conversion_failed(argument.name);
    Ref integer = exact_int(argument, std::move(index));
    double value = PyLong_AsDouble(integer.get());
    if (value == -1.0 && PyErr_Occurred()) conversion_failed(argument.name);
    return value;
}

double float_subclass_value(Argument argument) { return PyFloat_AS_DOUBLE(argument.object); }
#endif

std::int32_t to_int32(Argument argument) {
    Ref owner;
    PyObject* integer = index_of(argument, owner);
    // Where `long` has 32 bits its own overflow is the range check; where it
    // is wider the same error is raised here, with the interpreter's wording.
    long value = PyLong_AsLong(integer);
    if (value == -1 && PyErr_Occurred()) [[unlikely]]
        conversion_failed(argument.name);
    if constexpr (sizeof(long) > sizeof(std::int32_t)) {
        if (value < INT32_MIN || value > INT32_MAX) [[unlikely]]
            throw new_error(PyExc_OverflowError, texts::int32_overflow);
    }
    return static_cast<std::int32_t>(value);
}

std::uint32_t to_uint32(Argument argument) {
    Ref owner;
    unsigned long long value = PyLong_AsUnsignedLongLong(index_of(argument, owner));
    if (value == static_cast<unsigned long long>(-1) && PyErr_Occurred()) [[unlikely]]
        conversion_failed(argument.name);
    if (value > UINT32_MAX) [[unlikely]]
        throw new_error(PyExc_OverflowError, texts::out_of_range_conversion);
    return static_cast<std::uint32_t>(value);
}

std::optional<std::uint32_t> to_optional_uint32(Argument argument) {
    if (argument.object == nullptr || argument.object == Py_None) return std::nullopt;
    return to_uint32(argument);
}

void check_utf8(Argument argument) { utf8_bytes(argument); }

PyObject* from_bool(bool value) noexcept { return PyBool_FromLong(value); }

PyObject* none() noexcept {
    Py_INCREF(Py_None);
    return Py_None;
}

}  // namespace velmo::py
