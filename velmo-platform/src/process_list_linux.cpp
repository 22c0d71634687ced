#include "process_list_linux.hpp"

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cerrno>
#include <charconv>
#include <climits>
#include <cstddef>
#include <cstring>

#include "velmo/platform.hpp"

namespace velmo::platform {
namespace proc {
namespace {

constexpr char proc_prefix[] = "/proc/";
constexpr std::size_t proc_prefix_length = sizeof proc_prefix - 1;
// The most decimal digits an unsigned 32-bit process id can have.
constexpr std::size_t max_pid_digits = 10;

// "/proc/" and up to ten digits.
struct ProcPath {
    char text[24];
};

ProcPath proc_path(std::uint32_t pid) {
    ProcPath path{};
    std::memcpy(path.text, proc_prefix, proc_prefix_length);
    char* digits = path.text + proc_prefix_length;
    char* end = std::to_chars(digits, path.text + sizeof path.text - 1, pid).ptr;
    *end = '\0';
    return path;
}

// The record getdents64 fills, one per directory entry.
struct DirectoryEntry {
    std::uint64_t inode;
    std::int64_t next_offset;
    unsigned short length;
    unsigned char type;
    char name[1];
};

// A name made of decimal digits alone, as the kernel prints a process id;
// false for "self", "sys" and the other entries of /proc.
bool parse_process_id(const char* name, std::uint64_t& id) {
    std::size_t size = std::strlen(name);
    if (size == 0 || size > max_pid_digits) return false;
    auto [end, error] = std::from_chars(name, name + size, id);
    return error == std::errc{} && end == name + size;
}

enum class Scan : std::uint8_t { found, passed, more };

// Process entries come in ascending order of id, so an entry past `pid` ends
// the search as surely as the end of the listing does.
Scan scan_entries(const char* buffer, long size, std::uint32_t pid) {
    for (long offset = 0; offset < size;) {
        const auto* entry = reinterpret_cast<const DirectoryEntry*>(buffer + offset);
        std::uint64_t id = 0;
        if (parse_process_id(entry->name, id)) {
            if (id == pid) return Scan::found;
            if (id > pid) return Scan::passed;
        }
        offset += entry->length;
    }
    return Scan::more;
}

// The listing of /proc puts process id n at offset 258 + n, after "self" and
// "thread-self" at 256 and 257 (kernels before 3.17, without "thread-self",
// at 257 + n). Starting at 256 + n reaches the entry on either layout, and
// the one or two entries read before it are passed over by the scan.
constexpr off_t first_process_offset = 256;

}  // namespace

Leader thread_group_leader(std::uint32_t pid) noexcept {
    if (pid == 0 || pid > INT_MAX) return Leader::no;
    // Signal 0 is checked and never sent. The kernel looks the thread up by
    // id and requires its thread group to have that same id before it checks
    // permission, so a refusal still names a leader.
    auto id = static_cast<pid_t>(pid);
    if (::syscall(SYS_tgkill, id, id, 0) == 0) return Leader::yes;
    switch (errno) {
        case ESRCH: return Leader::no;
        case EPERM:
        case EACCES: return Leader::yes;
        default: return Leader::unknown;  // a sandbox that filters the call
    }
}

bool shown_under_proc(std::uint32_t pid) noexcept {
    // stat applies the same hidepid check as the listing (the kernel keeps
    // the two consistent on purpose); open and access would answer EPERM for
    // hidepid=1, which hides nothing from the listing.
    struct stat status;
    return ::stat(proc_path(pid).text, &status) == 0;
}

bool listed_in_proc(std::uint32_t pid) noexcept {
    int directory = ::open("/proc", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (directory < 0) return false;
    // Should the seek be refused, the listing is read from its start: the
    // same answer, later.
    (void)::lseek(directory, first_process_offset + static_cast<off_t>(pid), SEEK_SET);
    alignas(DirectoryEntry) char buffer[1024];
    Scan scan = Scan::more;
    while (scan == Scan::more) {
        long size = ::syscall(SYS_getdents64, directory, buffer, sizeof buffer);
        if (size <= 0) break;
        scan = scan_entries(buffer, size, pid);
    }
    ::close(directory);
    return scan == Scan::found;
}

}  // namespace proc

// When /proc is mounted for the caller's pid namespace, its listing holds
// exactly the thread-group leaders that hidepid lets the caller see. The
// leader check answers in a system call and settles every missing id; the
// visibility check then costs one path look-up. The two probes are a
// microsecond apart, and the answer is one that held during the call.
//
// Ids are positive pid_t values, and the idle task (id 0) has no entry.
// Should /proc belong to another pid namespace, the answer is a leader of the
// caller's namespace whose id /proc also shows.
bool process_exists(std::uint32_t pid) noexcept {
    if (pid == 0 || pid > INT_MAX) return false;
    switch (proc::thread_group_leader(pid)) {
        case proc::Leader::no: return false;
        case proc::Leader::yes: return proc::shown_under_proc(pid);
        case proc::Leader::unknown: break;
    }
    return proc::listed_in_proc(pid);
}

}  // namespace velmo::platform
