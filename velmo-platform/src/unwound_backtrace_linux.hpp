// A backtrace taken with the unwinder that the C++ runtime links in, for C
// libraries without glibc's <execinfo.h> (musl). Visible to the platform
// tests, which compare it with glibc's own where glibc is there.
#pragma once

namespace velmo::platform::unwound {

// Writes the calling thread's native stack to standard error, from the
// caller of this function outwards, at most 128 frames, one line each in the
// format of glibc's backtrace_symbols_fd: "FILE(SYMBOL+0xOFFSET)[0xADDRESS]",
// "FILE(+0xOFFSET)[0xADDRESS]" for an address no exported symbol covers (the
// offset from the file's load address), "FILE[0xADDRESS]" in an executable
// that is not position-independent, "[0xADDRESS]" outside any loaded file.
// Allocates nothing, so it works when memory has run out.
void write_backtrace() noexcept;

}  // namespace velmo::platform::unwound
