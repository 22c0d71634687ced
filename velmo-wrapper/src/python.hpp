// The one include of the interpreter's headers: the stable ABI of 3.8 and
// later, or, for an interpreter without one (PyPy, a free-threaded CPython),
// its own API. The build names which, and this header defines neither: a
// default here would override the build's choice for a free-threaded 3.15,
// whose stable ABI is selected by Py_TARGET_ABI3T.
#pragma once

#if !defined(Py_LIMITED_API) && !defined(Py_TARGET_ABI3T) && !defined(VELMO_FULL_PYTHON_API)
#error "The build selects the Python API: Py_LIMITED_API, Py_TARGET_ABI3T or VELMO_FULL_PYTHON_API"
#endif
#define PY_SSIZE_T_CLEAN
#include <Python.h>

// Headers configured for another pointer size (a Windows cross build without
// MS_WIN64) would give every object the wrong layout.
static_assert(SIZEOF_VOID_P == sizeof(void*), "Python headers configured for another pointer size");
static_assert(SIZEOF_LONG == sizeof(long), "Python headers configured for another size of long");
