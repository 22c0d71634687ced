#include <sys/syscall.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "velmo/platform.hpp"

namespace velmo::platform {

bool fill_random(void* buffer, std::size_t size, std::string& error) noexcept {
    auto* out = static_cast<unsigned char*>(buffer);
    while (size > 0) {
        // Blocks only until the kernel's pool is first initialised at boot.
        // The system call itself, not glibc's getrandom(): that wrapper
        // arrived in glibc 2.25, and the wheel runs on glibc 2.17.
        long got = ::syscall(SYS_getrandom, out, size, 0);
        if (got < 0) {
            if (errno == EINTR) continue;
            int code = errno;
            try {
                error = std::strerror(code);
                error += " (os error " + std::to_string(code) + ")";
            } catch (...) {
            }
            return false;
        }
        out += got;
        size -= static_cast<std::size_t>(got);
    }
    return true;
}

}  // namespace velmo::platform
