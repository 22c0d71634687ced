#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "frame_doubles.hpp"
#include "velmo/run_loop.hpp"

namespace velmo::testing {
namespace {

// Runs the loop on `clock` until the clock's script ends.
void run_until_script_ends(FrameHandler& handler, Clock& clock) {
    EXPECT_THROW(run_loop(test_engine(), handler, clock), EndOfScript);
}

// Puts the Engine's scheduler in a known state: running, not due before `due`.
void reset_scheduler(double period, double due) {
    FrameScheduler& scheduler = test_engine().scheduler;
    scheduler.frame_period_ms = period;
    scheduler.next_frame_time = due;
    scheduler.frame_count = 1;
}

// What one pass sleeps when it read t0, then t1 (the scheduler is not due).
std::vector<std::uint32_t> sleeps_after_pass(std::uint32_t t0, std::uint32_t t1) {
    reset_scheduler(1000.0 / 30.0, static_cast<double>(t0) + 20.0);
    ScriptedClock clock{t0, t0, t1};
    RecordingHandler handler;
    run_until_script_ends(handler, clock);
    EXPECT_EQ(handler.log, "");
    return clock.sleeps;
}

TEST(RunLoop, SleepsHalfOfWhatThePassLeftOfTheBudgetInWholeMilliseconds) {
    using Sleeps = std::vector<std::uint32_t>;
    EXPECT_EQ(sleeps_after_pass(5000, 5000), Sleeps{8});  // 16.67 / 2
    EXPECT_EQ(sleeps_after_pass(5000, 5003), Sleeps{6});  // 13.67 / 2
    EXPECT_EQ(sleeps_after_pass(5000, 5015), Sleeps{0});  // 1.67 / 2: a yield
    EXPECT_EQ(sleeps_after_pass(5000, 5016), Sleeps{0});  // 0.67 / 2: a yield
    EXPECT_EQ(sleeps_after_pass(5000, 5017), Sleeps{});   // overran: no sleep
}

TEST(RunLoop, PassAcrossTheTickWrapSleepsItsShortRemainder) {
    using Sleeps = std::vector<std::uint32_t>;
    EXPECT_EQ(sleeps_after_pass(UINT32_MAX - 1, 2), Sleeps{6});  // a 4 ms pass
    EXPECT_EQ(sleeps_after_pass(UINT32_MAX, 0), Sleeps{7});      // a 1 ms pass
}

TEST(RunLoop, PassDuringWhichTheClockWasSetBackDoesNotSleep) {
    using Sleeps = std::vector<std::uint32_t>;
    EXPECT_EQ(sleeps_after_pass(7200000, 3600000), Sleeps{});
    EXPECT_EQ(sleeps_after_pass(1000, 999), Sleeps{});
}

TEST(RunLoop, OverrunningPassStartsTheNextAtOnce) {
    reset_scheduler(1000.0 / 30.0, 1000.0);
    SimulatedClock clock(1000, 2);
    RecordingHandler handler;
    // The first draw takes 40 ms: that pass sleeps nothing.
    handler.on_call = [&](char kind, std::size_t index) {
        if (kind == 'd' && index == 1) clock.now += 40;
    };
    run_until_script_ends(handler, clock);
    EXPECT_EQ(clock.sleeps, (std::vector<std::uint32_t>{8, 8}));
    // Pass 1 at 1000 ran the frame and overran to 1040; pass 2 began at 1040
    // without sleeping, ran the frame due at 1033 and slept; pass 3 at 1048
    // found nothing due.
    EXPECT_EQ(handler.log, "udud");
    EXPECT_EQ(clock.now, 1056u);
}

TEST(RunLoop, PollsAboutEvery8msSoAFastFrameRateCatchesUpEachPass) {
    // 1000 fps: each due pass finds the 8 ms since the last one as 8 periods.
    reset_scheduler(1.0, 1000.0);
    SimulatedClock clock(1000, 10);
    RecordingHandler handler;
    run_until_script_ends(handler, clock);
    EXPECT_EQ(handler.log.substr(0, 2), "ud");
    EXPECT_EQ(handler.count('d'), 11u);
    EXPECT_EQ(handler.count('u'), 1u + 10u * 8u);
    EXPECT_EQ(test_engine().scheduler.frame_count, 1u + 1u + 80u);
}

TEST(RunLoop, SixtyFramesPerSecondKeepsItsUpdateRate) {
    // Polls at 1000, 1008, ..., 1992 (124 sleeps of 8 ms).
    reset_scheduler(1000.0 / 60.0, 1000.0);
    SimulatedClock clock(1000, 124);
    RecordingHandler handler;
    run_until_script_ends(handler, clock);
    // Grid points 1000, 1016.7, ..., 1983.3 up to the last poll: 60 of them.
    EXPECT_EQ(handler.count('u'), 60u);
    EXPECT_LE(handler.count('d'), 60u);
    EXPECT_GE(handler.count('d'), 55u);
}

TEST(RunLoop, KeepsRunningFramesAcrossTheTickWrap) {
    reset_scheduler(1000.0 / 60.0, 0.0);
    test_engine().scheduler.frame_count = 0;
    SimulatedClock clock(UINT32_MAX - 200, 50);  // 400 simulated ms
    RecordingHandler handler;
    run_until_script_ends(handler, clock);
    for (std::uint32_t ms : clock.sleeps) EXPECT_LE(ms, 8u);
    // About 24 frames in 400 ms; the re-anchor at the wrap may cost one.
    EXPECT_GE(handler.count('u'), 22u);
    EXPECT_LE(handler.count('u'), 25u);
    EXPECT_LT(clock.now, 400u);
}

}  // namespace
}  // namespace velmo::testing
