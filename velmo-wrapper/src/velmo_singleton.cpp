#include "velmo_singleton.hpp"

#include "velmo/fatal.hpp"

namespace velmo {

Engine* detail::instance_slot = nullptr;

void detail::not_initialized() {
    fatal("Velmo not initialized", {"velmo-wrapper/src/velmo_singleton", 11, 13});
}

void set_instance(std::unique_ptr<Engine> engine) noexcept {
    // Released on purpose: the Engine outlives the module and the interpreter.
    detail::instance_slot = engine.release();
}

}  // namespace velmo
