#include "velmo/platform.hpp"
#include "velmo/clock.hpp"

namespace velmo {

std::uint32_t SystemClock::ticks() { return platform::ticks(); }

void SystemClock::sleep(std::uint32_t ms) { platform::sleep(ms); }

}  // namespace velmo
