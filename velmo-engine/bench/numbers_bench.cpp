// Costs of the engine's numeric kernels, each beside a baseline of the same
// kind measured in the same run: the sampler beside its three libm floors,
// the generator step beside the standard library's 64-bit Mersenne Twister.
#include <benchmark/benchmark.h>

#include <cmath>
#include <cstdint>
#include <random>

#include "velmo/math.hpp"
#include "velmo/noise.hpp"
#include "velmo/random.hpp"

namespace {

// Points that move every iteration, so nothing is hoisted out of the loop.
struct Walk {
    double x = 0.37, y = 12.81, z = -5.53;
    void step() noexcept {
        x += 0.173;
        y -= 0.291;
        z += 0.057;
    }
};

void noise_sample(benchmark::State& state) {
    const velmo::NoiseTable table = velmo::NoiseTable::from_seed(42);
    Walk p;
    for (auto _ : state) {
        benchmark::DoNotOptimize(table.sample(p.x, p.y, p.z));
        p.step();
    }
}
BENCHMARK(noise_sample);

void baseline_three_libm_floors(benchmark::State& state) {
    Walk p;
    for (auto _ : state) {
        benchmark::DoNotOptimize(std::floor(p.x) + std::floor(p.y) + std::floor(p.z));
        p.step();
    }
}
BENCHMARK(baseline_three_libm_floors);

void noise_from_seed(benchmark::State& state) {
    std::uint32_t seed = 0;
    for (auto _ : state) benchmark::DoNotOptimize(velmo::NoiseTable::from_seed(seed++));
}
BENCHMARK(noise_from_seed);

void rng_next_u64(benchmark::State& state) {
    velmo::RandomGenerator rng = velmo::RandomGenerator::from_seed(0);
    for (auto _ : state) benchmark::DoNotOptimize(rng.next_u64());
}
BENCHMARK(rng_next_u64);

void baseline_mt19937_64(benchmark::State& state) {
    std::mt19937_64 engine(0);
    for (auto _ : state) benchmark::DoNotOptimize(engine());
}
BENCHMARK(baseline_mt19937_64);

void rng_uniform_int_dice(benchmark::State& state) {
    velmo::RandomGenerator rng = velmo::RandomGenerator::from_seed(0);
    for (auto _ : state) benchmark::DoNotOptimize(rng.uniform_int(1, 6));
}
BENCHMARK(rng_uniform_int_dice);

void baseline_std_uniform_int_dice(benchmark::State& state) {
    std::mt19937_64 engine(0);
    std::uniform_int_distribution<int> dice(1, 6);
    for (auto _ : state) benchmark::DoNotOptimize(dice(engine));
}
BENCHMARK(baseline_std_uniform_int_dice);

void rng_uniform_float_unit(benchmark::State& state) {
    velmo::RandomGenerator rng = velmo::RandomGenerator::from_seed(0);
    for (auto _ : state) benchmark::DoNotOptimize(rng.uniform_float(0.0, 1.0));
}
BENCHMARK(rng_uniform_float_unit);

void math_sin_degrees(benchmark::State& state) {
    Walk p;
    for (auto _ : state) {
        benchmark::DoNotOptimize(velmo::math::sin(p.y));
        p.step();
    }
}
BENCHMARK(math_sin_degrees);

void baseline_libm_sin(benchmark::State& state) {
    Walk p;
    for (auto _ : state) {
        benchmark::DoNotOptimize(std::sin(p.y));
        p.step();
    }
}
BENCHMARK(baseline_libm_sin);

}  // namespace
