#include <mutex>

#include "functions.hpp"
#include "shared_state_lock.hpp"
#include "velmo_singleton.hpp"

namespace velmo::py {
namespace {

// Guards the Engine's noise table: a sample reads one whole table, never one
// that `nseed` is rewriting.
SharedStateLock noise_table_lock;

PyObject* nseed_body(const Arguments<nseed_signature>& arguments) {
    std::uint32_t seed = to_uint32(arguments[0]);
    // Built outside the lock: only the copy into the Engine excludes samples.
    NoiseTable table = NoiseTable::from_seed(seed);
    std::lock_guard guard(noise_table_lock);
    instance().noise_table = table;
    return none();
}

PyObject* noise_body(const Arguments<noise_signature>& arguments) {
    double x = to_double(arguments[0]);
    double y = to_optional_double(arguments[1]);
    double z = to_optional_double(arguments[2]);
    double value;
    {
        std::lock_guard guard(noise_table_lock);
        value = instance().noise_table.sample(x, y, z);
    }
    return from_double(value);
}

}  // namespace

MethodRecords nseed_methods() noexcept { return method_records<nseed_signature, nseed_body>(); }

MethodRecords noise_methods() noexcept { return method_records<noise_signature, noise_body>(); }

}  // namespace velmo::py
