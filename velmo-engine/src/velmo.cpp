#include <atomic>
#include <memory>
#include <new>
#include <string>

#include "velmo/compat_texts.hpp"
#include "velmo/engine.hpp"
#include "velmo/fatal.hpp"
#include "velmo/platform.hpp"

namespace velmo {
namespace {

// Set by the first Engine creation and never cleared: it alone decides
// "already initialized", even when that creation went on to fail.
std::atomic<bool> initialized{false};

// Releases memory that never held an Engine.
struct FreeStorage {
    void operator()(Engine* storage) const noexcept {
        std::allocator<Engine>().deallocate(storage, 1);
    }
};

}  // namespace

Engine::Engine(std::uint32_t startup_seed, std::uint32_t fps)
    : rng(RandomGenerator::from_seed(startup_seed)),
      noise_table(NoiseTable::from_seed(startup_seed)),
      scheduler(1000.0 / static_cast<double>(fps)) {}

std::unique_ptr<Engine> Engine::create(std::optional<std::uint32_t> fps) {
    // The memory comes before the flag: when there is none, the creation can
    // be tried again. Building the Engine in it allocates nothing more.
    std::unique_ptr<Engine, FreeStorage> storage(std::allocator<Engine>().allocate(1));
    if (initialized.exchange(true, std::memory_order_seq_cst)) {
        fatal(texts::already_initialized, texts::already_initialized_at);
    }
    std::uint32_t seed = draw_startup_seed();
    return std::unique_ptr<Engine>(new (storage.release()) Engine(seed, fps.value_or(default_fps)));
}

std::uint32_t Engine::draw_startup_seed() {
    // Rejecting the one value outside the range keeps the draw uniform.
    for (;;) {
        std::uint32_t value = 0;
        std::string error;
        if (!platform::fill_random(&value, sizeof value, error)) {
            fatal_here(texts::random_source_failed + error);
        }
        if (value != UINT32_MAX) return value;
    }
}

}  // namespace velmo
