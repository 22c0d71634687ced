// The loop behind run and show.
#pragma once

#include "velmo/clock.hpp"
#include "velmo/scheduler.hpp"

namespace velmo {

class Engine;

// Polls the Engine's scheduler forever: each pass advances the scheduler and
// then sleeps half of what the pass left of a 1000/60 ms budget. Leaves only
// by an exception (a fatal error) thrown from inside a pass.
//
// One thread at a time runs the Engine's loops: a loop started from inside a
// callback of the running loop nests in it, on the same thread, while a loop
// started from another thread is the fatal error "Velmo is already running in
// another thread", raised before it takes any step. The Engine is free for
// another thread once the outermost loop has been left.
[[noreturn]] void run_loop(Engine& engine, FrameHandler& handler, Clock& clock);

}  // namespace velmo
