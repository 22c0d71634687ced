#ifdef _WIN32

#include <windows.h>

#include <algorithm>
#include <chrono>
#include <cstdint>

#include <gtest/gtest.h>

#include "../src/clock_win.hpp"
#include "velmo/compat_texts.hpp"
#include "velmo/fatal.hpp"
#include "velmo/platform.hpp"

namespace {

using velmo::platform::windows::ticks_from_file_time;
using velmo::platform::windows::unix_epoch_as_file_time;

std::uint32_t host_clock_ticks() {
    auto since_epoch = std::chrono::system_clock::now().time_since_epoch();
    return static_cast<std::uint32_t>(
        std::chrono::duration_cast<std::chrono::milliseconds>(since_epoch).count());
}

double elapsed_ms(void (*action)(std::uint32_t), std::uint32_t ms) {
    LARGE_INTEGER frequency, start, end;
    ::QueryPerformanceFrequency(&frequency);
    ::QueryPerformanceCounter(&start);
    action(ms);
    ::QueryPerformanceCounter(&end);
    return static_cast<double>(end.QuadPart - start.QuadPart) * 1000.0 /
           static_cast<double>(frequency.QuadPart);
}

TEST(WindowsTicks, ConvertsFileTimeToLow32BitsOfEpochMilliseconds) {
    EXPECT_EQ(ticks_from_file_time(unix_epoch_as_file_time), 0u);
    // Sub-millisecond parts are truncated, not rounded.
    EXPECT_EQ(ticks_from_file_time(unix_epoch_as_file_time + 9999), 0u);
    EXPECT_EQ(ticks_from_file_time(unix_epoch_as_file_time + 10000), 1u);
    // 2^32 ms after the epoch the count wraps to 0.
    const std::uint64_t wrap = unix_epoch_as_file_time + (std::uint64_t{1} << 32) * 10000;
    EXPECT_EQ(ticks_from_file_time(wrap - 10000), 4294967295u);
    EXPECT_EQ(ticks_from_file_time(wrap), 0u);
    // 2024-01-01T00:00:00Z is 1704067200000 ms after the epoch.
    EXPECT_EQ(ticks_from_file_time(unix_epoch_as_file_time + 1704067200000ull * 10000),
              static_cast<std::uint32_t>(1704067200000ull));
}

TEST(WindowsTicks, ReadingBeforeTheEpochIsFatalAtTheClockLocation) {
    testing::internal::CaptureStderr();
    EXPECT_THROW(ticks_from_file_time(unix_epoch_as_file_time - 1), velmo::FatalError);
    std::string diagnostic = testing::internal::GetCapturedStderr();
    EXPECT_NE(diagnostic.find(velmo::texts::clock_failed_at.text() + ":"), std::string::npos)
        << diagnostic;
    EXPECT_NE(diagnostic.find(velmo::texts::clock_before_epoch), std::string::npos) << diagnostic;
}

TEST(WindowsTicks, AgreesWithTheHostClock) {
    constexpr std::uint32_t tolerance_ms = 2;
    for (int i = 0; i < 20; ++i) {
        std::uint32_t before = host_clock_ticks();
        std::uint32_t now = velmo::platform::ticks();
        std::uint32_t after = host_clock_ticks();
        // `now` must lie in [before - tolerance, after + tolerance]; unsigned
        // differences keep that right across the 32-bit wrap.
        std::uint32_t from_low_end = now - (before - tolerance_ms);
        EXPECT_LE(from_low_end, after - before + 2 * tolerance_ms)
            << "before " << before << " ticks " << now << " after " << after;
        ::Sleep(1);
    }
}

TEST(WindowsSleep, LastsAboutAsLongAsAsked) {
    EXPECT_LT(elapsed_ms(velmo::platform::sleep, 0), 500.0);
    double one = elapsed_ms(velmo::platform::sleep, 1);
    EXPECT_GE(one, 0.9);
    EXPECT_LT(one, 500.0);
    double twenty = elapsed_ms(velmo::platform::sleep, 20);
    EXPECT_GE(twenty, 19.9);
    EXPECT_LT(twenty, 1000.0);
}

// Sleep is the fallback for a timer that cannot wait, never a second wait
// after it. The shortest of three tries keeps a loaded machine's delays out.
TEST(WindowsSleep, WaitsOnceNotTwice) {
    double shortest = elapsed_ms(velmo::platform::sleep, 100);
    for (int i = 0; i < 2; ++i)
        shortest = std::min(shortest, elapsed_ms(velmo::platform::sleep, 100));
    EXPECT_LT(shortest, 190.0);
}

bool timer_waited = false;

TEST(WindowsSleep, HighResolutionTimerIsAvailableAndWaits) {
    double took = elapsed_ms(
        [](std::uint32_t ms) { timer_waited = velmo::platform::windows::wait_on_timer(ms); }, 5);
    EXPECT_TRUE(timer_waited);
    EXPECT_GE(took, 4.9);
}

}  // namespace

#endif  // _WIN32
