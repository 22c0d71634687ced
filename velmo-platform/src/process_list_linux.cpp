#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "velmo/platform.hpp"

namespace velmo::platform {

// /proc/<id> resolves for every thread id, not only for processes, so the
// directory's presence is not enough: a process is a thread-group leader,
// whose Tgid equals its own id.
bool process_exists(std::uint32_t pid) noexcept {
    if (pid == 0) return false;
    char path[40];
    std::snprintf(path, sizeof path, "/proc/%u/status", pid);
    int fd = ::open(path, O_RDONLY | O_CLOEXEC);
    if (fd < 0) return false;
    char buffer[1024];
    ssize_t got = ::read(fd, buffer, sizeof buffer - 1);
    ::close(fd);
    if (got <= 0) return false;
    buffer[got] = '\0';
    const char* tgid = std::strstr(buffer, "\nTgid:");
    if (tgid == nullptr) return false;
    unsigned long value = std::strtoul(tgid + 6, nullptr, 10);
    return value == pid;
}

}  // namespace velmo::platform
