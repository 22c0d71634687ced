// System calls refused the way a sandbox refuses them: a seccomp filter that
// fails one call with an error number, installed in a forked child.
#pragma once

#include <fcntl.h>
#include <linux/audit.h>
#include <linux/filter.h>
#include <linux/seccomp.h>
#include <sys/prctl.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <vector>

#include "velmo/platform.hpp"

namespace velmo::platform::testing {

#ifdef __x86_64__
constexpr std::uint32_t this_architecture = AUDIT_ARCH_X86_64;
#elif defined(__aarch64__)
constexpr std::uint32_t this_architecture = AUDIT_ARCH_AARCH64;
#else
constexpr std::uint32_t this_architecture = 0;
#endif

// A call's argument `index` whose low 32 bits, of those in `mask`, equal
// `value`.
struct ArgumentEquals {
    unsigned index;
    std::uint32_t value;
    std::uint32_t mask = UINT32_MAX;
};

// Fails every call of `number` (only those that match `only_when`, when given)
// with `error`, in this process and its children from now on. False when the
// filter cannot be installed (an emulator, a sandbox forbidding filters).
inline bool refuse_system_call(long number, int error,
                               std::optional<ArgumentEquals> only_when = std::nullopt) {
    if (this_architecture == 0) return false;
    const auto load = [](std::size_t offset) {
        return sock_filter BPF_STMT(BPF_LD | BPF_W | BPF_ABS, static_cast<std::uint32_t>(offset));
    };
    // Skips the next instruction when the loaded word equals `value`.
    const auto skip_if = [](std::uint32_t value) {
        return sock_filter BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, value, 1, 0);
    };
    const sock_filter allow = BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_ALLOW);
    std::vector<sock_filter> program = {
        load(offsetof(seccomp_data, arch)),
        skip_if(this_architecture),
        allow,
        load(offsetof(seccomp_data, nr)),
        skip_if(static_cast<std::uint32_t>(number)),
        allow,
    };
    if (only_when) {
        // The low half of the argument, on these little-endian machines.
        const std::size_t argument =
            offsetof(seccomp_data, args) + only_when->index * sizeof(std::uint64_t);
        const sock_filter keep_masked = BPF_STMT(BPF_ALU | BPF_AND | BPF_K, only_when->mask);
        program.insert(program.end(),
                       {load(argument), keep_masked, skip_if(only_when->value), allow});
    }
    program.push_back(
        BPF_STMT(BPF_RET | BPF_K,
                 SECCOMP_RET_ERRNO | (static_cast<std::uint32_t>(error) & SECCOMP_RET_DATA)));
    sock_fprog filter{static_cast<unsigned short>(program.size()), program.data()};
    return ::prctl(PR_SET_NO_NEW_PRIVS, 1, 0, 0, 0) == 0 &&
           ::syscall(SYS_seccomp, SECCOMP_SET_MODE_FILTER, 0, &filter) == 0;
}

#ifdef SYS_open
constexpr long open_system_call = SYS_open;
#else
constexpr long open_system_call = -1;  // aarch64 has openat alone
#endif

// Fails with `error` every open whose flags hold `flags`, with that access
// mode, whichever call the C library opens with: glibc's open calls openat,
// musl's calls open and adds O_LARGEFILE to the flags.
inline bool refuse_opening(std::uint32_t flags, int error) {
    const std::uint32_t mask = flags | O_ACCMODE;
    return refuse_system_call(SYS_openat, error, {{2, flags, mask}}) &&
           (open_system_call < 0 ||
            refuse_system_call(open_system_call, error, {{1, flags, mask}}));
}

// Exit status of a check run in a forked child, so that a filter it installs
// stays there. 77 means "cannot be set up here". The child ends through
// exit_now, which keeps a coverage build's counts.
inline int run_in_child(const std::function<int()>& check) {
    pid_t child = ::fork();
    if (child == 0) exit_now(check());
    int status = 0;
    ::waitpid(child, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

constexpr int cannot_set_up = 77;

}  // namespace velmo::platform::testing
