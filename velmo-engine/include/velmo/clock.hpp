// The engine's view of time: milliseconds and sleeps, real or scripted.
#pragma once

#include <cstdint>

namespace velmo {

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

}  // namespace velmo
