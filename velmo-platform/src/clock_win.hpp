// Windows clock internals, exposed for the platform tests.
#pragma once

#include <cstdint>

namespace velmo::platform::windows {

// 100-nanosecond intervals from 1601-01-01 to 1970-01-01 UTC.
inline constexpr std::uint64_t unix_epoch_as_file_time = 116444736000000000ull;

// The tick value of a wall-clock reading in 100-nanosecond units since 1601:
// whole milliseconds since the Unix epoch, low 32 bits. A reading earlier
// than the epoch is a fatal error.
std::uint32_t ticks_from_file_time(std::uint64_t file_time);

// Waits `ms` (> 0) milliseconds on a high-resolution waitable timer. False,
// without having waited, when the timer cannot be created, set or waited on.
bool wait_on_timer(std::uint32_t ms) noexcept;

}  // namespace velmo::platform::windows
