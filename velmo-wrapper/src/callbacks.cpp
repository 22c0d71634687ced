#include "callbacks.hpp"

#include <cstdio>
#include <cstdlib>

#include "errors.hpp"
#include "velmo/platform.hpp"

namespace velmo::py {
namespace {

// Calls `callable` with no arguments; null with the exception pending on failure.
// A null argument tuple takes the interpreter's no-argument path: no tuple is
// made for a call that runs every frame.
Ref call_without_arguments(PyObject* callable) {
    return Ref::steal(PyObject_CallObject(callable, nullptr));
}

// What the script already wrote must reach its destination before the exit.
void flush_standard_streams() noexcept {
    for (const char* name : {"stdout", "stderr"}) {
        PyObject* stream = PySys_GetObject(name);
        if (stream == nullptr || stream == Py_None) continue;
        PyObject* result = PyObject_CallMethod(stream, "flush", nullptr);
        if (result == nullptr) {
            PyErr_Clear();
        } else {
            Py_DECREF(result);
        }
    }
    std::fflush(nullptr);
}

#ifdef PYPY_VERSION
// PyPy's PyErr_PrintEx prints a SystemExit as a traceback and returns, where
// CPython's ends the process the way the interpreter's own exit does. That
// exit is made here in CPython's order: the status from the exception's
// `code`, then the interpreter's shutdown work, then the C library's exit.

// The exit status of `value`, a SystemExit: its code when that is None or an
// int; otherwise the code is written to standard error and the status is 1.
int exit_status(PyObject* value) noexcept {
    Ref code = Ref::steal(PyObject_GetAttrString(value, "code"));
    if (!code) {
        PyErr_Clear();
        code = Ref::borrow(value);
    }
    if (code.get() == Py_None) return 0;
    if (PyLong_Check(code.get())) {
        long status = PyLong_AsLong(code.get());
        if (status == -1 && PyErr_Occurred()) PyErr_Clear();
        return static_cast<int>(status);
    }
    PyObject* stream = PySys_GetObject("stderr");
    if (stream != nullptr && stream != Py_None &&
        PyFile_WriteObject(code.get(), stream, Py_PRINT_RAW) == 0) {
        PyFile_WriteString("\n", stream);
    }
    PyErr_Clear();
    return 1;
}

// Calls `module.function()` when the module is loaded, and drops any error.
void call_if_imported(const char* module_name, const char* function) noexcept {
    PyObject* modules = PyImport_GetModuleDict();
    PyObject* module = modules ? PyDict_GetItemString(modules, module_name) : nullptr;
    PyObject* result = module ? PyObject_CallMethod(module, function, nullptr) : nullptr;
    if (result == nullptr) {
        PyErr_Clear();
    } else {
        Py_DECREF(result);
    }
}

[[noreturn]] void exit_for(PythonError&& error) noexcept {
    int status = exit_status(error.normalized_value());
    call_if_imported("threading", "_shutdown");
    call_if_imported("atexit", "_run_exitfuncs");
    flush_standard_streams();
    std::exit(status);
}
#endif

void print_error(PythonError&& error) noexcept {
#ifdef PYPY_VERSION
    if (error.matches(PyExc_SystemExit)) exit_for(std::move(error));
#endif
    std::move(error).restore();
    PyErr_PrintEx(0);
}

// A callback failed with `error`: `close` runs, both failures are printed
// (close's first), and the process ends without finalising the interpreter.
// A fatal error fetched on the way resumes instead, by throwing.
[[noreturn]] void fail(PythonError&& error, PyObject* close) {
    Ref closed = call_without_arguments(close);
    if (!closed) print_error(take_error());
    if (!error.matches(PyExc_KeyboardInterrupt)) print_error(std::move(error));
    flush_standard_streams();
    platform::exit_now(1);
}

}  // namespace

void CallbackHandler::update(Engine&) { call(update_); }

void CallbackHandler::draw(Engine&) { call(draw_); }

void CallbackHandler::call(PyObject* callback) {
    Ref result = call_without_arguments(callback);
    if (!result) fail(take_error(), close_);
}

}  // namespace velmo::py
