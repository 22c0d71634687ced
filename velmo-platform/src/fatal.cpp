#include "velmo/fatal.hpp"

#include <atomic>
#include <cstdlib>
#include <cstring>

#include "velmo/compat_texts.hpp"
#include "velmo/platform.hpp"

namespace velmo {
namespace {

std::atomic<bool> first_fatal_seen{false};

bool backtrace_requested() noexcept {
    const char* value = std::getenv("VELMO_BACKTRACE");
    return value != nullptr && value[0] != '\0' && std::strcmp(value, "0") != 0;
}

void write_fatal_diagnostic(std::string_view message, SourceLocation where) noexcept {
    try {
        std::string text = texts::panicked_at;
        text += where.text();
        text += ":\n";
        text += message;
        text += '\n';
        platform::write_stderr(text);
    } catch (...) {
        // Out of memory while formatting: the message itself still matters most.
        platform::write_stderr(texts::panicked_without_location);
        platform::write_stderr(message);
        platform::write_stderr("\n");
    }
    if (backtrace_requested()) {
        platform::write_stderr(texts::backtrace_header);
        platform::write_native_backtrace();
    } else if (!first_fatal_seen.exchange(true)) {
        platform::write_stderr(texts::backtrace_hint);
    }
}

}  // namespace

void fatal(std::string_view message, SourceLocation where) {
    write_fatal_diagnostic(message, where);
    throw FatalError(std::string(message));
}

void resume_fatal(std::string message) { throw FatalError(std::move(message)); }

}  // namespace velmo
