// The process's one Engine, set once by `init` and never cleared.
#pragma once

#include <memory>

#include "velmo/engine.hpp"

namespace velmo {

namespace detail {
extern Engine* instance_slot;
[[noreturn]] void not_initialized();
}  // namespace detail

// The Engine, or the fatal error "Velmo not initialized" while there is none.
inline Engine& instance() {
    if (detail::instance_slot == nullptr) [[unlikely]]
        detail::not_initialized();
    return *detail::instance_slot;
}

// The check that an Engine exists, for functions that use nothing of it.
inline void require_engine() { instance(); }

// Takes ownership of the new Engine; it lives until the process ends.
void set_instance(std::unique_ptr<Engine> engine) noexcept;

}  // namespace velmo
