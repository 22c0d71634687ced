// Binding a call's arguments to a function's parameters, and the conversion
// rules that turn each bound argument into a native value.
//
// Every failure is thrown as a PythonError carrying exactly the exception the
// script sees; a fatal error raised while an argument converts itself (its
// `__float__` calling the module, say) propagates as FatalError.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <utility>

#include "errors.hpp"
#include "pyref.hpp"
#include "python.hpp"

namespace velmo::py {

struct ArgumentSpec {
    const char* function_name;
    const char* const* parameter_names;
    std::size_t parameter_count;
    std::size_t required_count;
};

// One reference per parameter, null while a slot is empty. Positional
// arguments are borrowed from the call's tuple, which cannot change during
// the call. Keyword arguments are held: the dictionary can be the caller's own
// (`f(**d)` passes it through on some interpreters), and a conversion that
// runs Python code could empty it while later slots still point into it.
template <std::size_t N>
class Slots {
public:
    Slots() noexcept = default;
    Slots(Slots&& other) noexcept
        : objects_(other.objects_), held_(std::exchange(other.held_, 0u)) {}
    Slots& operator=(Slots&&) = delete;
    ~Slots() {
        if (held_ == 0) [[likely]]
            return;
        for (std::size_t i = 0; i < N; ++i) {
            if (held_ & (1u << i)) Py_DECREF(objects_[i]);
        }
    }

    PyObject* operator[](std::size_t i) const noexcept { return objects_[i]; }

private:
    template <std::size_t M>
    friend Slots<M> bind(const struct ArgumentSpec&, PyObject*, PyObject*);

    std::array<PyObject*, N> objects_{};
    // One bit per slot that holds a reference of its own.
    unsigned held_ = 0;
};

// Fills `slots` (spec.parameter_count of them) from the positional tuple and
// the keyword dictionary (which may be null). Every keyword-bound object gets
// a reference of its own, and its bit is set in `held`, even when binding
// fails later.
void bind_arguments(const ArgumentSpec& spec, PyObject* args, PyObject* kwargs, PyObject** slots,
                    unsigned& held);

template <std::size_t N>
Slots<N> bind(const ArgumentSpec& spec, PyObject* args, PyObject* kwargs) {
    static_assert(N <= sizeof(unsigned) * 8);
    Slots<N> slots;
    // The common call, every parameter by position, needs none of the checks.
    if (kwargs == nullptr && PyTuple_Size(args) == static_cast<Py_ssize_t>(N)) [[likely]] {
        for (std::size_t i = 0; i < N; ++i) {
            slots.objects_[i] = PyTuple_GetItem(args, static_cast<Py_ssize_t>(i));
        }
    } else {
        bind_arguments(spec, args, kwargs, slots.objects_.data(), slots.held_);
    }
    return slots;
}

// The error a script sees for a failed conversion of parameter `param`: a
// TypeError (exactly that type) is reworded to name the parameter; every
// other error passes unchanged.
PythonError argument_error(const char* param, PythonError&& error);

// The pending error of a failed conversion of `param`, thrown.
[[noreturn, gnu::cold]] void conversion_failed(const char* param);

// Conversion rules. `param` names the parameter in reworded errors.
inline double to_double(PyObject* argument, const char* param) {
    double value = PyFloat_AsDouble(argument);
    if (value == -1.0 && PyErr_Occurred()) [[unlikely]]
        conversion_failed(param);
    return value;
}

inline double to_optional_double(PyObject* argument, const char* param) {
    if (argument == nullptr || argument == Py_None) return 0.0;
    return to_double(argument, param);
}

std::int32_t to_int32(PyObject* argument, const char* param);
std::uint32_t to_uint32(PyObject* argument, const char* param);
std::optional<std::uint32_t> to_optional_uint32(PyObject* argument, const char* param);
std::string to_utf8(PyObject* argument, const char* param);

// Result kinds.
inline PyObject* from_int32(std::int32_t value) { return checked(PyLong_FromLong(value)); }
inline PyObject* from_double(double value) { return checked(PyFloat_FromDouble(value)); }
PyObject* from_bool(bool value) noexcept;
PyObject* none() noexcept;

// The `__qualname__` of `object`'s type, as used in conversion messages.
Ref type_name_of(PyObject* object);

}  // namespace velmo::py
