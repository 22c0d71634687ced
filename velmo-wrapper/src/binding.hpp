// Binding a call's arguments to a function's parameters (the conversion
// rules that turn each bound argument into a native value are in
// conversions.hpp).
//
// Both calling conventions reach the binder as one view of the call: an
// array of positional objects and the keywords, either the tuple
// convention's dictionary or the fast convention's names, whose values
// follow the positional ones. Every failure is thrown as a PythonError
// carrying exactly the exception the script sees; a fatal error raised while
// an argument converts itself (its `__float__` calling the module, say)
// propagates as FatalError.
#pragma once

#include <array>
#include <climits>
#include <cstddef>
#include <cstdint>
#include <string>
#include <type_traits>
#include <utility>

#include "errors.hpp"
#include "pyref.hpp"
#include "python.hpp"
#include "signature.hpp"

namespace velmo::py {

// The keyword arguments of a call, in the order the caller wrote them.
class Keywords {
public:
    // The tuple convention's dictionary, or null.
    static Keywords from_dict(PyObject* dict) noexcept { return Keywords(dict, nullptr, nullptr); }
    // The fast convention's tuple of names, or null, and the values that
    // follow the positional arguments.
    static Keywords from_names(PyObject* names, PyObject* const* values) noexcept {
        return Keywords(nullptr, names, values);
    }

    // A call with no keyword at all (an empty dictionary still counts as one
    // to look at: `f(**{})`).
    bool absent() const noexcept { return dict_ == nullptr && names_ == nullptr; }

    // The dictionary can be the caller's own (`f(**d)` passes it through on
    // some interpreters), and a conversion that runs Python code could empty
    // it while a slot still points into it: its values need references of
    // their own. The fast convention's values sit in the caller's frame.
    bool values_need_holding() const noexcept { return dict_ != nullptr; }

    // Calls `visit(key, value)` for each keyword, borrowed.
    template <typename Visit>
    void for_each(Visit&& visit) const {
        if (dict_ != nullptr) {
            Py_ssize_t position = 0;
            PyObject* key;
            PyObject* value;
            while (PyDict_Next(dict_, &position, &key, &value)) visit(key, value);
        } else if (names_ != nullptr) {
            Py_ssize_t count = PyTuple_Size(names_);
            for (Py_ssize_t i = 0; i < count; ++i) visit(PyTuple_GetItem(names_, i), values_[i]);
        }
    }

private:
    Keywords(PyObject* dict, PyObject* names, PyObject* const* values) noexcept
        : dict_(dict), names_(names), values_(values) {}

    PyObject* dict_;
    PyObject* names_;
    PyObject* const* values_;
};

// One call as both conventions present it to the binder.
struct CallArguments {
    // The first min(positional_count, parameter count) positional arguments.
    PyObject* const* positional;
    Py_ssize_t positional_count;
    Keywords keywords;
};

// One bound argument: the object, or null when its slot is empty, and the
// name of its parameter for the conversion's messages.
struct Argument {
    PyObject* object;
    const char* name;
};

// The slots of one call, one per parameter of `S`, in parameter order.
// Positional arguments are borrowed: the caller's tuple or array outlives the
// call. Keyword values that need it (`Keywords::values_need_holding`) are
// held until the slots are released.
template <const auto& S>
class Arguments {
public:
    static constexpr std::size_t size = std::remove_cvref_t<decltype(S)>::size;

    Arguments() noexcept = default;
    Arguments(Arguments&& other) noexcept
        : objects_(other.objects_), held_(std::exchange(other.held_, 0u)) {}
    Arguments& operator=(Arguments&&) = delete;
    ~Arguments() {
        if (held_ == 0) [[likely]]
            return;
        for (std::size_t i = 0; i < size; ++i) {
            if (held_ & (1u << i)) Py_DECREF(objects_[i]);
        }
    }

    Argument operator[](std::size_t i) const noexcept {
        return {objects_[i], S.parameter_names[i]};
    }

    PyObject** objects() noexcept { return objects_.data(); }
    unsigned& held() noexcept { return held_; }

private:
    static_assert(max_parameters <= sizeof(unsigned) * CHAR_BIT);

    std::array<PyObject*, size> objects_{};
    // One bit per slot that holds a reference of its own.
    unsigned held_ = 0;
};

// The rules for anything but every parameter given by position: fills
// `slots` and sets a bit in `held` for every value it took a reference to,
// even when binding fails later.
void bind_arguments(const SignatureView& signature, const CallArguments& call, PyObject** slots,
                    unsigned& held);

template <const auto& S>
Arguments<S> bind(const CallArguments& call) {
    Arguments<S> arguments;
    constexpr std::size_t n = Arguments<S>::size;
    // The common call, every parameter by position, needs none of the checks.
    if (call.positional_count == static_cast<Py_ssize_t>(n) && call.keywords.absent()) [[likely]] {
        for (std::size_t i = 0; i < n; ++i) arguments.objects()[i] = call.positional[i];
    } else {
        bind_arguments(S, call, arguments.objects(), arguments.held());
    }
    return arguments;
}

// The error a script sees for a failed conversion of parameter `param`: a
// TypeError (exactly that type) is reworded to name the parameter; every
// other error passes unchanged.
PythonError argument_error(const char* param, PythonError&& error);

// The pending error of a failed conversion of `param`, thrown.
[[noreturn, gnu::cold]] void conversion_failed(const char* param);

// The TypeError for `object` where the string rule wants a str.
PythonError not_a_string(PyObject* object);

// The `__qualname__` of `object`'s type, as used in conversion messages.
Ref type_name_of(PyObject* object);

}  // namespace velmo::py
