#include "velmo/scheduler.hpp"

#include <cstdint>

#include "velmo/engine.hpp"
#include "velmo/saturate.hpp"

namespace velmo {
namespace {

// A step later than this drops the missed frames instead of catching up.
constexpr double stall_limit_ms = 100.0;

}  // namespace

// In steady running the next due time is never more than one period ahead of
// the tick. Further ahead than a period plus the stall margin, the tick went
// back: the 32-bit count wrapped, or the wall clock was set back. Waiting for
// the tick to catch up would stop frames for up to 49 days, so the grid is
// re-anchored instead. An infinite period (frame rate 0) never qualifies.
bool FrameScheduler::clock_went_back(double elapsed) const noexcept {
    return -elapsed > frame_period_ms + stall_limit_ms;
}

void FrameScheduler::advance_frame(FrameHandler& handler, Engine& engine, Clock& clock) {
    const std::uint32_t now = clock.ticks();
    const double elapsed = static_cast<double>(now) - next_frame_time;

    if (elapsed < 0.0) {
        if (!clock_went_back(elapsed)) return;
        reanchor(clock);
    } else if (frame_count == 0) {
        next_frame_time = static_cast<double>(now) + frame_period_ms;
    } else if (elapsed > stall_limit_ms) {
        reanchor(clock);
    } else {
        catch_up(handler, engine, elapsed);
    }
    run_frame(handler, engine);
}

void FrameScheduler::reanchor(Clock& clock) {
    next_frame_time = static_cast<double>(clock.ticks()) + frame_period_ms;
}

// Keeps the grid's phase: the due time moves to the first grid point later
// than now, and one `update` runs for each period passed on the way.
void FrameScheduler::catch_up(FrameHandler& handler, Engine& engine, double elapsed) {
    const std::uint32_t missed = saturate_to<std::uint32_t>(elapsed / frame_period_ms);
    const std::uint64_t grid_points = static_cast<std::uint64_t>(missed) + 1;
    next_frame_time = next_frame_time + static_cast<double>(grid_points) * frame_period_ms;
    for (std::uint32_t i = 0; i < missed; ++i) {
        handler.update(engine);
        ++frame_count;
    }
}

void FrameScheduler::run_frame(FrameHandler& handler, Engine& engine) {
    handler.update(engine);
    handler.draw(engine);
    ++frame_count;
}

}  // namespace velmo
