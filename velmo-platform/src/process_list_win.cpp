#include <windows.h>
#include <winternl.h>

#include <algorithm>
#include <limits>
#include <memory>
#include <new>

#include "process_list_win.hpp"
#include "velmo/platform.hpp"

namespace velmo::platform {
namespace windows {
namespace {

constexpr SYSTEM_INFORMATION_CLASS system_process_information =
    static_cast<SYSTEM_INFORMATION_CLASS>(5);
constexpr NTSTATUS status_info_length_mismatch = static_cast<NTSTATUS>(0xC0000004);
// Headroom for processes that start between the size query and the retry.
constexpr std::size_t retry_headroom = 10240;

struct ProcessListBuffer {
    std::unique_ptr<unsigned char[]> data;
    ULONG size = 0;
};

// Reads the whole list, growing the buffer until it fits. No data on any
// failure other than a too-small buffer.
ProcessListBuffer read_process_list(std::size_t size) noexcept {
    size = std::min<std::size_t>(size, std::numeric_limits<ULONG>::max());
    for (;;) {
        // operator new[] aligns for every fundamental type, as the entries need.
        ProcessListBuffer buffer{
            std::unique_ptr<unsigned char[]>(new (std::nothrow) unsigned char[size]),
            static_cast<ULONG>(size)};
        if (buffer.data == nullptr) return {};
        ULONG needed = 0;
        NTSTATUS status = ::NtQuerySystemInformation(system_process_information, buffer.data.get(),
                                                     buffer.size, &needed);
        if (NT_SUCCESS(status)) return buffer;
        if (status != status_info_length_mismatch) return {};
        size = grown_size(size, needed);
        if (size == 0) return {};
    }
}

}  // namespace

std::size_t grown_size(std::size_t previous, unsigned long reported) noexcept {
    std::size_t next;
    if (reported != 0)
        next = std::size_t{reported} + retry_headroom;
    else if (previous != 0)
        next = previous * 2;
    else
        next = first_process_buffer_size;
    return next <= std::numeric_limits<ULONG>::max() ? next : 0;
}

std::optional<std::vector<std::uintptr_t>> ids_in_process_list(const unsigned char* data,
                                                               std::size_t size) noexcept {
    try {
        std::vector<std::uintptr_t> ids;
        std::size_t offset = 0;
        for (;;) {
            if (size - offset < sizeof(SYSTEM_PROCESS_INFORMATION)) return std::nullopt;
            const auto* entry = reinterpret_cast<const SYSTEM_PROCESS_INFORMATION*>(data + offset);
            // No filter: the idle process (0) and the system process count too.
            ids.push_back(reinterpret_cast<std::uintptr_t>(entry->UniqueProcessId));
            if (entry->NextEntryOffset == 0) return ids;
            offset += entry->NextEntryOffset;
            if (offset >= size) return std::nullopt;
        }
    } catch (const std::bad_alloc&) {
        return std::nullopt;
    }
}

std::optional<std::vector<std::uintptr_t>> list_process_ids(
    std::size_t first_buffer_size) noexcept {
    ProcessListBuffer list = read_process_list(first_buffer_size);
    if (list.data == nullptr) return std::nullopt;
    return ids_in_process_list(list.data.get(), list.size);
}

}  // namespace windows

bool process_exists(std::uint32_t pid) noexcept {
    auto ids = windows::list_process_ids();
    return ids && std::find(ids->begin(), ids->end(), std::uintptr_t{pid}) != ids->end();
}

}  // namespace velmo::platform
