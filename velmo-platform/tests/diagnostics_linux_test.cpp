#include <signal.h>
#include <sys/time.h>
#include <sys/wait.h>
#include <unistd.h>

#include <string>

#include <gtest/gtest.h>

#include "refusing_filter_linux.hpp"  // run_in_child
#include "velmo/platform.hpp"

namespace velmo::platform {
namespace {

void ignore_alarm(int) {}

// A writer blocked on a full pipe while signals arrive every millisecond sees
// both interrupted and partial writes; every byte must still arrive, in order.
TEST(WriteStderr, WritesEverythingThroughSignalsAndPartialWrites) {
    std::string text(1 << 20, '\0');
    for (std::size_t i = 0; i < text.size(); ++i) text[i] = static_cast<char>(i * 7 % 251);
    int ends[2];
    ASSERT_EQ(::pipe(ends), 0);
    pid_t child = ::fork();
    if (child == 0) {
        ::close(ends[0]);
        ::dup2(ends[1], STDERR_FILENO);
        struct sigaction action{};
        action.sa_handler = ignore_alarm;  // no SA_RESTART
        ::sigaction(SIGALRM, &action, nullptr);
        itimerval every_ms{{0, 1000}, {0, 1000}};
        ::setitimer(ITIMER_REAL, &every_ms, nullptr);
        write_stderr(text);
        exit_now(0);
    }
    ::close(ends[1]);
    std::string received;
    char buffer[4096];
    // Slow at first: each write then starts on a full pipe, and a signal
    // interrupts it before or after it has moved some bytes.
    for (ssize_t size; (size = ::read(ends[0], buffer, sizeof buffer)) > 0;) {
        received.append(buffer, static_cast<std::size_t>(size));
        if (received.size() < (128u << 10)) ::usleep(2000);
    }
    ::close(ends[0]);
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    EXPECT_EQ(received.size(), text.size());
    EXPECT_TRUE(received == text);
}

// A failing write ends the call instead of retrying forever.
TEST(WriteStderr, ReturnsWhenStandardErrorIsClosed) {
    EXPECT_EQ(testing::run_in_child([] {
                  ::alarm(5);  // a retry without end is ended by the signal
                  ::close(STDERR_FILENO);
                  write_stderr("lost\n");
                  return 0;
              }),
              0);
}

}  // namespace
}  // namespace velmo::platform
