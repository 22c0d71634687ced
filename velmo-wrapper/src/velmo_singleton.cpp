#include "velmo_singleton.hpp"

#include "velmo/compat_texts.hpp"
#include "velmo/fatal.hpp"

namespace velmo {

std::atomic<Engine*> detail::instance_slot{nullptr};

void detail::not_initialized() { fatal(texts::not_initialized, texts::not_initialized_at); }

void set_instance(std::unique_ptr<Engine> engine) noexcept {
    // Released on purpose: the Engine outlives the module and the interpreter.
    detail::instance_slot.store(engine.release(), std::memory_order_release);
}

}  // namespace velmo
