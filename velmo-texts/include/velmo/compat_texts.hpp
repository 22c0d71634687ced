// Compatibility texts: the messages, names and source locations that scripts
// and tools match exactly as they stand, so none of them may change. They are
// documented in docs/api.md; tests/compat_texts.py holds the Python tests'
// copy, and the C++ tests read them from here. The locations name the files
// of the module's first build, which are not this tree's files, because
// scripts match the diagnostics that name them.
//
// Every layer may use this header, which depends on nothing but the standard
// library.
#pragma once

#include "velmo/source_location.hpp"

namespace velmo::texts {

// A fatal error's report on standard error: this preface, then
// "file:line:column:", a line break and the message.
inline constexpr const char* panicked_at = "thread '<unnamed>' panicked at ";
// The report's first line when memory ran out while the location was written.
inline constexpr const char* panicked_without_location = "thread '<unnamed>' panicked:\n";
// After the report: the native call stack under this line when VELMO_BACKTRACE
// asks for it, otherwise the hint, once per process.
inline constexpr const char* backtrace_header = "stack backtrace:\n";
inline constexpr const char* backtrace_hint =
    "note: run with `VELMO_BACKTRACE=1` environment variable to display a backtrace\n";

// The exception type of fatal errors, "module.name" as the interpreter shows it.
inline constexpr const char* panic_type_name = "pyo3_runtime.PanicException";
// Its docstring.
inline constexpr const char* panic_type_doc =
    "\n"
    "The exception raised when native code called from Python panics.\n"
    "\n"
    "Like SystemExit, this exception is derived from BaseException so that\n"
    "it will typically propagate all the way through the stack and cause the\n"
    "Python interpreter to exit.\n";

// Standard error, when a fatal error cannot become an exception.
inline constexpr const char* uncaught_panic = "uncaught panic at ffi boundary\n";
// Standard error, before the traceback of a PanicException that a callback let through.
inline constexpr const char* resuming_panic =
    "--- PyO3 is resuming a panic after fetching a PanicException from Python. ---\n"
    "Python stack trace below:\n";
// The message of such a PanicException whose own text cannot be read.
inline constexpr const char* unwrapped_panic = "Unwrapped panic from Python code";
// A fatal error that carries no message text.
inline constexpr const char* failed_without_message = "native code failed without a message";

inline constexpr const char* python_api_failed = "Python API call failed";
// The SystemError of a failed API call that set no exception.
inline constexpr const char* no_exception_set = "attempted to fetch exception but none was set";
inline constexpr const char* not_a_string = "'%U' object cannot be converted to 'PyString'";
inline constexpr const char* not_a_list = "'%U' object cannot be converted to 'PyList'";
inline constexpr const char* unknown_type_name = "<failed to extract type name>";
// An unsigned 32-bit parameter given a value from 2**32 to 2**64 - 1.
inline constexpr const char* out_of_range_conversion =
    "out of range integral type conversion attempted";
// A signed 32-bit parameter out of its range, in the interpreter's wording
// for a C long of 32 bits, whatever the size of long.
inline constexpr const char* int32_overflow = "Python int too large to convert to C long";

// Argument binding, for PyUnicode_FromFormat. The function's name comes
// first; "was"/"were" and "argument"/"arguments" agree with the count.
inline constexpr const char* takes_positional =
    "%s() takes %zu positional arguments but %zd %s given";
inline constexpr const char* takes_positional_range =
    "%s() takes from %zu to %zu positional arguments but %zd %s given";
inline constexpr const char* unexpected_keyword = "%s() got an unexpected keyword argument '%U'";
inline constexpr const char* multiple_values = "%s() got multiple values for argument '%s'";
// The last %s lists the missing names, each quoted.
inline constexpr const char* missing_required = "%s() missing %zu required positional %s: %s";
// The parameter's name, then the text of the TypeError of its conversion.
inline constexpr const char* argument_type_error = "argument '%s': %U";

// Creating the module a second time in one process.
inline constexpr const char* created_once =
    "PyO3 modules compiled for CPython 3.8 or older may only be initialized once per "
    "interpreter process";
// Followed by the debug rendering of the Python error that made the append
// fail, or by `unprintable_error` when that rendering fails in turn.
inline constexpr const char* append_to_all_failed = "could not append __name__ to __all__: ";
inline constexpr const char* unprintable_error = "<unprintable error>";

inline constexpr const char* not_initialized = "Velmo not initialized";
inline constexpr SourceLocation not_initialized_at = {"velmo-wrapper/src/velmo_singleton", 11, 13};
inline constexpr const char* already_initialized = "Velmo already initialized";
inline constexpr SourceLocation already_initialized_at = {"velmo-engine/src/velmo", 23, 5};
// `run` or `show` while another thread's loop runs (this build's own text).
inline constexpr const char* loop_in_another_thread = "Velmo is already running in another thread";
// Followed by the random source's own error text.
inline constexpr const char* random_source_failed = "could not initialize thread_rng: ";
inline constexpr const char* empty_range = "cannot sample empty range";
inline constexpr const char* range_overflow = "Uniform::new_inclusive: range overflow";

// Followed by the seconds before the epoch and "s)".
inline constexpr const char* clock_before_epoch =
    "the system time is earlier than the Unix epoch: SystemTimeError(";
inline constexpr SourceLocation clock_failed_at = {"velmo-platform/src/platform", 39, 66};

}  // namespace velmo::texts
