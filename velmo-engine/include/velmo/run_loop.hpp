// The loop behind run and show.
#pragma once

#include "velmo/clock.hpp"
#include "velmo/scheduler.hpp"

namespace velmo {

class Engine;

// Polls the Engine's scheduler forever: each pass advances the scheduler and
// then sleeps half of what the pass left of a 1000/60 ms budget. Leaves only
// by an exception (a fatal error) thrown from inside a pass.
[[noreturn]] void run_loop(Engine& engine, FrameHandler& handler, Clock& clock);

}  // namespace velmo
