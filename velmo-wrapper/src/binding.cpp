#include "binding.hpp"

#include <climits>

#include "velmo/compat_texts.hpp"

namespace velmo::py {
namespace {

// A message that could not be made leaves a MemoryError pending: that is
// the call's error then.
[[noreturn]] void type_error(PyObject* message) {
    Ref owned = Ref::steal(message);
    if (!owned) throw_pending();
    throw new_error(PyExc_TypeError, owned.get());
}

[[noreturn]] void too_many_positional(const ArgumentSpec& spec, Py_ssize_t given) {
    const char* was = given == 1 ? "was" : "were";
    if (spec.required_count == spec.parameter_count) {
        type_error(PyUnicode_FromFormat("%s() takes %zu positional arguments but %zd %s given",
                                        spec.function_name, spec.parameter_count, given, was));
    }
    type_error(PyUnicode_FromFormat(
        "%s() takes from %zu to %zu positional arguments but %zd %s given", spec.function_name,
        spec.required_count, spec.parameter_count, given, was));
}

[[noreturn]] void not_a_string(PyObject* object) {
    Ref name = type_name_of(object);
    type_error(PyUnicode_FromFormat(texts::not_a_string, name.get()));
}

[[noreturn]] void unexpected_keyword(const ArgumentSpec& spec, PyObject* key) {
    Ref text = Ref::steal(PyObject_Str(key));
    if (!text) throw_pending();
    type_error(PyUnicode_FromFormat("%s() got an unexpected keyword argument '%U'",
                                    spec.function_name, text.get()));
}

[[noreturn]] void multiple_values(const ArgumentSpec& spec, const char* name) {
    type_error(PyUnicode_FromFormat("%s() got multiple values for argument '%s'",
                                    spec.function_name, name));
}

// "'a'", "'a' and 'b'", "'a', 'b', and 'c'".
std::string join_names(const ArgumentSpec& spec, PyObject* const* slots, std::size_t& count) {
    std::string list;
    std::size_t missing[8];
    count = 0;
    for (std::size_t i = 0; i < spec.required_count; ++i) {
        if (slots[i] == nullptr) missing[count++] = i;
    }
    for (std::size_t i = 0; i < count; ++i) {
        if (i > 0) list += count == 2 ? " and " : ", ";
        if (count > 2 && i == count - 1) list += "and ";
        list += '\'';
        list += spec.parameter_names[missing[i]];
        list += '\'';
    }
    return list;
}

[[noreturn]] void missing_required(const ArgumentSpec& spec, PyObject* const* slots) {
    std::size_t count = 0;
    std::string list = join_names(spec, slots, count);
    type_error(PyUnicode_FromFormat("%s() missing %zu required positional %s: %s",
                                    spec.function_name, count,
                                    count == 1 ? "argument" : "arguments", list.c_str()));
}

void bind_keywords(const ArgumentSpec& spec, PyObject* kwargs, PyObject** slots, unsigned& held) {
    Py_ssize_t position = 0;
    PyObject* key;
    PyObject* value;
    while (PyDict_Next(kwargs, &position, &key, &value)) {
        if (!PyUnicode_Check(key)) not_a_string(key);
        // Parameter names are ASCII, so comparing code points is comparing
        // UTF-8 bytes, and a key that cannot be encoded matches no name.
        std::size_t index = 0;
        while (index < spec.parameter_count &&
               PyUnicode_CompareWithASCIIString(key, spec.parameter_names[index]) != 0) {
            ++index;
        }
        if (index == spec.parameter_count) unexpected_keyword(spec, key);
        if (slots[index] != nullptr) multiple_values(spec, spec.parameter_names[index]);
        Py_INCREF(value);
        held |= 1u << index;
        slots[index] = value;
    }
}

}  // namespace

void bind_arguments(const ArgumentSpec& spec, PyObject* args, PyObject* kwargs, PyObject** slots,
                    unsigned& held) {
    Py_ssize_t given = PyTuple_Size(args);
    std::size_t positional = static_cast<std::size_t>(given);
    std::size_t copied = positional < spec.parameter_count ? positional : spec.parameter_count;
    for (std::size_t i = 0; i < copied; ++i) {
        slots[i] = PyTuple_GetItem(args, static_cast<Py_ssize_t>(i));
    }
    if (positional > spec.parameter_count) too_many_positional(spec, given);
    if (kwargs != nullptr) bind_keywords(spec, kwargs, slots, held);
    if (positional < spec.required_count) {
        for (std::size_t i = positional; i < spec.required_count; ++i) {
            if (slots[i] == nullptr) missing_required(spec, slots);
        }
    }
}

PythonError argument_error(const char* param, PythonError&& error) {
    if (error.type() != PyExc_TypeError) return std::move(error);
    // A TypeError without even a message object is one whose message the
    // interpreter could not make (3.8 leaves it so when memory runs out).
    if (error.value() == nullptr) {
        PyErr_NoMemory();
        throw_pending();
    }
    PyObject* value = error.normalized_value();
    // Out of memory, normalising turns the error into a MemoryError; its empty
    // text must not become the text of a TypeError.
    if (error.type() != PyExc_TypeError) return std::move(error);
    Ref text = Ref::steal(PyObject_Str(value));
    if (!text) throw_pending();
    Ref message = Ref::steal(PyUnicode_FromFormat("argument '%s': %U", param, text.get()));
    if (!message) throw_pending();
    PythonError reworded = new_error(PyExc_TypeError, message.get());
    // The new error keeps the original's cause but not the original itself.
    // A MemoryError in its place is the interpreter's own and stays untouched.
    if (reworded.type() == PyExc_TypeError) {
        PyException_SetCause(reworded.normalized_value(), PyException_GetCause(value));
    }
    return reworded;
}

void conversion_failed(const char* param) { throw argument_error(param, take_error()); }

namespace {

// PyNumber_Index, with its failure as the argument's error. An exact int is
// its own index: it is returned borrowed, with `owner` left empty, which
// gives the same value and errors and spares a common call two API calls.
PyObject* index_of(PyObject* argument, const char* param, Ref& owner) {
    if (PyLong_CheckExact(argument)) return argument;
    owner = Ref::steal(PyNumber_Index(argument));
    if (!owner) [[unlikely]]
        conversion_failed(param);
    return owner.get();
}

}  // namespace

std::int32_t to_int32(PyObject* argument, const char* param) {
    Ref owner;
    PyObject* integer = index_of(argument, param, owner);
    // Where `long` has 32 bits its own overflow is the range check; where it
    // is wider the same error is raised here, with the interpreter's wording.
    long value = PyLong_AsLong(integer);
    if (value == -1 && PyErr_Occurred()) [[unlikely]]
        conversion_failed(param);
    if constexpr (sizeof(long) > sizeof(std::int32_t)) {
        if (value < INT32_MIN || value > INT32_MAX) [[unlikely]]
            throw new_error(PyExc_OverflowError, "Python int too large to convert to C long");
    }
    return static_cast<std::int32_t>(value);
}

std::uint32_t to_uint32(PyObject* argument, const char* param) {
    Ref owner;
    unsigned long long value = PyLong_AsUnsignedLongLong(index_of(argument, param, owner));
    if (value == static_cast<unsigned long long>(-1) && PyErr_Occurred()) [[unlikely]]
        conversion_failed(param);
    if (value > UINT32_MAX) [[unlikely]]
        throw new_error(PyExc_OverflowError, "out of range integral type conversion attempted");
    return static_cast<std::uint32_t>(value);
}

std::optional<std::uint32_t> to_optional_uint32(PyObject* argument, const char* param) {
    if (argument == nullptr || argument == Py_None) return std::nullopt;
    return to_uint32(argument, param);
}

std::string to_utf8(PyObject* argument, const char* param) {
    if (!(PyType_GetFlags(Py_TYPE(argument)) & Py_TPFLAGS_UNICODE_SUBCLASS)) {
        try {
            not_a_string(argument);
        } catch (PythonError& error) {
            throw argument_error(param, std::move(error));
        }
    }
    Ref bytes = Ref::steal(PyUnicode_AsUTF8String(argument));
    if (!bytes) conversion_failed(param);
    char* data = nullptr;
    Py_ssize_t size = 0;
    if (PyBytes_AsStringAndSize(bytes.get(), &data, &size) < 0) throw_pending();
    return std::string(data, static_cast<std::size_t>(size));
}

Ref type_name_of(PyObject* object) {
    Ref name = Ref::steal(
        PyObject_GetAttrString(reinterpret_cast<PyObject*>(Py_TYPE(object)), "__qualname__"));
    if (name && PyUnicode_Check(name.get())) return name;
    // Dropped, unless it is a fatal error coming back out of Python code, or
    // a lack of memory that would fail the error being made anyway.
    if (!name) {
        PythonError error = take_error();
        if (error.matches(PyExc_MemoryError)) throw std::move(error);
    }
    Ref fallback = Ref::steal(PyUnicode_FromString(texts::unknown_type_name));
    if (!fallback) throw_pending();
    return fallback;
}

PyObject* from_bool(bool value) noexcept { return PyBool_FromLong(value); }

PyObject* none() noexcept {
    Py_INCREF(Py_None);
    return Py_None;
}

}  // namespace velmo::py
