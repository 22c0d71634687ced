#include <mutex>

#include "functions.hpp"
#include "shared_state_lock.hpp"
#include "velmo_singleton.hpp"

namespace velmo::py {
namespace {

// Guards the Engine's generator: a draw or a reseed is one step, whichever
// threads call at once.
SharedStateLock generator_lock;

// Draws from a copy of the generator and keeps the copy only once the result
// object exists: a call that fails for lack of memory leaves the sequence
// where it was. The arguments are converted before this (conversions may run
// Python code); under the lock only the draw and the object's allocation run,
// and the failure is reported (through sys.excepthook) after it is released.
template <typename Draw, typename MakeObject>
PyObject* draw_then_commit(Draw&& draw, MakeObject&& make_object) {
    RandomGenerator& rng = instance().rng;
    PyObject* result;
    {
        std::lock_guard guard(generator_lock);
        RandomGenerator next = rng;
        result = make_object(draw(next));
        if (result != nullptr) [[likely]]
            rng = next;
    }
    return checked(result);
}

PyObject* rseed_body(const Arguments<rseed_signature>& arguments) {
    std::uint32_t seed = to_uint32(arguments[0]);
    RandomGenerator seeded = RandomGenerator::from_seed(seed);
    std::lock_guard guard(generator_lock);
    instance().rng = seeded;
    return none();
}

// Unchecked makers of the draws' result objects: `draw_then_commit` checks
// them once its lock is released.
PyObject* int_object(std::int32_t value) noexcept { return PyLong_FromLong(value); }
PyObject* float_object(double value) noexcept { return PyFloat_FromDouble(value); }

PyObject* rndi_body(const Arguments<rndi_signature>& arguments) {
    std::int32_t a = to_int32(arguments[0]);
    std::int32_t b = to_int32(arguments[1]);
    return draw_then_commit([&](RandomGenerator& rng) { return rng.uniform_int(a, b); },
                            int_object);
}

PyObject* rndf_body(const Arguments<rndf_signature>& arguments) {
    double a = to_double(arguments[0]);
    double b = to_double(arguments[1]);
    return draw_then_commit([&](RandomGenerator& rng) { return rng.uniform_float(a, b); },
                            float_object);
}

}  // namespace

MethodRecords rseed_methods() noexcept { return method_records<rseed_signature, rseed_body>(); }

MethodRecords rndi_methods() noexcept { return method_records<rndi_signature, rndi_body>(); }

MethodRecords rndf_methods() noexcept { return method_records<rndf_signature, rndf_body>(); }

}  // namespace velmo::py
