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

#include "errors.hpp"
#include "python.hpp"

namespace velmo::py {

struct ArgumentSpec {
    const char* function_name;
    const char* const* parameter_names;
    std::size_t parameter_count;
    std::size_t required_count;
};

// One borrowed reference per parameter, null while a slot is empty.
template <std::size_t N>
using Slots = std::array<PyObject*, N>;

// Fills `slots` (spec.parameter_count of them) from the positional tuple and
// the keyword dictionary (which may be null).
void bind_arguments(const ArgumentSpec& spec, PyObject* args, PyObject* kwargs, PyObject** slots);

// The bound arguments of one call. Positional ones are borrowed from the
// caller's tuple, which cannot change. Keyword ones are held: a caller of the
// C API may pass a dictionary of its own, which a conversion running Python
// code could empty while later arguments still wait to be converted.
template <std::size_t N>
struct BoundArguments {
    Slots<N> slots{};
    std::array<Ref, N> held{};

    PyObject* operator[](std::size_t index) const noexcept { return slots[index]; }
};

template <std::size_t N>
BoundArguments<N> bind(const ArgumentSpec& spec, PyObject* args, PyObject* kwargs) {
    BoundArguments<N> bound;
    bind_arguments(spec, args, kwargs, bound.slots.data());
    if (kwargs != nullptr) {
        for (std::size_t i = 0; i < N; ++i) bound.held[i] = Ref::borrow(bound.slots[i]);
    }
    return bound;
}

// The error a script sees for a failed conversion of parameter `param`: a
// TypeError (exactly that type) is reworded to name the parameter; every
// other error passes unchanged.
PythonError argument_error(const char* param, PythonError&& error);

// Conversion rules. `param` names the parameter in reworded errors.
double to_double(PyObject* argument, const char* param);
double to_optional_double(PyObject* argument, const char* param);
std::int32_t to_int32(PyObject* argument, const char* param);
std::uint32_t to_uint32(PyObject* argument, const char* param);
std::optional<std::uint32_t> to_optional_uint32(PyObject* argument, const char* param);
std::string to_utf8(PyObject* argument, const char* param);

// Result kinds.
PyObject* from_int32(std::int32_t value);
PyObject* from_double(double value);
PyObject* from_bool(bool value) noexcept;
PyObject* none() noexcept;

// The `__qualname__` of `object`'s type, as used in conversion messages.
Ref type_name_of(PyObject* object);

}  // namespace velmo::py
