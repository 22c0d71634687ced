// The native backtrace where the C library has no <execinfo.h> (musl).
#include "unwound_backtrace_linux.hpp"
#include "velmo/platform.hpp"

namespace velmo::platform {

void write_native_backtrace() noexcept { unwound::write_backtrace(); }

}  // namespace velmo::platform
