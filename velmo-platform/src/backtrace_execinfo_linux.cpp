// The native backtrace with glibc's <execinfo.h>.
#include <execinfo.h>
#include <unistd.h>

#include "velmo/platform.hpp"

namespace velmo::platform {

void write_native_backtrace() noexcept {
    void* frames[128];
    int count = ::backtrace(frames, 128);
    ::backtrace_symbols_fd(frames, count, STDERR_FILENO);
}

}  // namespace velmo::platform
