#include "binding.hpp"
#include "functions.hpp"
#include "velmo_singleton.hpp"

namespace velmo::py {
namespace {

constexpr const char* seed_names[] = {"seed"};
constexpr const char* ab_names[] = {"a", "b"};

constexpr ArgumentSpec rseed_spec{"rseed", seed_names, 1, 1};
constexpr ArgumentSpec rndi_spec{"rndi", ab_names, 2, 2};
constexpr ArgumentSpec rndf_spec{"rndf", ab_names, 2, 2};

// Draws from a copy of the generator and keeps the copy only once the result
// object exists: a call that fails for lack of memory leaves the sequence
// where it was.
template <typename Draw>
PyObject* draw_then_commit(Draw&& draw) {
    RandomGenerator& rng = instance().rng;
    RandomGenerator next = rng;
    PyObject* result = draw(next);
    rng = next;
    return result;
}

}  // namespace

PyObject* rseed(PyObject*, PyObject* args, PyObject* kwargs) {
    return call_boundary([&] {
        auto slots = bind<1>(rseed_spec, args, kwargs);
        std::uint32_t seed = to_uint32(slots[0], "seed");
        instance().rng = RandomGenerator::from_seed(seed);
        return none();
    });
}

PyObject* rndi(PyObject*, PyObject* args, PyObject* kwargs) {
    return call_boundary([&] {
        auto slots = bind<2>(rndi_spec, args, kwargs);
        std::int32_t a = to_int32(slots[0], "a");
        std::int32_t b = to_int32(slots[1], "b");
        return draw_then_commit(
            [&](RandomGenerator& rng) { return from_int32(rng.uniform_int(a, b)); });
    });
}

PyObject* rndf(PyObject*, PyObject* args, PyObject* kwargs) {
    return call_boundary([&] {
        auto slots = bind<2>(rndf_spec, args, kwargs);
        double a = to_double(slots[0], "a");
        double b = to_double(slots[1], "b");
        return draw_then_commit(
            [&](RandomGenerator& rng) { return from_double(rng.uniform_float(a, b)); });
    });
}

}  // namespace velmo::py
