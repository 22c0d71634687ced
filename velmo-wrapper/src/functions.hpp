// The module's eighteen functions, in the calling conventions of the method table.
#pragma once

#include "python.hpp"

namespace velmo::py {

// Engine lifecycle.
// Compiles the statement `init` runs, while the module is created: some
// interpreters' compilers (3.11's) crash when memory runs out as they work,
// which a script can then no longer bring about. False with the error set.
bool prepare_init() noexcept;
PyObject* init(PyObject* module, PyObject* args, PyObject* kwargs);
PyObject* run(PyObject* module, PyObject* args, PyObject* kwargs);
PyObject* show(PyObject* module, PyObject* unused);
PyObject* quit(PyObject* module, PyObject* unused);
PyObject* title(PyObject* module, PyObject* args, PyObject* kwargs);

// The system's process list.
PyObject* process_exists(PyObject* module, PyObject* args, PyObject* kwargs);

// Math.
PyObject* ceil(PyObject* module, PyObject* args, PyObject* kwargs);
PyObject* floor(PyObject* module, PyObject* args, PyObject* kwargs);
PyObject* sgn(PyObject* module, PyObject* args, PyObject* kwargs);
PyObject* sqrt(PyObject* module, PyObject* args, PyObject* kwargs);
PyObject* sin(PyObject* module, PyObject* args, PyObject* kwargs);
PyObject* cos(PyObject* module, PyObject* args, PyObject* kwargs);
PyObject* atan2(PyObject* module, PyObject* args, PyObject* kwargs);

// Random numbers.
PyObject* rseed(PyObject* module, PyObject* args, PyObject* kwargs);
PyObject* rndi(PyObject* module, PyObject* args, PyObject* kwargs);
PyObject* rndf(PyObject* module, PyObject* args, PyObject* kwargs);

// Noise.
PyObject* nseed(PyObject* module, PyObject* args, PyObject* kwargs);
PyObject* noise(PyObject* module, PyObject* args, PyObject* kwargs);

}  // namespace velmo::py
