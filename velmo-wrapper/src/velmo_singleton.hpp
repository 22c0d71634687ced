// The process's one Engine, set once by `init` and never cleared.
#pragma once

#include <atomic>
#include <memory>

#include "velmo/engine.hpp"

namespace velmo {

namespace detail {
// Stored with release and read with acquire: a thread that sees the pointer
// sees the Engine it points to complete, with or without an interpreter lock.
extern std::atomic<Engine*> instance_slot;
[[noreturn]] void not_initialized();
}  // namespace detail

// The Engine, or the fatal error "Velmo not initialized" while there is none.
inline Engine& instance() {
    Engine* engine = detail::instance_slot.load(std::memory_order_acquire);
    if (engine == nullptr) [[unlikely]]
        detail::not_initialized();
    return *engine;
}

// The check that an Engine exists, for functions that use nothing of it.
inline void require_engine() { instance(); }

// Takes ownership of the new Engine; it lives until the process ends.
void set_instance(std::unique_ptr<Engine> engine) noexcept;

}  // namespace velmo
