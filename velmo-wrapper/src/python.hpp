// The one include of the interpreter's headers: the stable ABI of 3.8 and
// later, or, for an interpreter without one (PyPy), its own API.
#pragma once

#if !defined(Py_LIMITED_API) && !defined(VELMO_FULL_PYTHON_API)
#define Py_LIMITED_API 0x03080000
#endif
#define PY_SSIZE_T_CLEAN
#include <Python.h>

// Headers configured for another pointer size (a Windows cross build without
// MS_WIN64) would give every object the wrong layout.
static_assert(SIZEOF_VOID_P == sizeof(void*), "Python headers configured for another pointer size");
static_assert(SIZEOF_LONG == sizeof(long), "Python headers configured for another size of long");
