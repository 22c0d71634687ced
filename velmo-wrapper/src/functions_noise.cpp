#include "binding.hpp"
#include "functions.hpp"
#include "velmo_singleton.hpp"

namespace velmo::py {
namespace {

constexpr const char* seed_names[] = {"seed"};
constexpr const char* xyz_names[] = {"x", "y", "z"};

constexpr ArgumentSpec nseed_spec{"nseed", seed_names, 1, 1};
constexpr ArgumentSpec noise_spec{"noise", xyz_names, 3, 1};

}  // namespace

PyObject* nseed(PyObject*, PyObject* args, PyObject* kwargs) {
    return call_boundary([&] {
        auto slots = bind<1>(nseed_spec, args, kwargs);
        std::uint32_t seed = to_uint32(slots[0], "seed");
        instance().noise_table = NoiseTable::from_seed(seed);
        return none();
    });
}

PyObject* noise(PyObject*, PyObject* args, PyObject* kwargs) {
    return call_boundary([&] {
        auto slots = bind<3>(noise_spec, args, kwargs);
        double x = to_double(slots[0], "x");
        double y = to_optional_double(slots[1], "y");
        double z = to_optional_double(slots[2], "z");
        return from_double(instance().noise_table.sample(x, y, z));
    });
}

}  // namespace velmo::py
