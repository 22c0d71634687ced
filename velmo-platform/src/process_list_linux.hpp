// The pieces behind `process_exists` on Linux, visible to the platform tests.
// The process list is the set of numeric entries that a directory listing of
// /proc returns: thread-group leaders (zombies included) of the pid namespace
// that /proc was mounted for, less those its hidepid option hides from us.
#pragma once

#include <cstdint>

namespace velmo::platform::proc {

enum class Leader : std::uint8_t { yes, no, unknown };

// Asks the kernel whether `pid` is a thread-group leader in the caller's pid
// namespace, without signalling it; `unknown` when the kernel will not say.
Leader thread_group_leader(std::uint32_t pid) noexcept;

// True when /proc shows a directory for `pid` to this caller. It shows one for
// every thread id too; hidepid hides processes from the listing and from this
// look-up alike.
bool shown_under_proc(std::uint32_t pid) noexcept;

// True when the listing of /proc has the entry `pid`, read from its place in
// the listing on. Exact but slower; used when the kernel will not say whether
// `pid` leads a thread group.
bool listed_in_proc(std::uint32_t pid) noexcept;

}  // namespace velmo::platform::proc
