#include <gtest/gtest.h>

#include <signal.h>
#include <sys/time.h>
#include <time.h>

#include <chrono>
#include <cstdint>

#include "refusing_filter_linux.hpp"
#include "velmo/platform.hpp"

namespace velmo::platform {
namespace {

std::uint32_t wall_clock_ms() {
    timespec now{};
    ::clock_gettime(CLOCK_REALTIME, &now);
    return static_cast<std::uint32_t>(static_cast<std::uint64_t>(now.tv_sec) * 1000u +
                                      static_cast<std::uint64_t>(now.tv_nsec) / 1000000u);
}

// Milliseconds that a call of sleep(ms) took on the steady clock.
double timed_sleep_ms(std::uint32_t ms) {
    auto start = std::chrono::steady_clock::now();
    sleep(ms);
    std::chrono::duration<double, std::milli> took = std::chrono::steady_clock::now() - start;
    return took.count();
}

TEST(Ticks, IsTheLow32BitsOfTheWallClockInMilliseconds) {
    for (int i = 0; i < 100; ++i) {
        std::uint32_t before = wall_clock_ms();
        std::uint32_t tick = ticks();
        std::uint32_t after = wall_clock_ms();
        // Unsigned differences stay right across the wrap.
        EXPECT_LE(static_cast<std::uint32_t>(tick - before),
                  static_cast<std::uint32_t>(after - before));
    }
}

TEST(Ticks, AdvancesWithTheClock) {
    std::uint32_t first = ticks();
    sleep(30);
    std::uint32_t elapsed = ticks() - first;
    EXPECT_GE(elapsed, 29u);  // a millisecond of truncation at each end
    EXPECT_LT(elapsed, 10000u);
}

TEST(Sleep, LastsAtLeastTheRequestedMilliseconds) {
    // Each time: a yield in place of the wait may by chance take 1 ms once.
    for (int i = 0; i < 20; ++i) EXPECT_GE(timed_sleep_ms(1), 1.0);
    EXPECT_GE(timed_sleep_ms(8), 8.0);
    // Whole seconds and the millisecond remainder both count, and the
    // remainder's nanoseconds almost always carry into the deadline's second.
    double long_sleep = timed_sleep_ms(1999);
    EXPECT_GE(long_sleep, 1999.0);
    EXPECT_LT(long_sleep, 10000.0);  // not read as seconds or microseconds
}

TEST(Sleep, ZeroOnlyYields) { EXPECT_LT(timed_sleep_ms(0), 1000.0); }

void ignore_alarm(int) {}

// timed_sleep_ms(ms) with a signal handler run first after `first_us`, then
// every `every_us` (0: once).
double timed_sleep_among_signals_ms(std::uint32_t ms, long first_us, long every_us) {
    struct sigaction action{};
    action.sa_handler = ignore_alarm;  // no SA_RESTART: the wait sees EINTR
    struct sigaction previous{};
    if (::sigaction(SIGALRM, &action, &previous) != 0) return -1.0;
    itimerval timer{{0, every_us}, {first_us / 1000000, first_us % 1000000}};
    ::setitimer(ITIMER_REAL, &timer, nullptr);

    double took = timed_sleep_ms(ms);

    itimerval off{};
    ::setitimer(ITIMER_REAL, &off, nullptr);
    ::sigaction(SIGALRM, &previous, nullptr);
    return took;
}

// Interrupted once near its end, the wait goes on for what is left, not for
// its full length again (250 + 300 ms); interrupted many times, it still
// lasts its full length.
bool resumes_after_signals() {
    return timed_sleep_among_signals_ms(300, 250000, 0) < 450.0 &&
           timed_sleep_among_signals_ms(60, 5000, 5000) >= 60.0;
}

TEST(Sleep, ResumesWhenASignalHandlerInterruptsIt) { EXPECT_TRUE(resumes_after_signals()); }

// Where the absolute deadline timer is refused (a sandbox or a clock
// interposer), the relative wait must last as long, interrupted or not.
TEST(Sleep, FallsBackToARelativeWaitWhenTheDeadlineTimerIsRefused) {
    int status = testing::run_in_child([] {
        if (!testing::refuse_system_call(SYS_clock_nanosleep, EPERM, {{1, TIMER_ABSTIME}})) {
            return testing::cannot_set_up;
        }
        timespec past{};
        if (::clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &past, nullptr) != EPERM) return 1;
        if (timed_sleep_ms(30) < 30.0) return 2;
        if (!resumes_after_signals()) return 3;
        return 0;
    });
    if (status == testing::cannot_set_up) GTEST_SKIP() << "cannot install a seccomp filter here";
    EXPECT_EQ(status, 0);
}

}  // namespace
}  // namespace velmo::platform
