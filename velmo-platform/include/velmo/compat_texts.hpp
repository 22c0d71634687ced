// Compatibility texts: the messages, names and source locations that scripts
// and tools match exactly as they stand, so none of them may change. They are
// documented in docs/api.md, and tests/compat_texts.py holds the tests' copy.
// The locations name the files of the module's first build, which are not
// this tree's files, because scripts match the diagnostics that name them.
#pragma once

#include "velmo/fatal.hpp"

namespace velmo::texts {

// The exception type of fatal errors, "module.name" as the interpreter shows it.
inline constexpr const char* panic_type_name = "pyo3_runtime.PanicException";

// Standard error, when a fatal error cannot become an exception.
inline constexpr const char* uncaught_panic = "uncaught panic at ffi boundary\n";
// Standard error, before the traceback of a PanicException that a callback let through.
inline constexpr const char* resuming_panic =
    "--- PyO3 is resuming a panic after fetching a PanicException from Python. ---\n"
    "Python stack trace below:\n";
// The message of such a PanicException whose own text cannot be read.
inline constexpr const char* unwrapped_panic = "Unwrapped panic from Python code";

inline constexpr const char* python_api_failed = "Python API call failed";
inline constexpr const char* not_a_string = "'%U' object cannot be converted to 'PyString'";
inline constexpr const char* not_a_list = "'%U' object cannot be converted to 'PyList'";
inline constexpr const char* unknown_type_name = "<failed to extract type name>";
// An unsigned 32-bit parameter given a value from 2**32 to 2**64 - 1.
inline constexpr const char* out_of_range_conversion =
    "out of range integral type conversion attempted";
// A fatal error that carries no message text.
inline constexpr const char* failed_without_message = "native code failed without a message";

// Creating the module a second time in one process.
inline constexpr const char* created_once =
    "PyO3 modules compiled for CPython 3.8 or older may only be initialized once per "
    "interpreter process";
// Followed by the debug rendering of the Python error that made the append fail.
inline constexpr const char* append_to_all_failed = "could not append __name__ to __all__: ";

inline constexpr const char* not_initialized = "Velmo not initialized";
inline constexpr SourceLocation not_initialized_at = {"velmo-wrapper/src/velmo_singleton", 11, 13};
inline constexpr const char* already_initialized = "Velmo already initialized";
inline constexpr SourceLocation already_initialized_at = {"velmo-engine/src/velmo", 23, 5};
// Followed by the random source's own error text.
inline constexpr const char* random_source_failed = "could not initialize thread_rng: ";
inline constexpr const char* empty_range = "cannot sample empty range";
inline constexpr const char* range_overflow = "Uniform::new_inclusive: range overflow";

// Followed by the seconds before the epoch and "s)".
inline constexpr const char* clock_before_epoch =
    "the system time is earlier than the Unix epoch: SystemTimeError(";
inline constexpr SourceLocation clock_failed_at = {"velmo-platform/src/platform", 39, 66};

}  // namespace velmo::texts
