#include "clock_error.hpp"

#include <cstdio>
#include <string>

#include "velmo/compat_texts.hpp"
#include "velmo/fatal.hpp"

namespace velmo::platform {

void wall_clock_before_epoch(std::uint64_t nanoseconds_before) {
    constexpr std::uint64_t nanoseconds_per_second = 1000000000;
    char seconds[48];
    int length =
        std::snprintf(seconds, sizeof seconds, "%llu.%09llu",
                      static_cast<unsigned long long>(nanoseconds_before / nanoseconds_per_second),
                      static_cast<unsigned long long>(nanoseconds_before % nanoseconds_per_second));
    // No trailing zeros, and no point for whole seconds.
    while (length > 0 && seconds[length - 1] == '0') --length;
    if (length > 0 && seconds[length - 1] == '.') --length;
    std::string message = texts::clock_before_epoch;
    message.append(seconds, static_cast<std::size_t>(length));
    message += "s)";
    fatal(message, texts::clock_failed_at);
}

}  // namespace velmo::platform
