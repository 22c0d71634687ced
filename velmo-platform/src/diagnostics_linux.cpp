#include <unistd.h>

#include <cerrno>

#include "velmo/platform.hpp"

namespace velmo::platform {

void write_stderr(std::string_view text) noexcept {
    const char* data = text.data();
    std::size_t left = text.size();
    while (left > 0) {
        ssize_t written = ::write(STDERR_FILENO, data, left);
        if (written < 0) {
            if (errno == EINTR) continue;
            return;
        }
        data += written;
        left -= static_cast<std::size_t>(written);
    }
}

#ifdef VELMO_COVERAGE
extern "C" void __gcov_dump();
#endif

void exit_now(int status) noexcept {
#ifdef VELMO_COVERAGE
    // _exit skips the exit handlers that would write a coverage build's counters.
    __gcov_dump();
#endif
    ::_exit(status);
}

}  // namespace velmo::platform
