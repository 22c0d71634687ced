#include "binding.hpp"
#include "functions.hpp"
#include "velmo/platform.hpp"

namespace velmo::py {
namespace {

constexpr const char* pid_names[] = {"pid"};
constexpr ArgumentSpec process_exists_spec{"process_exists", pid_names, 1, 1};

}  // namespace

// Needs no Engine: it works before `init`.
PyObject* process_exists(PyObject*, PyObject* args, PyObject* kwargs) {
    return call_boundary([&] {
        auto slots = bind<1>(process_exists_spec, args, kwargs);
        std::uint32_t pid = to_uint32(slots[0], "pid");
        return from_bool(platform::process_exists(pid));
    });
}

}  // namespace velmo::py
