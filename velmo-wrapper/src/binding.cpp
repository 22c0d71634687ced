#include "binding.hpp"

#include "velmo/compat_texts.hpp"

namespace velmo::py {
namespace {

// A TypeError with a message made by PyUnicode_FromFormat. A message that
// could not be made leaves a MemoryError pending: that is the call's error then.
PythonError type_error(PyObject* message) {
    Ref owned = Ref::steal(message);
    if (!owned) return take_error();
    return new_error(PyExc_TypeError, owned.get());
}

PythonError too_many_positional(const SignatureView& signature, Py_ssize_t given) {
    const char* was = given == 1 ? "was" : "were";
    if (signature.required_count == signature.parameter_count) {
        return type_error(PyUnicode_FromFormat(texts::takes_positional, signature.function_name,
                                               signature.parameter_count, given, was));
    }
    return type_error(PyUnicode_FromFormat(texts::takes_positional_range, signature.function_name,
                                           signature.required_count, signature.parameter_count,
                                           given, was));
}

PythonError unexpected_keyword(const SignatureView& signature, PyObject* key) {
    Ref text = Ref::steal(PyObject_Str(key));
    if (!text) return take_error();
    return type_error(
        PyUnicode_FromFormat(texts::unexpected_keyword, signature.function_name, text.get()));
}

PythonError multiple_values(const SignatureView& signature, const char* name) {
    return type_error(PyUnicode_FromFormat(texts::multiple_values, signature.function_name, name));
}

// "'a'", "'a' and 'b'", "'a', 'b', and 'c'".
std::string join_missing_names(const SignatureView& signature, PyObject* const* slots,
                               std::size_t& count) {
    std::size_t missing[max_parameters];
    count = 0;
    for (std::size_t i = 0; i < signature.required_count; ++i) {
        if (slots[i] == nullptr) missing[count++] = i;
    }
    std::string list;
    for (std::size_t i = 0; i < count; ++i) {
        if (i > 0) list += count == 2 ? " and " : ", ";
        if (count > 2 && i == count - 1) list += "and ";
        list += '\'';
        list += signature.parameter_names[missing[i]];
        list += '\'';
    }
    return list;
}

PythonError missing_required(const SignatureView& signature, PyObject* const* slots) {
    std::size_t count = 0;
    std::string list = join_missing_names(signature, slots, count);
    return type_error(PyUnicode_FromFormat(texts::missing_required, signature.function_name, count,
                                           count == 1 ? "argument" : "arguments", list.c_str()));
}

// The index of the parameter named `key`, or the parameter count. Parameter
// names are ASCII, so comparing code points is comparing UTF-8 bytes, and a
// key that cannot be encoded matches no name.
std::size_t parameter_index(const SignatureView& signature, PyObject* key) {
    std::size_t index = 0;
    while (index < signature.parameter_count &&
           PyUnicode_CompareWithASCIIString(key, signature.parameter_names[index]) != 0) {
        ++index;
    }
    return index;
}

void bind_keywords(const SignatureView& signature, const Keywords& keywords, PyObject** slots,
                   unsigned& held) {
    bool hold = keywords.values_need_holding();
    keywords.for_each([&](PyObject* key, PyObject* value) {
        if (!PyUnicode_Check(key)) throw not_a_string(key);
        std::size_t index = parameter_index(signature, key);
        if (index == signature.parameter_count) throw unexpected_keyword(signature, key);
        if (slots[index] != nullptr) {
            throw multiple_values(signature, signature.parameter_names[index]);
        }
        if (hold) {
            Py_INCREF(value);
            held |= 1u << index;
        }
        slots[index] = value;
    });
}

}  // namespace

void bind_arguments(const SignatureView& signature, const CallArguments& call, PyObject** slots,
                    unsigned& held) {
    std::size_t given = static_cast<std::size_t>(call.positional_count);
    std::size_t copied = given < signature.parameter_count ? given : signature.parameter_count;
    for (std::size_t i = 0; i < copied; ++i) slots[i] = call.positional[i];
    if (given > signature.parameter_count) {
        throw too_many_positional(signature, call.positional_count);
    }
    bind_keywords(signature, call.keywords, slots, held);
    for (std::size_t i = given; i < signature.required_count; ++i) {
        if (slots[i] == nullptr) throw missing_required(signature, slots);
    }
}

PythonError argument_error(const char* param, PythonError&& error) {
    if (error.type() != PyExc_TypeError) return std::move(error);
    // A TypeError without even a message object is one whose message the
    // interpreter could not make (3.8 leaves it so when memory runs out).
    if (error.value() == nullptr) {
        PyErr_NoMemory();
        return take_error();
    }
    PyObject* value = error.normalized_value();
    // Out of memory, normalising turns the error into a MemoryError; its empty
    // text must not become the text of a TypeError.
    if (error.type() != PyExc_TypeError) return std::move(error);
    Ref text = Ref::steal(PyObject_Str(value));
    if (!text) return take_error();
    Ref message = Ref::steal(PyUnicode_FromFormat(texts::argument_type_error, param, text.get()));
    if (!message) return take_error();
    PythonError reworded = new_error(PyExc_TypeError, message.get());
    // The new error keeps the original's cause but not the original itself.
    // A MemoryError in its place is the interpreter's own and stays untouched.
    if (reworded.type() == PyExc_TypeError) {
        PyException_SetCause(reworded.normalized_value(), PyException_GetCause(value));
    }
    return reworded;
}

void conversion_failed(const char* param) { throw argument_error(param, take_error()); }

PythonError not_a_string(PyObject* object) {
    Ref name = type_name_of(object);
    return type_error(PyUnicode_FromFormat(texts::not_a_string, name.get()));
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

}  // namespace velmo::py
