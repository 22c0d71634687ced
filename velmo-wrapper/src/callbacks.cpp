#include "callbacks.hpp"

#include "errors.hpp"
#include "process_exit.hpp"
#include "velmo/platform.hpp"

namespace velmo::py {
namespace {

// Calls `callable` with no arguments; null with the exception pending on failure.
// A null argument tuple takes the interpreter's no-argument path: no tuple is
// made for a call that runs every frame.
Ref call_without_arguments(PyObject* callable) {
    return Ref::steal(PyObject_CallObject(callable, nullptr));
}

void print_error(PythonError&& error) noexcept {
#ifdef PYPY_VERSION
    if (error.matches(PyExc_SystemExit)) exit_as_cpython_does(std::move(error));
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
