"""The floor that the module's call costs are measured against.

Builds, in a temporary directory, a tiny extension `velmo_floor` against the
same stable ABI (on PyPy, which has none, against PyPy's own API), whose functions do the least a module function can do:
`f1`, `f2` and `f3` (METH_VARARGS | METH_KEYWORDS, the tuple convention)
convert one, two or three floats with PyFloat_AsDouble and return a float;
`g1`, `g2` and `g3` do the same in the fast convention (METH_FASTCALL |
METH_KEYWORDS), which the stable ABI offers from 3.10 on and which only
interpreters of 3.10 or later are given; `f0` (METH_NOARGS) returns None.
Importing it costs what importing an extension with no work costs.
"""

import importlib.machinery
import importlib.util
import os
import subprocess
import sys
import sysconfig
import tempfile

SOURCE = r"""
#ifndef FULL_API
#define Py_LIMITED_API 0x03080000
#endif
#define PY_SSIZE_T_CLEAN
#include <Python.h>
#include <string.h>

static PyObject* convert(PyObject* args, Py_ssize_t n) {
    double sum = 0.0;
    if (PyTuple_Size(args) != n) {
        PyErr_SetString(PyExc_TypeError, "wrong number of arguments");
        return NULL;
    }
    for (Py_ssize_t i = 0; i < n; ++i) {
        double x = PyFloat_AsDouble(PyTuple_GetItem(args, i));
        if (x == -1.0 && PyErr_Occurred()) return NULL;
        sum += x;
    }
    return PyFloat_FromDouble(sum);
}

/* The fast convention's flag: the headers of 3.8 do not declare it. */
#define FAST_CALL 0x0080

static PyObject* convert_array(PyObject* const* args, Py_ssize_t given, PyObject* names, Py_ssize_t n) {
    double sum = 0.0;
    if (given != n || names != NULL) {
        PyErr_SetString(PyExc_TypeError, "wrong number of arguments");
        return NULL;
    }
    for (Py_ssize_t i = 0; i < n; ++i) {
        double x = PyFloat_AsDouble(args[i]);
        if (x == -1.0 && PyErr_Occurred()) return NULL;
        sum += x;
    }
    return PyFloat_FromDouble(sum);
}

static PyObject* g1(PyObject* m, PyObject* const* a, Py_ssize_t n, PyObject* k) { (void)m; return convert_array(a, n, k, 1); }
static PyObject* g2(PyObject* m, PyObject* const* a, Py_ssize_t n, PyObject* k) { (void)m; return convert_array(a, n, k, 2); }
static PyObject* g3(PyObject* m, PyObject* const* a, Py_ssize_t n, PyObject* k) { (void)m; return convert_array(a, n, k, 3); }

static PyObject* f1(PyObject* m, PyObject* a, PyObject* k) { (void)m; (void)k; return convert(a, 1); }
static PyObject* f2(PyObject* m, PyObject* a, PyObject* k) { (void)m; (void)k; return convert(a, 2); }
static PyObject* f3(PyObject* m, PyObject* a, PyObject* k) { (void)m; (void)k; return convert(a, 3); }
static PyObject* f0(PyObject* m, PyObject* u) { (void)m; (void)u; Py_RETURN_NONE; }

static PyMethodDef methods[] = {
    {"f1", (PyCFunction)(void (*)(void))f1, METH_VARARGS | METH_KEYWORDS, NULL},
    {"f2", (PyCFunction)(void (*)(void))f2, METH_VARARGS | METH_KEYWORDS, NULL},
    {"f3", (PyCFunction)(void (*)(void))f3, METH_VARARGS | METH_KEYWORDS, NULL},
    {"f0", f0, METH_NOARGS, NULL},
    {NULL, NULL, 0, NULL},
};

static PyMethodDef fast_methods[] = {
    {"g1", (PyCFunction)(void (*)(void))g1, FAST_CALL | METH_KEYWORDS, NULL},
    {"g2", (PyCFunction)(void (*)(void))g2, FAST_CALL | METH_KEYWORDS, NULL},
    {"g3", (PyCFunction)(void (*)(void))g3, FAST_CALL | METH_KEYWORDS, NULL},
    {NULL, NULL, 0, NULL},
};

static struct PyModuleDef definition = {PyModuleDef_HEAD_INIT, "velmo_floor", "", 0, methods};

PyMODINIT_FUNC PyInit_velmo_floor(void) {
    PyObject* module = PyModule_Create(&definition);
    if (module != NULL && strncmp(Py_GetVersion(), "3.8.", 4) != 0 &&
        strncmp(Py_GetVersion(), "3.9.", 4) != 0 &&
        PyModule_AddFunctions(module, fast_methods) < 0) {
        Py_DECREF(module);
        return NULL;
    }
    return module;
}
"""


# PyPy has no stable ABI: there the floor is built as the module is, for that
# PyPy alone, and named with its own suffix.
STABLE_ABI = sys.implementation.name == "cpython"
SUFFIX = ".abi3.so" if STABLE_ABI else importlib.machinery.EXTENSION_SUFFIXES[0]


def build(directory=None):
    """Compiles the floor extension; returns the directory that holds it."""
    directory = directory or tempfile.mkdtemp(prefix="velmo_floor_")
    source = os.path.join(directory, "velmo_floor.c")
    with open(source, "w") as handle:
        handle.write(SOURCE)
    target = os.path.join(directory, "velmo_floor" + SUFFIX)
    include = sysconfig.get_paths()["include"]
    api = [] if STABLE_ABI else ["-DFULL_API"]
    subprocess.run(
        ["cc", "-O2", "-shared", "-fPIC", *api, "-I", include, source, "-o", target], check=True
    )
    return directory


def load(directory=None):
    """Builds the floor extension and imports it into this process."""
    directory = build(directory)
    spec = importlib.util.spec_from_file_location(
        "velmo_floor", os.path.join(directory, "velmo_floor" + SUFFIX)
    )
    module = importlib.util.module_from_spec(spec)
    spec.loader.exec_module(module)
    sys.modules["velmo_floor"] = module
    return module


if __name__ == "__main__":
    print(build())
