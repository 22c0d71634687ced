// Test doubles for the scheduler and the run loop: a clock whose readings are
// scripted or simulated, and a handler that records what it was asked to do.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <deque>
#include <functional>
#include <string>
#include <vector>

#include "velmo/engine.hpp"
#include "velmo/run_loop.hpp"

namespace velmo::testing {

// Thrown by a test double to leave the endless run loop.
struct EndOfScript {};

// An Engine for the handlers under test, which ignore it. Built directly so
// that it does not claim the process's one Engine.
inline Engine& test_engine() {
    static Engine* engine = new Engine(0, 30);
    return *engine;
}

// Returns the scripted readings in order; running out ends the test's loop.
class ScriptedClock final : public Clock {
public:
    std::deque<std::uint32_t> readings;
    std::vector<std::uint32_t> sleeps;

    ScriptedClock(std::initializer_list<std::uint32_t> values) : readings(values) {}

    std::uint32_t ticks() override {
        if (readings.empty()) throw EndOfScript{};
        std::uint32_t value = readings.front();
        readings.pop_front();
        return value;
    }
    void sleep(std::uint32_t ms) override { sleeps.push_back(ms); }
};

// A clock that moves only when slept on or pushed by a handler; stops the
// loop after a number of sleeps.
class SimulatedClock final : public Clock {
public:
    std::uint32_t now;
    std::size_t sleeps_left;
    std::vector<std::uint32_t> sleeps;

    SimulatedClock(std::uint32_t start, std::size_t max_sleeps)
        : now(start), sleeps_left(max_sleeps) {}

    std::uint32_t ticks() override { return now; }
    void sleep(std::uint32_t ms) override {
        if (sleeps_left == 0) throw EndOfScript{};
        --sleeps_left;
        sleeps.push_back(ms);
        now += ms;
    }
};

// Logs "u" for each update and "d" for each draw; `on_call` runs before the
// log entry, so a throwing hook leaves the interrupted call unlogged.
class RecordingHandler final : public FrameHandler {
public:
    std::string log;
    std::function<void(char kind, std::size_t call_index)> on_call;

    void update(Engine&) override { record('u'); }
    void draw(Engine&) override { record('d'); }

    std::size_t count(char kind) const {
        return static_cast<std::size_t>(std::count(log.begin(), log.end(), kind));
    }

private:
    void record(char kind) {
        if (on_call) on_call(kind, log.size());
        log += kind;
    }
};

}  // namespace velmo::testing
