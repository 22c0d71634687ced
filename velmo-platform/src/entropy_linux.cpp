#include <fcntl.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "velmo/platform.hpp"

namespace velmo::platform {
namespace {

// The system call itself, not glibc's getrandom(): that wrapper arrived in
// glibc 2.25, and the wheel runs on glibc 2.17. Blocks only until the kernel's
// pool is first initialised at boot. Returns 0 or the error number.
int read_getrandom(unsigned char* out, std::size_t size) noexcept {
    while (size > 0) {
        long got = ::syscall(SYS_getrandom, out, size, 0);
        if (got < 0) {
            if (errno == EINTR) continue;
            return errno;
        }
        out += got;
        size -= static_cast<std::size_t>(got);
    }
    return 0;
}

// Kernels before 3.17 have no getrandom; their /dev/urandom reads the same
// pool. Returns 0 or the error number.
int read_urandom(unsigned char* out, std::size_t size) noexcept {
    int fd = ::open("/dev/urandom", O_RDONLY | O_CLOEXEC);
    if (fd < 0) return errno;
    int code = 0;
    while (size > 0) {
        ssize_t got = ::read(fd, out, size);
        if (got < 0 && errno == EINTR) continue;
        if (got <= 0) {
            code = got < 0 ? errno : EIO;
            break;
        }
        out += got;
        size -= static_cast<std::size_t>(got);
    }
    ::close(fd);
    return code;
}

}  // namespace

bool fill_random(void* buffer, std::size_t size, std::string& error) noexcept {
    auto* out = static_cast<unsigned char*>(buffer);
    int code = read_getrandom(out, size);
    if (code == ENOSYS) code = read_urandom(out, size);
    if (code == 0) return true;
    try {
        error = std::strerror(code);
        error += " (os error " + std::to_string(code) + ")";
    } catch (...) {  // NOLINT(bugprone-empty-catch): the text is a courtesy; the failure stands
    }
    return false;
}

}  // namespace velmo::platform
