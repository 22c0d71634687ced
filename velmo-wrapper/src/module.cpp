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
    method_records<init_signature, init>(),
    method_records<run_signature, run>(),
    no_argument_records<show_signature, show>(),
    no_argument_records<quit_signature, quit>(),
    method_records<title_signature, title>(),
    method_records<process_exists_signature, process_exists>(),
    method_records<ceil_signature, ceil>(),
    method_records<floor_signature, floor>(),
    method_records<sgn_signature, sgn>(),
    method_records<sqrt_signature, sqrt>(),
    method_records<sin_signature, sin>(),
    method_records<cos_signature, cos>(),
    method_records<atan2_signature, atan2>(),
    method_records<rseed_signature, rseed>(),
    method_records<rndi_signature, rndi>(),
    method_records<rndf_signature, rndf>(),
    method_records<nseed_signature, nseed>(),
    method_records<noise_signature, noise>(),
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
