#include "unwound_backtrace_linux.hpp"

#include <dlfcn.h>
#include <elf.h>
#include <link.h>
#include <unwind.h>

#include <cstdint>

#include "velmo/platform.hpp"

namespace velmo::platform::unwound {
namespace {

constexpr int max_frames = 128;

struct Walk {
    std::uintptr_t frames[max_frames];
    int count = 0;
    // The unwinder reports first the frame that called it: write_backtrace's.
    bool skipped_own_frame = false;
};

_Unwind_Reason_Code record_frame(_Unwind_Context* context, void* data) {
    auto& walk = *static_cast<Walk*>(data);
    if (!walk.skipped_own_frame) {
        walk.skipped_own_frame = true;
        return _URC_NO_REASON;
    }
    auto address = _Unwind_GetIP(context);
    if (address == 0) return _URC_END_OF_STACK;
    walk.frames[walk.count++] = address;
    return walk.count == max_frames ? _URC_END_OF_STACK : _URC_NO_REASON;
}

void write_hex(std::uintptr_t value) noexcept {
    char digits[2 * sizeof value];
    std::size_t start = sizeof digits;
    do {
        digits[--start] = "0123456789abcdef"[value % 16];
        value /= 16;
    } while (value != 0);
    write_stderr({digits + start, sizeof digits - start});
}

// What glibc measures an offset without a symbol from: the file's load bias,
// which is its load address for a shared object or a position-independent
// executable (their first segment starts at 0), and 0 for a fixed-address
// executable, whose frames glibc then prints without parentheses.
std::uintptr_t load_bias(const void* file_base) {
    const auto* header = static_cast<const ElfW(Ehdr)*>(file_base);
    return header->e_type == ET_EXEC ? 0 : reinterpret_cast<std::uintptr_t>(file_base);
}

void write_frame(std::uintptr_t address) noexcept {
    // dladdr takes the unwinder's address as a pointer.
    // NOLINTNEXTLINE(performance-no-int-to-ptr)
    const auto* frame = reinterpret_cast<const void*>(address);
    Dl_info info{};
    if (::dladdr(frame, &info) != 0 && info.dli_fname != nullptr && info.dli_fname[0] != '\0') {
        write_stderr(info.dli_fname);
        const std::uintptr_t base = info.dli_sname != nullptr
                                        ? reinterpret_cast<std::uintptr_t>(info.dli_saddr)
                                        : load_bias(info.dli_fbase);
        if (info.dli_sname != nullptr || base != 0) {
            write_stderr("(");
            if (info.dli_sname != nullptr) write_stderr(info.dli_sname);
            write_stderr(address >= base ? "+0x" : "-0x");
            write_hex(address >= base ? address - base : base - address);
            write_stderr(")");
        }
    }
    write_stderr("[0x");
    write_hex(address);
    write_stderr("]\n");
}

}  // namespace

void write_backtrace() noexcept {
    Walk walk;
    _Unwind_Backtrace(record_frame, &walk);
    for (int i = 0; i < walk.count; ++i) write_frame(walk.frames[i]);
}

}  // namespace velmo::platform::unwound
