// Creating the module object once per process and registering its functions.
#pragma once

#include <span>

#include "entry.hpp"
#include "python.hpp"

namespace velmo::py {

// Creates the module from `definition` and adds `methods` in order, each as
// an attribute and a name in `__all__`, in the calling convention the running
// interpreter supports best. Returns a new reference, or null with the
// exception set; a second creation in the process is an ImportError.
PyObject* create_module(PyModuleDef& definition, std::span<MethodRecords> methods) noexcept;

}  // namespace velmo::py
