// The failure of `ticks` shared by every operating system's clock.
#pragma once

#include <cstdint>

namespace velmo::platform {

// The wall clock reads `nanoseconds_before` earlier than the Unix epoch: a
// fatal error whose message gives that distance in seconds, as in
// "SystemTimeError(2.5s)".
[[noreturn]] void wall_clock_before_epoch(std::uint64_t nanoseconds_before);

}  // namespace velmo::platform
