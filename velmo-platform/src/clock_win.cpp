#include <windows.h>

#include <cstdint>

#include "clock_error.hpp"
#include "clock_win.hpp"
#include "system_function_win.hpp"
#include "velmo/platform.hpp"

#ifndef CREATE_WAITABLE_TIMER_HIGH_RESOLUTION
#define CREATE_WAITABLE_TIMER_HIGH_RESOLUTION 0x00000002
#endif

namespace velmo::platform {
namespace windows {
namespace {

using ReadFileTime = void(WINAPI*)(LPFILETIME);

// The precise clock exists from Windows 8 on; older systems have only the
// one that advances with the scheduler tick.
ReadFileTime wall_clock_reader() noexcept {
    auto precise =
        find_system_function<ReadFileTime>(L"kernel32.dll", "GetSystemTimePreciseAsFileTime");
    return precise != nullptr ? precise : &::GetSystemTimeAsFileTime;
}

std::uint64_t read_wall_clock() noexcept {
    static const ReadFileTime reader = wall_clock_reader();
    FILETIME now{};
    reader(&now);
    return (static_cast<std::uint64_t>(now.dwHighDateTime) << 32) | now.dwLowDateTime;
}

}  // namespace

std::uint32_t ticks_from_file_time(std::uint64_t file_time) {
    if (file_time < unix_epoch_as_file_time) {
        // File times count 100-nanosecond units.
        wall_clock_before_epoch((unix_epoch_as_file_time - file_time) * 100u);
    }
    return static_cast<std::uint32_t>((file_time - unix_epoch_as_file_time) / 10000u);
}

bool wait_on_timer(std::uint32_t ms) noexcept {
    HANDLE timer = ::CreateWaitableTimerExW(nullptr, nullptr, CREATE_WAITABLE_TIMER_HIGH_RESOLUTION,
                                            TIMER_ALL_ACCESS);
    if (timer == nullptr) return false;
    // A negative due time is relative to now, in 100-nanosecond units.
    LARGE_INTEGER due{};
    due.QuadPart = -static_cast<LONGLONG>(ms) * 10000;
    bool waited = ::SetWaitableTimer(timer, &due, 0, nullptr, nullptr, FALSE) &&
                  ::WaitForSingleObject(timer, INFINITE) == WAIT_OBJECT_0;
    ::CloseHandle(timer);
    return waited;
}

}  // namespace windows

std::uint32_t ticks() { return windows::ticks_from_file_time(windows::read_wall_clock()); }

void sleep(std::uint32_t ms) {
    if (ms == 0) {
        ::Sleep(0);
        return;
    }
    // The duration is whole milliseconds already, so Sleep needs no rounding.
    if (!windows::wait_on_timer(ms)) ::Sleep(ms);
}

}  // namespace velmo::platform
