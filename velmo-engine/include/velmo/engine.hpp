// The Engine: the one object per process that holds all mutable state.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <optional>
#include <thread>

#include "velmo/noise.hpp"
#include "velmo/random.hpp"
#include "velmo/scheduler.hpp"

namespace velmo {

inline constexpr std::uint32_t default_fps = 30;

class Engine {
public:
    RandomGenerator rng;
    NoiseTable noise_table;
    FrameScheduler scheduler;
    // The thread whose run loop drives `scheduler`, none while no loop runs:
    // the scheduler is only ever advanced from that one thread.
    std::atomic<std::thread::id> loop_thread;

    // Creates the process's Engine from an optional frame rate (30 when
    // absent). Only the first call in a process succeeds; every later one is
    // the fatal error "Velmo already initialized". A random source that cannot
    // supply the start-up seed is fatal too, and leaves the process unable to
    // create an Engine at all; running out of memory (std::bad_alloc) does not.
    static std::unique_ptr<Engine> create(std::optional<std::uint32_t> fps);

    // Draws the start-up seed: uniform over 0 to 4294967294.
    static std::uint32_t draw_startup_seed();

    // Builds an Engine from a given seed and frame rate without claiming the
    // process's one Engine: for `create`, and for tests that drive parts of
    // an Engine on their own.
    Engine(std::uint32_t startup_seed, std::uint32_t fps);
};

}  // namespace velmo
