// The module `velmo_wrapper`: its entry point, method table and definition.
#include "errors.hpp"
#include "functions.hpp"
#include "registration.hpp"

namespace {

#define VELMO_VK(name, signature)                                                             \
    PyMethodDef{#name,                                                                        \
                reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(velmo::py::name)), \
                METH_VARARGS | METH_KEYWORDS, signature "\n--\n\n"}
#define VELMO_NOARGS(name, signature) \
    PyMethodDef{#name, velmo::py::name, METH_NOARGS, signature "\n--\n\n"}

// Registration order is the order of `__all__`. One line a function: the table is
// kept as a table, not reflowed.
// clang-format off
PyMethodDef methods[] = {
    VELMO_VK(init, "init(fps)"),
    VELMO_VK(run, "run(update, draw, close)"),
    VELMO_NOARGS(show, "show()"),
    VELMO_NOARGS(quit, "quit()"),
    VELMO_VK(title, "title(title)"),
    VELMO_VK(process_exists, "process_exists(pid)"),
    VELMO_VK(ceil, "ceil(x)"),
    VELMO_VK(floor, "floor(x)"),
    VELMO_VK(sgn, "sgn(x)"),
    VELMO_VK(sqrt, "sqrt(x)"),
    VELMO_VK(sin, "sin(deg)"),
    VELMO_VK(cos, "cos(deg)"),
    VELMO_VK(atan2, "atan2(y, x)"),
    VELMO_VK(rseed, "rseed(seed)"),
    VELMO_VK(rndi, "rndi(a, b)"),
    VELMO_VK(rndf, "rndf(a, b)"),
    VELMO_VK(nseed, "nseed(seed)"),
    VELMO_VK(noise, "noise(x, y=None, z=None)"),
};

PyModuleDef definition = {
    PyModuleDef_HEAD_INIT,
    "velmo_wrapper",
    "",
    0,
    nullptr,
    nullptr,
    nullptr,
    nullptr,
    nullptr,
};
// clang-format on

}  // namespace

#ifndef _WIN32
// The module is compiled with hidden visibility. Python 3.9's headers and later
// mark the entry point exported, 3.8's do not: said here, it is exported
// whichever interpreter's headers the module is built with.
extern "C" __attribute__((visibility("default"))) PyObject* PyInit_velmo_wrapper(void);
#endif

// init's preparation comes first: once the module exists, a failure could no
// longer leave the process free to create it again.
PyMODINIT_FUNC PyInit_velmo_wrapper(void) {
    if (!velmo::py::prepare_init()) return nullptr;
    return velmo::py::create_module(definition, methods);
}
