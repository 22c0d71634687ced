#include "velmo/fatal.hpp"
#include "velmo/engine.hpp"
#include "velmo/scheduler.hpp"

// Placeholder until the scheduler lands.
namespace velmo {
void FrameScheduler::advance_frame(FrameHandler&, Engine&, Clock&) {
    fatal_here("the frame scheduler is not built yet");
}
void run_loop(Engine& engine, FrameHandler& handler, Clock& clock) {
    for (;;) engine.scheduler.advance_frame(handler, engine, clock);
}
}  // namespace velmo
