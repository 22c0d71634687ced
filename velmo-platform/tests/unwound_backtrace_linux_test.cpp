#include <execinfo.h>
#include <unistd.h>

#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "../src/unwound_backtrace_linux.hpp"

namespace velmo::platform {
namespace {

using ::testing::internal::CaptureStderr;
using ::testing::internal::GetCapturedStderr;

std::vector<std::string> lines_of(const std::string& text) {
    std::vector<std::string> lines;
    std::istringstream stream(text);
    for (std::string line; std::getline(stream, line);) lines.push_back(line);
    return lines;
}

struct Backtraces {
    std::vector<std::string> unwound;
    std::vector<std::string> glibc;
};

// Takes both backtraces `levels` calls further down the stack, one after the
// other from the same function. The calls go through a volatile pointer so
// that the recursion stays a recursion.
Backtraces both_below(int levels);
Backtraces (*volatile next_level)(int) = both_below;

Backtraces both_below(int levels) {
    if (levels > 0) {
        Backtraces found = next_level(levels - 1);
        found.unwound.shrink_to_fit();  // keeps this frame off a tail call
        return found;
    }
    Backtraces found;
    CaptureStderr();
    unwound::write_backtrace();
    found.unwound = lines_of(GetCapturedStderr());
    CaptureStderr();
    void* frames[128];
    ::backtrace_symbols_fd(frames, ::backtrace(frames, 128), STDERR_FILENO);
    found.glibc = lines_of(GetCapturedStderr());
    return found;
}

// The same frames in the same words as glibc's backtrace_symbols_fd: on a
// short stack, down to the C library's start-up (named symbols, offsets in
// a file), and on one deeper than the 128 frames both keep. Only the first
// lines differ: the two calls return to different places of one function.
TEST(UnwoundBacktrace, WritesTheLinesGlibcWrites) {
#ifdef __SANITIZE_ADDRESS__
    GTEST_SKIP() << "AddressSanitizer's interceptor of backtrace() adds a frame of its own";
#endif
#ifndef __x86_64__
    // On aarch64 glibc's walk ends a frame lower and, without symbols, names
    // the first frame by its address alone; the format is checked all the
    // same by NativeBacktrace's test.
    GTEST_SKIP() << "compared frame by frame with glibc's walk on x86-64 only";
#endif
    const auto function_of = [](const std::string& line) {
        return line.substr(0, line.find("+0x"));
    };
    for (int levels : {2, 150}) {
        Backtraces found = both_below(levels);
        ASSERT_EQ(found.unwound.size(), found.glibc.size()) << levels;
        ASSERT_GT(found.glibc.size(), 4u);
        EXPECT_EQ(function_of(found.unwound[0]), function_of(found.glibc[0]));
        for (std::size_t i = 1; i < found.glibc.size(); ++i) {
            EXPECT_EQ(found.unwound[i], found.glibc[i]) << "frame " << i << " of " << levels;
        }
    }
    EXPECT_EQ(both_below(150).unwound.size(), 128u);
}

}  // namespace
}  // namespace velmo::platform
