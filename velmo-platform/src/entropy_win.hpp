// Windows random-source internals, exposed for the platform tests.
#pragma once

#include <cstddef>
#include <span>
#include <string>

namespace velmo::platform::windows {

// One way of filling a buffer with cryptographically random bytes. Returns
// false and describes the failure in `error` when it cannot.
using RandomSource = bool (*)(unsigned char* buffer, std::size_t size, std::string& error);

// Fills `buffer` from the first source in `sources` that succeeds. When every
// source fails, returns false with their failures, in order, in `error`.
bool fill_from_first_working(std::span<const RandomSource> sources, unsigned char* buffer,
                             std::size_t size, std::string& error) noexcept;

bool fill_from_bcrypt(unsigned char* buffer, std::size_t size, std::string& error);
bool fill_from_rtl_gen_random(unsigned char* buffer, std::size_t size, std::string& error);

}  // namespace velmo::platform::windows
