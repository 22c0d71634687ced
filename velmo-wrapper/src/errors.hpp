// Python errors below the call boundary, and the boundary itself.
//
// Code below the boundary never leaves an exception set in the interpreter:
// it takes it out with `take_error` and throws it as a `PythonError`, or
// throws `FatalError`. `call_boundary` catches both and hands the interpreter
// exactly one exception.
#pragma once

#include <string_view>
#include <utility>

#include "pyref.hpp"
#include "python.hpp"
#include "velmo/fatal.hpp"

namespace velmo::py {

// A Python exception taken out of the interpreter's error state: a value
// that is put back exactly once, by `restore`.
class PythonError {
public:
    PythonError(PyObject* type, PyObject* value, PyObject* traceback) noexcept
        : type_(type), value_(value), traceback_(traceback) {}
    PythonError(PythonError&& other) noexcept
        : type_(std::exchange(other.type_, nullptr)),
          value_(std::exchange(other.value_, nullptr)),
          traceback_(std::exchange(other.traceback_, nullptr)) {}
    PythonError& operator=(PythonError&&) = delete;
    PythonError(const PythonError&) = delete;
    ~PythonError();

    PyObject* type() const noexcept { return type_; }
    // The value as taken, before any normalisation: may be null.
    PyObject* value() const noexcept { return value_; }
    // Normalises the exception in place and returns its value (borrowed).
    PyObject* normalized_value() noexcept;
    bool matches(PyObject* exception_type) const noexcept;
    // Makes this the interpreter's current exception again.
    void restore() && noexcept;

private:
    PyObject* type_;
    PyObject* value_;
    PyObject* traceback_;
};

// Takes the pending exception out of the interpreter, as it is.
PythonError fetch_error() noexcept;

// Takes the pending exception out of the interpreter, where every Python
// error the module collects goes through. Throws FatalError when the
// exception is a PanicException (the type itself, not a subclass): that is a
// fatal error coming back out of Python code, printed with a notice and then
// continued. When nothing is pending, the result is a SystemError saying so.
PythonError take_error();

// `take_error`, thrown.
[[noreturn]] void throw_pending();

// A new exception of `type` whose single argument is `message`; a
// MemoryError when there is no memory to make it.
PythonError new_error(PyObject* type, PyObject* message) noexcept;
PythonError new_error(PyObject* type, std::string_view message);

// The interpreter failed to make an object that cannot fail in normal
// operation: prints the pending error and fails fatally.
[[noreturn]] void api_call_failed(
    const std::source_location& where = std::source_location::current());

// Checks the result of an object-creating API call.
inline PyObject* checked(PyObject* object,
                         const std::source_location& where = std::source_location::current()) {
    if (object == nullptr) [[unlikely]]
        api_call_failed(where);
    return object;
}

// Sets the interpreter's exception for the C++ exception being handled: a
// PythonError as it is, a FatalError as a PanicException, a failed
// allocation as MemoryError. When memory runs out while the exception is
// made, that MemoryError is the call's exception. Call only from a handler.
void raise_current_exception() noexcept;

// Runs one module call: its result, or null with exactly one exception set.
template <typename Body>
PyObject* call_boundary(Body&& body) noexcept {
    try {
        return body();
    } catch (...) {
        raise_current_exception();
        return nullptr;
    }
}

}  // namespace velmo::py
