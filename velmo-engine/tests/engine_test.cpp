#include "velmo/engine.hpp"

#include <gtest/gtest.h>

#include <string>

#include "velmo/compat_texts.hpp"
#include "velmo/fatal.hpp"

namespace {

using testing::internal::CaptureStderr;
using testing::internal::GetCapturedStderr;

// Only one Engine can ever be created in a process, so the whole lifecycle is
// one test (ctest runs every test in a process of its own).
TEST(Engine, IsCreatedOncePerProcess) {
    auto engine = velmo::Engine::create(std::nullopt);
    ASSERT_NE(engine, nullptr);
    EXPECT_EQ(engine->scheduler.frame_period_ms, 1000.0 / 30.0);
    EXPECT_EQ(engine->scheduler.frame_period_ms, 33.333333333333336);
    EXPECT_EQ(engine->scheduler.next_frame_time, 0.0);
    EXPECT_EQ(engine->scheduler.frame_count, 0u);
    // The generator and the table come from the same start-up seed.
    auto seeded = velmo::RandomGenerator::from_seed(engine->noise_table.seed);
    EXPECT_EQ(engine->rng.s0, seeded.s0);
    EXPECT_EQ(engine->rng.s3, seeded.s3);

    CaptureStderr();
    std::string message;
    try {
        velmo::Engine::create(60);
    } catch (const velmo::FatalError& error) {
        message = error.message();
    }
    std::string written = GetCapturedStderr();
    namespace texts = velmo::texts;
    EXPECT_EQ(message, texts::already_initialized);
    const std::string diagnostic = texts::panicked_at + texts::already_initialized_at.text() +
                                   ":\n" + texts::already_initialized + "\n";
    EXPECT_EQ(written.substr(0, diagnostic.size()), diagnostic);
    // The first Engine is untouched by the refused second creation.
    EXPECT_EQ(engine->scheduler.frame_period_ms, 33.333333333333336);
}

TEST(Engine, StartupSeedsAreSpreadOut) {
    // 64 draws from a uniform 32-bit source are all distinct with
    // overwhelming probability; a source stuck on one value is not.
    std::uint32_t first = velmo::Engine::draw_startup_seed();
    bool differs = false;
    for (int i = 0; i < 64 && !differs; ++i) differs = velmo::Engine::draw_startup_seed() != first;
    EXPECT_TRUE(differs);
}

}  // namespace
