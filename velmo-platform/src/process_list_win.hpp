// Windows process-list internals, exposed for the platform tests.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>

namespace velmo::platform::windows {

// The size of the first buffer that the system's process list is read into.
inline constexpr std::size_t first_process_buffer_size = 512 * 1024;

// The id of every entry of the system's process list, the idle (0) and system
// processes included, read into a buffer of `first_buffer_size` bytes that
// grows while the system answers that it is too small. Empty when the list
// cannot be read.
std::optional<std::vector<std::uintptr_t>> list_process_ids(
    std::size_t first_buffer_size = first_process_buffer_size) noexcept;

// The next buffer size after the system answered that `previous` bytes are
// too few and that it needs `reported` (0: no size given); 0 when it would
// not fit the 32-bit length the call takes.
std::size_t grown_size(std::size_t previous, unsigned long reported) noexcept;

// The ids of the entries of a process list as the system writes it: a chain
// of entries linked by the byte offset in each entry's first 32-bit field.
// Empty when an entry would lie outside the `size` bytes at `data`.
std::optional<std::vector<std::uintptr_t>> ids_in_process_list(const unsigned char* data,
                                                               std::size_t size) noexcept;

}  // namespace velmo::platform::windows
