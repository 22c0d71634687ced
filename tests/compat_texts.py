"""Compatibility texts: the messages, names and source locations that scripts
and tools match exactly as they stand, so none of them may change.

They are documented in docs/api.md; this is the tests' one copy of them.
"""

PANIC_MODULE = "pyo3_runtime"
PANIC_NAME = "PanicException"
PANIC_TYPE_NAME = f"{PANIC_MODULE}.{PANIC_NAME}"

UNCAUGHT_PANIC = "uncaught panic at ffi boundary\n"
RESUMING_PANIC_NOTICE = (
    "--- PyO3 is resuming a panic after fetching a PanicException from Python. ---"
)
RESUMING_PANIC = RESUMING_PANIC_NOTICE + "\nPython stack trace below:\n"
UNWRAPPED_PANIC = "Unwrapped panic from Python code"

PYTHON_API_FAILED = "Python API call failed"
# An unsigned 32-bit parameter given a value from 2**32 to 2**64 - 1.
OUT_OF_RANGE_CONVERSION = "out of range integral type conversion attempted"
UNKNOWN_TYPE_NAME = "<failed to extract type name>"

CREATED_ONCE = (
    "PyO3 modules compiled for CPython 3.8 or older may only be initialized once per "
    "interpreter process"
)
APPEND_TO_ALL_FAILED = "could not append __name__ to __all__: "

NOT_INITIALIZED = "Velmo not initialized"
NOT_INITIALIZED_AT = "velmo-wrapper/src/velmo_singleton:11:13"
ALREADY_INITIALIZED = "Velmo already initialized"
ALREADY_INITIALIZED_AT = "velmo-engine/src/velmo:23:5"
LOOP_IN_ANOTHER_THREAD = "Velmo is already running in another thread"
RANDOM_SOURCE_FAILED = "could not initialize thread_rng: "
EMPTY_RANGE = "cannot sample empty range"
RANGE_OVERFLOW = "Uniform::new_inclusive: range overflow"

CLOCK_BEFORE_EPOCH = "the system time is earlier than the Unix epoch: SystemTimeError("
CLOCK_FAILED_AT = "velmo-platform/src/platform:39:66"

# A fatal error's report on standard error: the first line, and after the
# message either the native stack (with VELMO_BACKTRACE set) or, the first
# time only, a hint that it can be had.
PANICKED_AT = "thread '<unnamed>' panicked at "
BACKTRACE_HEADER = "stack backtrace:\n"
BACKTRACE_HINT = "note: run with `VELMO_BACKTRACE=1` environment variable to display a backtrace\n"


def not_a_string(type_name):
    return f"'{type_name}' object cannot be converted to 'PyString'"


def not_a_list(type_name):
    return f"'{type_name}' object cannot be converted to 'PyList'"


def panicked_at(location):
    """The first line of a fatal error's report on standard error."""
    return f"{PANICKED_AT}{location}:"


# What the interpreter itself writes where PyPy's text differs from CPython's,
# keyed by `sys.implementation.name` (docs/api.md lists them).
INTERPRETER_TEXTS = {
    "cpython": {
        "unprintable_exception": "<exception str() failed>",
        # Only the fast convention's: in the tuple one the module's binder refuses the key.
        "keyword_not_a_string": "keywords must be strings",
        # CPython 3.9 and later qualify the name with the module's.
        "no_arguments": "{qualifier}{name}() takes no arguments ({given} given)",
        "no_keyword_arguments": "{qualifier}{name}() takes no keyword arguments",
        "float_returned_non_float": "{type}.__float__ returned non-float (type {result})",
        "too_big_for_long": "Python int too large to convert to C long",
        "negative_to_unsigned": "can't convert negative int to unsigned",
        "too_big_for_unsigned": "int too big to convert",
    },
    "pypy": {
        "unprintable_exception": "<unprintable PanicException object>",
        "keyword_not_a_string": (
            "builtin_function_or_method object keywords must be strings, not 'int'"
        ),
        "no_arguments": "{name}() takes no arguments ({given} given)",
        "no_keyword_arguments": "{name}() takes no keyword arguments",
        "float_returned_non_float": "__float__ returned non-float (type '{result}')",
        "too_big_for_long": "Python int too large to convert to C long",
        "negative_to_unsigned": "cannot convert negative integer to unsigned int",
        "too_big_for_unsigned": "integer too large",
    },
}


# CPython 3.15 names the type fully and words the refusal anew.
INTERPRETER_TEXTS["cpython315"] = {
    **INTERPRETER_TEXTS["cpython"],
    "float_returned_non_float": "{module}.{qualname}.__float__() must return a float, not {result}",
}

# PyPy 8 writes some of them as CPython does, or in words of its own.
INTERPRETER_TEXTS["pypy8"] = {
    **INTERPRETER_TEXTS["pypy"],
    "unprintable_exception": "<exception str() failed>",
    "keyword_not_a_string": "velmo_wrapper.{name}() keywords must be strings, not 'int'",
}


def interpreter_text(key, implementation=None):
    """The interpreter's own text `key` on this (or the named) implementation;
    a function's name goes in with `.format(name=...)` where the text has one."""
    import sys

    if implementation is None:
        implementation = sys.implementation.name
        if implementation == "pypy" and sys.pypy_version_info >= (8,):
            implementation = "pypy8"
        if implementation == "cpython" and sys.version_info >= (3, 15):
            implementation = "cpython315"
    return INTERPRETER_TEXTS[implementation][key]
