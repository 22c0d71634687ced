// Fatal errors: unrecoverable failures with a message and a source location.
//
// A fatal error is raised at the failing check. `fatal` writes the diagnostic
// to standard error at that point, once, and then throws `FatalError`, so the
// rest of the call is abandoned by stack unwinding and every object already
// changed stays as it was. The Python boundary catches `FatalError` and turns
// it into the script-visible exception; nothing below that boundary catches it.
#pragma once

#include <source_location>
#include <string>
#include <string_view>

#include "velmo/source_location.hpp"

namespace velmo {

class FatalError {
public:
    explicit FatalError(std::string message) : message_(std::move(message)) {}
    const std::string& message() const noexcept { return message_; }

private:
    std::string message_;
};

// Writes the diagnostic for `message` at `where`, then throws FatalError.
[[noreturn]] void fatal(std::string_view message, SourceLocation where);

// As `fatal`, at the caller's own source location.
[[noreturn]] inline void fatal_here(
    std::string_view message, const std::source_location& where = std::source_location::current()) {
    fatal(message, SourceLocation::from(where));
}

// Continues a fatal error whose diagnostic was already written (for one that
// comes back out of Python code): throws FatalError without a new diagnostic.
[[noreturn]] void resume_fatal(std::string message);

}  // namespace velmo
