#include "functions.hpp"
#include "velmo/platform.hpp"

namespace velmo::py {
namespace {

// Needs no Engine: it works before `init`.
PyObject* process_exists_body(const Arguments<process_exists_signature>& arguments) {
    std::uint32_t pid = to_uint32(arguments[0]);
    return from_bool(platform::process_exists(pid));
}

}  // namespace

MethodRecords process_exists_methods() noexcept {
    return method_records<process_exists_signature, process_exists_body>();
}

}  // namespace velmo::py
