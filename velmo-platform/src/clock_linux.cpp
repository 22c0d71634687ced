#include <sched.h>
#include <time.h>

#include <cerrno>
#include <cstdint>

#include "velmo/fatal.hpp"
#include "velmo/platform.hpp"

namespace velmo::platform {

std::uint32_t ticks() {
    timespec now{};
    ::clock_gettime(CLOCK_REALTIME, &now);
    if (now.tv_sec < 0) {
        fatal("the wall clock reads earlier than the Unix epoch: SystemTimeError",
              {"velmo-platform/src/platform", 39, 66});
    }
    // Whole milliseconds since the epoch; only the low 32 bits are kept.
    std::uint64_t ms = static_cast<std::uint64_t>(now.tv_sec) * 1000u +
                       static_cast<std::uint64_t>(now.tv_nsec) / 1000000u;
    return static_cast<std::uint32_t>(ms);
}

void sleep(std::uint32_t ms) {
    if (ms == 0) {
        ::sched_yield();
        return;
    }
    // An absolute deadline keeps the total length exact when a signal
    // interrupts the wait and it has to be resumed.
    timespec deadline{};
    ::clock_gettime(CLOCK_MONOTONIC, &deadline);
    deadline.tv_sec += static_cast<time_t>(ms / 1000u);
    deadline.tv_nsec += static_cast<long>(ms % 1000u) * 1000000L;
    if (deadline.tv_nsec >= 1000000000L) {
        deadline.tv_sec += 1;
        deadline.tv_nsec -= 1000000000L;
    }
    while (::clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &deadline, nullptr) == EINTR) {
    }
}

}  // namespace velmo::platform
