// How the process ends once a callback has failed: what the script wrote is
// flushed first, and on PyPy a SystemExit ends the process as CPython's
// error printer would.
#pragma once

#include <cstdio>
#include <cstdlib>

#include "errors.hpp"
#include "python.hpp"

namespace velmo::py {

// What the script already wrote must reach its destination before the exit.
inline void flush_standard_streams() noexcept {
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
inline int exit_status(PyObject* value) noexcept {
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
inline void call_if_imported(const char* module_name, const char* function) noexcept {
    PyObject* modules = PyImport_GetModuleDict();
    PyObject* module = modules ? PyDict_GetItemString(modules, module_name) : nullptr;
    PyObject* result = module ? PyObject_CallMethod(module, function, nullptr) : nullptr;
    if (result == nullptr) {
        PyErr_Clear();
    } else {
        Py_DECREF(result);
    }
}

[[noreturn]] inline void exit_as_cpython_does(PythonError&& error) noexcept {
    int status = exit_status(error.normalized_value());
    call_if_imported("threading", "_shutdown");
    call_if_imported("atexit", "_run_exitfuncs");
    flush_standard_streams();
    std::exit(status);
}
#endif

}  // namespace velmo::py
