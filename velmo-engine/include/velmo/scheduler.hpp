// The fixed-time-step frame scheduler and the run loop that polls it.
#pragma once

#include <cstdint>

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

// The scheduler's and the run loop's only view of time, so tests can script it.
class Clock {
public:
    virtual ~Clock() = default;
    virtual std::uint32_t ticks() = 0;
    virtual void sleep(std::uint32_t ms) = 0;
};

// The wall clock and timer of the platform layer.
class SystemClock final : public Clock {
public:
    std::uint32_t ticks() override;
    void sleep(std::uint32_t ms) override;
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

// Polls the Engine's scheduler forever: each pass advances the scheduler and
// then sleeps half of what the pass left of a 1000/60 ms budget. Leaves only
// by an exception (a fatal error) thrown from inside a pass.
[[noreturn]] void run_loop(Engine& engine, FrameHandler& handler, Clock& clock);

}  // namespace velmo
