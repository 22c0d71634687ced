#include "velmo/clock.hpp"
#include "velmo/platform.hpp"

namespace velmo {

std::uint32_t SystemClock::ticks() { return platform::ticks(); }

void SystemClock::sleep(std::uint32_t ms) { platform::sleep(ms); }

}  // namespace velmo
