#include "velmo/fatal.hpp"

#include <gtest/gtest.h>

#include <string>

#include "velmo/compat_texts.hpp"

namespace {

using testing::internal::CaptureStderr;
using testing::internal::GetCapturedStderr;
using velmo::texts::panicked_at;

std::string message_of(void (*raise)()) {
    try {
        raise();
    } catch (const velmo::FatalError& error) {
        return error.message();
    }
    return "<nothing thrown>";
}

TEST(Fatal, WritesTheDiagnosticOnceThenUnwinds) {
    const std::string hint = velmo::texts::backtrace_hint;
    CaptureStderr();
    std::string first = message_of([] { velmo::fatal("first failure", {"some/file", 11, 13}); });
    std::string first_written = GetCapturedStderr();
    CaptureStderr();
    std::string second = message_of([] { velmo::fatal("second failure", {"other/file", 23, 5}); });
    std::string second_written = GetCapturedStderr();

    EXPECT_EQ(first, "first failure");
    EXPECT_EQ(second, "second failure");
    // The hint follows only the process's first fatal error, which may have
    // been raised by an earlier test of this binary.
    const std::string first_diagnostic =
        panicked_at + std::string("some/file:11:13:\nfirst failure\n");
    EXPECT_TRUE(first_written == first_diagnostic || first_written == first_diagnostic + hint)
        << first_written;
    EXPECT_EQ(second_written, panicked_at + std::string("other/file:23:5:\nsecond failure\n"));
}

TEST(Fatal, ReportsTheCallersOwnLocationRelativeToTheProject) {
    CaptureStderr();
    unsigned line = __LINE__ + 1;
    std::string message = message_of([] { velmo::fatal_here("here"); });
    std::string written = GetCapturedStderr();

    EXPECT_EQ(message, "here");
    std::string expected_start = panicked_at + std::string("velmo-platform/tests/fatal_test.cpp:") +
                                 std::to_string(line) + ":";
    EXPECT_EQ(written.substr(0, expected_start.size()), expected_start) << written;
}

TEST(Fatal, ResumingWritesNothing) {
    CaptureStderr();
    std::string message = message_of([] { velmo::resume_fatal("carried on"); });
    EXPECT_EQ(GetCapturedStderr(), "");
    EXPECT_EQ(message, "carried on");
}

TEST(Fatal, StateChangedBeforeTheFailureStaysChanged) {
    int steps = 0;
    try {
        ++steps;
        velmo::fatal("stop", {"f", 1, 1});
        ++steps;
    } catch (const velmo::FatalError& error) {
        EXPECT_EQ(error.message(), "stop");
    }
    EXPECT_EQ(steps, 1);
}

}  // namespace
