#include <windows.h>

#include <cstdio>

#include "velmo/platform.hpp"

namespace velmo::platform {
namespace {

// The module that holds `address` and the address's offset in it, as
// "  <n>: 0x<address> <module>+0x<offset>".
void write_frame(unsigned index, void* address) noexcept {
    HMODULE module = nullptr;
    char path[MAX_PATH] = "?";
    if (::GetModuleHandleExA(
            GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
            static_cast<LPCSTR>(address), &module)) {
        if (::GetModuleFileNameA(module, path, sizeof path) == 0) path[0] = '?', path[1] = '\0';
    }
    const char* name = path;
    for (const char* c = path; *c != '\0'; ++c)
        if (*c == '\\' || *c == '/') name = c + 1;
    auto base = reinterpret_cast<std::uintptr_t>(module);
    auto at = reinterpret_cast<std::uintptr_t>(address);
    char line[MAX_PATH + 64];
    int length = std::snprintf(line, sizeof line, "%4u: 0x%016llx %s+0x%llx\n", index,
                               static_cast<unsigned long long>(at), name,
                               static_cast<unsigned long long>(at - base));
    if (length > 0) write_stderr({line, static_cast<std::size_t>(length)});
}

}  // namespace

void write_stderr(std::string_view text) noexcept {
    HANDLE handle = ::GetStdHandle(STD_ERROR_HANDLE);
    if (handle == nullptr || handle == INVALID_HANDLE_VALUE) return;
    const char* data = text.data();
    std::size_t left = text.size();
    while (left > 0) {
        DWORD piece = left > 0x40000000u ? 0x40000000u : static_cast<DWORD>(left);
        DWORD written = 0;
        if (!::WriteFile(handle, data, piece, &written, nullptr) || written == 0) return;
        data += written;
        left -= written;
    }
}

void write_native_backtrace() noexcept {
    // Older systems refuse more than 62 frames in one capture.
    void* frames[62];
    USHORT count = ::CaptureStackBackTrace(0, 62, frames, nullptr);
    for (USHORT i = 0; i < count; ++i) write_frame(i, frames[i]);
}

void exit_now(int status) noexcept { ::ExitProcess(static_cast<UINT>(status)); }

}  // namespace velmo::platform
