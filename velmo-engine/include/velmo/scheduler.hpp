// The fixed-time-step frame scheduler and the handler it drives.
#pragma once

#include <cstdint>

#include "velmo/clock.hpp"

namespace velmo {

class Engine;

// What the scheduler calls on a due frame: `update` once per elapsed period,
// then `draw` once. Either may re-enter the Engine.
class FrameHandler {
public:
    virtual ~FrameHandler() = default;
    virtual void update(Engine& engine) = 0;
    virtual void draw(Engine& engine) = 0;
};

class FrameScheduler {
public:
    double frame_period_ms;
    double next_frame_time = 0.0;
    std::uint32_t frame_count = 0;

    explicit FrameScheduler(double period_ms) noexcept : frame_period_ms(period_ms) {}

    // One scheduling step: runs the frames that are due at `clock`'s tick.
    // A due step makes one `update` per elapsed period (only one after a
    // stall of more than 100 ms, or on the first frame) and then one `draw`.
    // An exception from the handler abandons the step: the due time keeps
    // what it was moved to, and the interrupted call is not counted.
    void advance_frame(FrameHandler& handler, Engine& engine, Clock& clock);

private:
    bool clock_went_back(double elapsed) const noexcept;
    void reanchor(Clock& clock);
    void catch_up(FrameHandler& handler, Engine& engine, double elapsed);
    void run_frame(FrameHandler& handler, Engine& engine);
};

}  // namespace velmo
