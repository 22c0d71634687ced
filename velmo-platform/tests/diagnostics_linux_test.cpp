#include <signal.h>
#include <sys/time.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <sstream>
#include <string>
#include <string_view>

#include <gtest/gtest.h>

#include "refusing_filter_linux.hpp"  // run_in_child
#include "velmo/compat_texts.hpp"
#include "velmo/fatal.hpp"
#include "velmo/platform.hpp"

namespace velmo::platform {
namespace {

bool is_hex_number(std::string_view text) {
    return text.size() > 2 && text.starts_with("0x") &&
           text.find_first_not_of("0123456789abcdef", 2) == std::string_view::npos;
}

// glibc's form of a frame: "[0xADDR]", after "MODULE" or
// "MODULE(SYMBOL+0xOFFSET)" (the symbol may be empty, the sign '-').
// (std::regex is left out: its own code trips GCC's warnings under the
// sanitizers.)
bool is_glibc_backtrace_line(std::string_view line) {
    std::size_t address = line.rfind("[0x");
    if (address == std::string_view::npos || !line.ends_with(']')) return false;
    if (!is_hex_number(line.substr(address + 1, line.size() - address - 2))) return false;
    std::string_view place = line.substr(0, address);
    std::size_t open = place.find('(');
    std::string_view module = place.substr(0, open);
    if (module.find('[') != std::string_view::npos) return false;
    if (open == std::string_view::npos) return true;
    if (module.empty() || !place.ends_with(')')) return false;
    std::string_view symbol = place.substr(open + 1, place.size() - open - 2);
    std::size_t sign = symbol.find_last_of("+-");
    return sign != std::string_view::npos && symbol.find_first_of("()") == std::string_view::npos &&
           is_hex_number(symbol.substr(sign + 1));
}

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

using ::testing::internal::CaptureStderr;
using ::testing::internal::GetCapturedStderr;

// Writes the backtrace `levels` calls further down the stack. The call goes
// through a volatile pointer and its result is used, so that the compiler
// can make neither a loop nor a tail call of the recursion.
int write_backtrace_below(int levels);
int (*volatile next_level)(int) = write_backtrace_below;

int write_backtrace_below(int levels) {
    if (levels == 0) {
        write_native_backtrace();
        return 0;
    }
    return next_level(levels - 1) + 1;
}

// Deep, and every line in glibc's backtrace_symbols_fd format, whichever
// C library and unwinder the build has: "FILE(SYMBOL+0xOFFSET)[0xADDRESS]",
// the symbol or the whole parenthesis left out where there is none.
TEST(NativeBacktrace, ReachesDeepIntoTheStackInGlibcsFormat) {
    CaptureStderr();
    write_backtrace_below(40);
    std::string written = GetCapturedStderr();
    EXPECT_GT(std::count(written.begin(), written.end(), '\n'), 40) << written;
    std::istringstream lines(written);
    for (std::string line; std::getline(lines, line);) {
        EXPECT_TRUE(is_glibc_backtrace_line(line)) << line;
    }
}

// What a fatal error writes while VELMO_BACKTRACE is `value`.
std::string fatal_diagnostic_with(const char* value) {
    ::setenv("VELMO_BACKTRACE", value, 1);
    CaptureStderr();
    EXPECT_THROW(fatal("failure", {"f", 1, 1}), FatalError);
    std::string written = GetCapturedStderr();
    ::unsetenv("VELMO_BACKTRACE");
    return written;
}

TEST(FatalDiagnostic, NoBacktraceForAnEmptyOrZeroVariable) {
    const std::string header = texts::backtrace_header;
    EXPECT_EQ(fatal_diagnostic_with("").find(header), std::string::npos);
    EXPECT_EQ(fatal_diagnostic_with("0").find(header), std::string::npos);
    EXPECT_NE(fatal_diagnostic_with("1").find(header), std::string::npos);
}

}  // namespace
}  // namespace velmo::platform
