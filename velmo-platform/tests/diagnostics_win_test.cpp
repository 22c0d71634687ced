#ifdef _WIN32

#include <gtest/gtest.h>

#include "velmo/platform.hpp"

namespace {

// Each case runs in a child process, which `exit_now` ends with the status
// checked here; the child's standard error is matched against the pattern.
TEST(WindowsDiagnostics, ExitNowEndsTheProcessWithItsStatus) {
    EXPECT_EXIT(velmo::platform::exit_now(0), testing::ExitedWithCode(0), "");
    EXPECT_EXIT(velmo::platform::exit_now(1), testing::ExitedWithCode(1), "");
    EXPECT_EXIT(velmo::platform::exit_now(37), testing::ExitedWithCode(37), "");
}

TEST(WindowsDiagnostics, StandardErrorGetsTextAndBacktrace) {
    EXPECT_EXIT(
        {
            velmo::platform::write_stderr("first line\nsecond line\n");
            velmo::platform::write_native_backtrace();
            velmo::platform::exit_now(3);
        },
        testing::ExitedWithCode(3), "first line\nsecond line\n +0: 0x\\w+ .*\\.exe\\+0x");
}

}  // namespace

#endif  // _WIN32
