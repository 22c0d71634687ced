// The operating-system surface of the engine. Each operation has one
// implementation file per operating system; the build picks the file.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace velmo::platform {

// Whole wall-clock milliseconds since 1970-01-01 UTC, reduced modulo 2^32.
// A wall clock earlier than the epoch is a fatal error.
std::uint32_t ticks();

// Suspends the calling thread for `ms` milliseconds on a high-resolution
// timer; 0 gives up the rest of the time slice.
void sleep(std::uint32_t ms);

// Fills `buffer` from the operating system's cryptographic random source.
// Returns false, with the source's own error text in `error`, when the source
// cannot supply the bytes.
bool fill_random(void* buffer, std::size_t size, std::string& error) noexcept;

// True when the system's process list, read during this call, has an entry
// with the id `pid`; false otherwise, also when the list cannot be read.
bool process_exists(std::uint32_t pid) noexcept;

// Writes a symbolic backtrace of the calling thread's native stack to
// standard error.
void write_native_backtrace() noexcept;

// Writes all of `text` to standard error, unbuffered.
void write_stderr(std::string_view text) noexcept;

// Ends the process at once with `status`: no exit handlers, no destructors.
[[noreturn]] void exit_now(int status) noexcept;

}  // namespace velmo::platform
