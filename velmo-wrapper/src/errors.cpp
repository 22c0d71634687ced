#include "errors.hpp"

#include <atomic>
#include <cstdlib>
#include <new>
#include <string>

#include "velmo/compat_texts.hpp"
#include "velmo/platform.hpp"

namespace velmo::py {
namespace {

// Set once and never cleared. Threads that raise their first panic at once
// (without a GIL) each make a type, and the first one stored is kept, so
// every thread raises and recognises the same type.
std::atomic<PyObject*> panic_type_slot{nullptr};

// Failures while handing an exception to the interpreter have nowhere left to go.
[[noreturn]] void abort_at_boundary() noexcept {
    platform::write_stderr(texts::uncaught_panic);
    std::abort();
}

// The message of a PanicException fetched back from Python code.
std::string panic_message(PyObject* value) {
    Ref text = Ref::steal(value ? PyObject_Str(value) : nullptr);
    Ref bytes =
        Ref::steal(text ? PyUnicode_AsEncodedString(text.get(), "utf-8", "replace") : nullptr);
    char* data = nullptr;
    Py_ssize_t size = 0;
    if (!bytes || PyBytes_AsStringAndSize(bytes.get(), &data, &size) < 0) {
        PyErr_Clear();
        return texts::unwrapped_panic;
    }
    return std::string(data, static_cast<std::size_t>(size));
}

[[noreturn]] void resume_panic(PythonError&& error) {
    std::string message = panic_message(error.normalized_value());
    platform::write_stderr(texts::resuming_panic);
    std::move(error).restore();
    PyErr_PrintEx(0);
    resume_fatal(std::move(message));
}

// The PanicException type, created on first use; null, with the error
// pending, when it cannot be created.
PyObject* existing_or_new_panic_type() noexcept {
    PyObject* existing = panic_type_slot.load(std::memory_order_acquire);
    if (existing != nullptr) return existing;
    PyObject* made = PyErr_NewExceptionWithDoc(texts::panic_type_name, texts::panic_type_doc,
                                               PyExc_BaseException, nullptr);
    if (made == nullptr) return nullptr;
    if (!panic_type_slot.compare_exchange_strong(existing, made, std::memory_order_acq_rel)) {
        // Another thread stored its type first: that one is the type.
        Py_DECREF(made);
        return existing;
    }
    return made;
}

// Making the exception of a failed call failed in turn. Out of memory, the
// call ends with the pending MemoryError (the interpreter keeps instances of
// it ready for this); any other failure has nowhere left to go.
void raise_failed() noexcept {
    if (PyErr_ExceptionMatches(PyExc_MemoryError)) return;
    PyErr_Print();
    abort_at_boundary();
}

}  // namespace

PythonError::~PythonError() {
    Py_XDECREF(type_);
    Py_XDECREF(value_);
    Py_XDECREF(traceback_);
}

PyObject* PythonError::normalized_value() noexcept {
    PyErr_NormalizeException(&type_, &value_, &traceback_);
    return value_;
}

bool PythonError::matches(PyObject* exception_type) const noexcept {
    return type_ != nullptr && PyErr_GivenExceptionMatches(type_, exception_type);
}

void PythonError::restore() && noexcept {
    PyErr_Restore(std::exchange(type_, nullptr), std::exchange(value_, nullptr),
                  std::exchange(traceback_, nullptr));
}

PythonError fetch_error() noexcept {
    PyObject* type;
    PyObject* value;
    PyObject* traceback;
    PyErr_Fetch(&type, &value, &traceback);
    return PythonError(type, value, traceback);
}

PythonError take_error() {
    PythonError error = fetch_error();
    if (error.type() == nullptr) {
        return new_error(PyExc_SystemError, texts::no_exception_set);
    }
    // No PanicException can be pending before its type exists, so the type is
    // not created for the comparison.
    PyObject* panic_type = panic_type_slot.load(std::memory_order_acquire);
    if (panic_type != nullptr && error.type() == panic_type) {
        resume_panic(std::move(error));
    }
    return error;
}

void throw_pending() { throw take_error(); }

PythonError new_error(PyObject* type, PyObject* message) noexcept {
    PyErr_SetObject(type, message);
    PythonError error = fetch_error();
    error.normalized_value();
    return error;
}

PythonError new_error(PyObject* type, std::string_view message) {
    Ref text = Ref::steal(
        PyUnicode_FromStringAndSize(message.data(), static_cast<Py_ssize_t>(message.size())));
    // Only memory can be short here: the error becomes that MemoryError.
    if (!text) throw_pending();
    return new_error(type, text.get());
}

void api_call_failed(const std::source_location& where) {
    if (PyErr_Occurred()) PyErr_Print();
    fatal(texts::python_api_failed, SourceLocation::from(where));
}

namespace {

void raise_panic(std::string_view message) noexcept {
    PyObject* type = existing_or_new_panic_type();
    Ref text =
        Ref::steal(type ? PyUnicode_DecodeUTF8(message.data(),
                                               static_cast<Py_ssize_t>(message.size()), "replace")
                        : nullptr);
    if (!text) {
        raise_failed();
        return;
    }
    new_error(type, text.get()).restore();
}

}  // namespace

void raise_current_exception() noexcept {
    try {
        throw;
    } catch (PythonError& error) {
        std::move(error).restore();
    } catch (const FatalError& error) {
        raise_panic(error.message());
    } catch (const std::bad_alloc&) {
        PyErr_NoMemory();
    } catch (...) {
        raise_panic(texts::failed_without_message);
    }
}

}  // namespace velmo::py
