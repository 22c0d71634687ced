#include "functions.hpp"
#include "velmo/platform.hpp"

namespace velmo::py {

// Needs no Engine: it works before `init`.
PyObject* process_exists(const Arguments<process_exists_signature>& arguments) {
    std::uint32_t pid = to_uint32(arguments[0]);
    return from_bool(platform::process_exists(pid));
}

}  // namespace velmo::py
