#include "functions.hpp"
#include "velmo_singleton.hpp"

namespace velmo::py {
namespace {

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

PyObject* rseed_body(const Arguments<rseed_signature>& arguments) {
    std::uint32_t seed = to_uint32(arguments[0]);
    instance().rng = RandomGenerator::from_seed(seed);
    return none();
}

PyObject* rndi_body(const Arguments<rndi_signature>& arguments) {
    std::int32_t a = to_int32(arguments[0]);
    std::int32_t b = to_int32(arguments[1]);
    return draw_then_commit(
        [&](RandomGenerator& rng) { return from_int32(rng.uniform_int(a, b)); });
}

PyObject* rndf_body(const Arguments<rndf_signature>& arguments) {
    double a = to_double(arguments[0]);
    double b = to_double(arguments[1]);
    return draw_then_commit(
        [&](RandomGenerator& rng) { return from_double(rng.uniform_float(a, b)); });
}

}  // namespace

MethodRecords rseed_methods() noexcept { return method_records<rseed_signature, rseed_body>(); }

MethodRecords rndi_methods() noexcept { return method_records<rndi_signature, rndi_body>(); }

MethodRecords rndf_methods() noexcept { return method_records<rndf_signature, rndf_body>(); }

}  // namespace velmo::py
