#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <limits>

#include "frame_doubles.hpp"
#include "velmo/fatal.hpp"
#include "velmo/scheduler.hpp"

namespace velmo::testing {
namespace {

constexpr double period_30 = 1000.0 / 30.0;  // 33.333333333333336
constexpr double period_60 = 1000.0 / 60.0;  // 16.666666666666668
constexpr double infinite_period = std::numeric_limits<double>::infinity();

// A scheduler that has already run frames, with the given due time.
FrameScheduler running(double period, double next_frame_time, std::uint32_t frame_count = 5) {
    FrameScheduler scheduler(period);
    scheduler.next_frame_time = next_frame_time;
    scheduler.frame_count = frame_count;
    return scheduler;
}

struct Step {
    explicit Step(FrameScheduler& s) : scheduler(s) {}

    FrameScheduler& scheduler;
    RecordingHandler handler;

    // Advances once with the clock reading `tick` (and `fresh` if re-read).
    std::string at(std::uint32_t tick, std::uint32_t fresh = 0) {
        ScriptedClock clock{tick, fresh};
        handler.log.clear();
        scheduler.advance_frame(handler, test_engine(), clock);
        return handler.log;
    }
};

TEST(FrameScheduler, FirstFrameRunsOnceWhateverTheTickAndAnchorsTheGrid) {
    for (std::uint32_t tick : {0u, 12345u, UINT32_MAX}) {
        FrameScheduler scheduler(period_30);
        EXPECT_EQ(Step{scheduler}.at(tick), "ud") << tick;
        EXPECT_EQ(scheduler.frame_count, 1u);
        EXPECT_EQ(scheduler.next_frame_time, static_cast<double>(tick) + period_30);
    }
}

TEST(FrameScheduler, StepBeforeTheDueTimeChangesNothing) {
    FrameScheduler scheduler = running(period_30, 1000.5);
    EXPECT_EQ(Step{scheduler}.at(1000), "");
    EXPECT_EQ(scheduler.next_frame_time, 1000.5);
    EXPECT_EQ(scheduler.frame_count, 5u);
}

TEST(FrameScheduler, StepExactlyAtTheDueTimeRunsOneFrame) {
    FrameScheduler scheduler = running(period_30, 1000.0);
    EXPECT_EQ(Step{scheduler}.at(1000), "ud");
    EXPECT_EQ(scheduler.next_frame_time, 1000.0 + 1.0 * period_30);
    EXPECT_EQ(scheduler.frame_count, 6u);
}

TEST(FrameScheduler, LateStepsCatchUpOneUpdatePerPeriodAndKeepTheGridPhase) {
    struct Case {
        double period;
        std::uint32_t late_ms;
        const char* calls;
        double periods_moved;
    };
    const Case cases[] = {
        {period_30, 70, "uuud", 3.0},    // 70 / 33.3 = 2.1 periods passed
        {period_30, 100, "uuuud", 4.0},  // exactly 100 ms is not a stall
        {period_60, 50, "uuuud", 4.0},
        {1.0, 8, "uuuuuuuuud", 9.0},  // 1000 fps, a pass of about 8 ms
    };
    for (const Case& c : cases) {
        FrameScheduler scheduler = running(c.period, 1000.0);
        EXPECT_EQ(Step{scheduler}.at(1000 + c.late_ms), c.calls) << c.late_ms;
        EXPECT_EQ(scheduler.next_frame_time, 1000.0 + c.periods_moved * c.period);
        EXPECT_GT(scheduler.next_frame_time, 1000.0 + c.late_ms);
        EXPECT_EQ(scheduler.frame_count, 5u + (std::string(c.calls).size() - 1));
    }
}

TEST(FrameScheduler, StallOfMoreThan100msDropsFramesAndReanchorsAtAFreshTick) {
    FrameScheduler scheduler = running(period_30, 999.5);
    EXPECT_EQ(Step{scheduler}.at(1100, 1103), "ud");  // 100.5 ms late
    EXPECT_EQ(scheduler.next_frame_time, 1103.0 + period_30);
    EXPECT_EQ(scheduler.frame_count, 6u);
}

TEST(FrameScheduler, ZeroFrameRateRunsTheFirstFrameOnly) {
    FrameScheduler scheduler(1000.0 / 0.0);
    EXPECT_EQ(Step{scheduler}.at(5000), "ud");
    EXPECT_EQ(scheduler.next_frame_time, infinite_period);
    // Not even a tick far behind the infinite due time counts as the clock
    // going back.
    for (std::uint32_t tick : {5001u, 0u, UINT32_MAX}) {
        EXPECT_EQ(Step{scheduler}.at(tick, tick), "") << tick;
    }
    EXPECT_EQ(scheduler.next_frame_time, infinite_period);
    EXPECT_EQ(scheduler.frame_count, 1u);
}

TEST(FrameScheduler, FrameCountWrapsAndTheNextDueStepActsAsTheFirstFrame) {
    FrameScheduler scheduler = running(period_30, 1000.0, UINT32_MAX - 1);
    EXPECT_EQ(Step{scheduler}.at(1040), "uud");
    EXPECT_EQ(scheduler.frame_count, 0u);
    const double due = scheduler.next_frame_time;  // 1000 + 2 periods
    EXPECT_EQ(Step{scheduler}.at(1060), "");       // not yet due
    // Due 5 ms late: a first frame re-anchors at its own tick, no catch-up.
    EXPECT_EQ(Step{scheduler}.at(static_cast<std::uint32_t>(due) + 5), "ud");
    EXPECT_EQ(scheduler.next_frame_time, std::floor(due) + 5.0 + period_30);
    EXPECT_EQ(scheduler.frame_count, 1u);
}

TEST(FrameScheduler, FatalErrorInAHandlerAbandonsTheStepAndKeepsTheMovedDueTime) {
    FrameScheduler scheduler = running(period_30, 1000.0);
    Step step{scheduler};
    // The second catch-up update fails: one update counted, grid moved 3 periods.
    step.handler.on_call = [](char, std::size_t index) {
        if (index == 1) fatal_here("update failed");
    };
    EXPECT_THROW(step.at(1070), FatalError);
    EXPECT_EQ(step.handler.log, "u");
    EXPECT_EQ(scheduler.frame_count, 6u);
    EXPECT_EQ(scheduler.next_frame_time, 1000.0 + 3.0 * period_30);

    // A failing draw leaves its frame uncounted, though its update ran.
    step.handler.on_call = [](char kind, std::size_t) {
        if (kind == 'd') fatal_here("draw failed");
    };
    EXPECT_THROW(step.at(1100), FatalError);
    EXPECT_EQ(step.handler.log, "u");
    EXPECT_EQ(scheduler.frame_count, 6u);
    EXPECT_EQ(scheduler.next_frame_time, 1000.0 + 3.0 * period_30 + 1.0 * period_30);

    // A later step goes on from there.
    step.handler.on_call = nullptr;
    EXPECT_EQ(step.at(1170), "uud");  // 36.7 ms past the due time
    EXPECT_EQ(scheduler.frame_count, 8u);
}

TEST(FrameScheduler, TickWrapReanchorsInsteadOfWaiting49Days) {
    FrameScheduler scheduler(period_30);
    Step step{scheduler};
    EXPECT_EQ(step.at(UINT32_MAX - 40), "ud");
    EXPECT_EQ(step.at(UINT32_MAX - 5), "ud");
    EXPECT_GT(scheduler.next_frame_time, 4294967296.0);  // due beyond the wrap
    EXPECT_EQ(step.at(UINT32_MAX), "");                  // still before it
    EXPECT_EQ(step.at(12, 13), "ud");                    // wrapped
    EXPECT_EQ(scheduler.next_frame_time, 13.0 + period_30);
    EXPECT_EQ(step.at(47), "ud");  // and the new grid runs on
    EXPECT_EQ(scheduler.frame_count, 4u);
}

TEST(FrameScheduler, ClockSetBackReanchorsOnlyBeyondOnePeriodPlusTheStallMargin) {
    // Due at 1000: a tick up to period + 100 ms before it is merely early.
    FrameScheduler scheduler = running(period_30, 1000.0);
    EXPECT_EQ(Step{scheduler}.at(867), "");  // 133 ms ahead: 133.33 allowed
    EXPECT_EQ(scheduler.next_frame_time, 1000.0);
    EXPECT_EQ(Step{scheduler}.at(866, 866), "ud");
    EXPECT_EQ(scheduler.next_frame_time, 866.0 + period_30);

    // The wall clock set back by an hour while running at 60 fps.
    const std::uint32_t hour = 3600000;
    FrameScheduler set_back(period_60);
    Step step{set_back};
    step.at(2 * hour);
    EXPECT_EQ(step.at(hour + 1, hour + 2), "ud");
    EXPECT_EQ(set_back.next_frame_time, hour + 2.0 + period_60);
    EXPECT_EQ(step.at(hour + 19), "ud");
    EXPECT_EQ(set_back.frame_count, 3u);
}

TEST(FrameScheduler, ClockSetForwardIsAStall) {
    FrameScheduler scheduler = running(period_60, 1000.0);
    EXPECT_EQ(Step{scheduler}.at(1000 + 3600000, 1000 + 3600001), "ud");
    EXPECT_EQ(scheduler.next_frame_time, 3601001.0 + period_60);
}

}  // namespace
}  // namespace velmo::testing
