#include "functions.hpp"
#include "velmo_singleton.hpp"

namespace velmo::py {
namespace {

PyObject* nseed_body(const Arguments<nseed_signature>& arguments) {
    std::uint32_t seed = to_uint32(arguments[0]);
    instance().noise_table = NoiseTable::from_seed(seed);
    return none();
}

PyObject* noise_body(const Arguments<noise_signature>& arguments) {
    double x = to_double(arguments[0]);
    double y = to_optional_double(arguments[1]);
    double z = to_optional_double(arguments[2]);
    return from_double(instance().noise_table.sample(x, y, z));
}

}  // namespace

MethodRecords nseed_methods() noexcept { return method_records<nseed_signature, nseed_body>(); }

MethodRecords noise_methods() noexcept { return method_records<noise_signature, noise_body>(); }

}  // namespace velmo::py
