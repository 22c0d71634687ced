// The module `velmo_wrapper`: its entry point, function table and definition.
#include "entry.hpp"
#include "functions.hpp"
#include "registration.hpp"

namespace velmo::py {
namespace {

// Registration order is the order of `__all__`. One line a function: the table is
// kept as a table, not reflowed.
// clang-format off
MethodRecords methods[] = {
    init_methods(),
    run_methods(),
    show_methods(),
    quit_methods(),
    title_methods(),
    process_exists_methods(),
    ceil_methods(),
    floor_methods(),
    sgn_methods(),
    sqrt_methods(),
    sin_methods(),
    cos_methods(),
    atan2_methods(),
    rseed_methods(),
    rndi_methods(),
    rndf_methods(),
    nseed_methods(),
    noise_methods(),
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
}  // namespace velmo::py

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
    return velmo::py::create_module(velmo::py::definition, velmo::py::methods);
}
