#include <sched.h>
#include <time.h>

#include <cerrno>
#include <cstdint>

#include "clock_error.hpp"
#include "velmo/platform.hpp"

namespace velmo::platform {
namespace {

constexpr long nanoseconds_per_second = 1000000000;

}  // namespace

std::uint32_t ticks() {
    timespec now{};
    ::clock_gettime(CLOCK_REALTIME, &now);
    // tv_nsec is never negative, so any instant before the epoch has tv_sec < 0.
    if (now.tv_sec < 0) {
        const std::int64_t since_epoch_ns =
            static_cast<std::int64_t>(now.tv_sec) * nanoseconds_per_second + now.tv_nsec;
        wall_clock_before_epoch(static_cast<std::uint64_t>(-since_epoch_ns));
    }
    // Whole milliseconds since the epoch; only the low 32 bits are kept.
    const std::uint64_t ms = static_cast<std::uint64_t>(now.tv_sec) * 1000u +
                             static_cast<std::uint64_t>(now.tv_nsec) / 1000000u;
    return static_cast<std::uint32_t>(ms);
}

namespace {

// Waits until `deadline` on the monotonic clock. The monotonic clock does not
// move when the system time is set, and an absolute deadline keeps the total
// length exact when a signal handler interrupts the wait and it is resumed.
bool sleep_until(const timespec& deadline) noexcept {
    for (;;) {
        int error = ::clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &deadline, nullptr);
        if (error == 0) return true;
        if (error != EINTR) return false;
    }
}

// The fallback when the deadline timer is refused (as under some clock
// interposers): a relative wait, resumed with what is left after a signal.
void sleep_for(timespec duration) noexcept {
    while (::nanosleep(&duration, &duration) != 0 && errno == EINTR) {
    }
}

}  // namespace

void sleep(std::uint32_t ms) {
    // Exactly `ms` milliseconds: whole seconds plus the remainder in nanoseconds.
    const timespec duration{static_cast<time_t>(ms / 1000u),
                            static_cast<long>(ms % 1000u) * 1000000L};
    if (ms == 0) {
        ::sched_yield();
        return;
    }
    timespec deadline{};
    if (::clock_gettime(CLOCK_MONOTONIC, &deadline) == 0) {
        deadline.tv_sec += duration.tv_sec;
        deadline.tv_nsec += duration.tv_nsec;
        if (deadline.tv_nsec >= nanoseconds_per_second) {
            deadline.tv_sec += 1;
            deadline.tv_nsec -= nanoseconds_per_second;
        }
        if (sleep_until(deadline)) return;
    }
    sleep_for(duration);
}

}  // namespace velmo::platform
