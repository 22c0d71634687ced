// How far a 1 ms sleep overshoots: the platform's sleep beside the standard
// library's relative sleep, measured on the steady clock. The median and the
// 90th percentile of the overshoot are reported as counters in microseconds.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <thread>
#include <vector>

#include "velmo/platform.hpp"

namespace {

using Clock = std::chrono::steady_clock;

template <typename Sleep>
void measure_overshoot(benchmark::State& state, Sleep sleep_1ms) {
    std::vector<double> overshoot_us;
    for (auto _ : state) {
        auto start = Clock::now();
        sleep_1ms();
        std::chrono::duration<double, std::micro> took = Clock::now() - start;
        state.SetIterationTime(took.count() / 1e6);
        overshoot_us.push_back(took.count() - 1000.0);
    }
    std::sort(overshoot_us.begin(), overshoot_us.end());
    state.counters["median_overshoot_us"] = overshoot_us[overshoot_us.size() / 2];
    state.counters["p90_overshoot_us"] = overshoot_us[overshoot_us.size() * 9 / 10];
}

void BM_PlatformSleep1ms(benchmark::State& state) {
    measure_overshoot(state, [] { velmo::platform::sleep(1); });
}

void BM_StdSleepFor1ms(benchmark::State& state) {
    measure_overshoot(state, [] { std::this_thread::sleep_for(std::chrono::milliseconds(1)); });
}

BENCHMARK(BM_PlatformSleep1ms)->UseManualTime()->Iterations(1000);
BENCHMARK(BM_StdSleepFor1ms)->UseManualTime()->Iterations(1000);

}  // namespace
