"""Property-based fuzzing of all eighteen functions' binding.

Generated calls (any number of positional and keyword arguments, right and
wrong keyword names, argument objects of every kind a script can make) run in
two long-lived child interpreters, one before `init` and one after it. The
outcome of each call is compared with the one a small model of the binding
rules predicts: the order of checks (too many positional arguments, keyword
problems in dictionary order, missing arguments, conversions in parameter
order, then the Engine), the module's own messages, and, for the
interpreter's own conversion errors, what the interpreter itself raises for
the same object in this process. The children also check after every call
that a failed call left the Engine's random sequence and noise table alone.

`init` never succeeds in this process. The calls that would not come back
(`init` before it, `run` and `show` after it) are not sent.

Size and seed: VELMO_FUZZ_EXAMPLES examples per function and state (150 by
default), derandomized; VELMO_FUZZ_RANDOM=1 draws a new seed each run. A long
run: VELMO_FUZZ_EXAMPLES=20000 VELMO_FUZZ_RANDOM=1 python -m pytest -q
tests/test_fuzz_binding.py. VELMO_FUZZ_STATS=FILE writes the counts of calls
sent per function as JSON. VELMO_FUZZ_CHILD_PYTHON="python3.15-dbg -X dev" runs
the children in that interpreter instead of this one.
"""

import collections
import contextlib
import ctypes
import json
import math
import operator
import os
import pickle
import queue
import shlex
import subprocess
import sys
import tempfile
import threading

import pytest
from helpers import NAMES_TYPES_ON_ENTRY, PYPY, calling_convention, panic_type

pytestmark = [pytest.mark.fuzz, pytest.mark.binding]

hypothesis = pytest.importorskip("hypothesis")
import fuzz_objects  # noqa: E402
from compat_texts import (  # noqa: E402
    ALREADY_INITIALIZED,
    EMPTY_RANGE,
    NOT_INITIALIZED,
    OUT_OF_RANGE_CONVERSION,
    PANIC_MODULE,
    PANIC_TYPE_NAME,
    PANICKED_AT,
    RANGE_OVERFLOW,
    RESUMING_PANIC,
    UNKNOWN_TYPE_NAME,
    interpreter_text,
    not_a_string,
)
from fuzz_objects import RAISES  # noqa: E402
from hypothesis import HealthCheck, given, settings  # noqa: E402
from hypothesis import strategies as st  # noqa: E402
from module_functions import ENGINE_FREE, FUNCTIONS, NO_ARGUMENTS, check_rows  # noqa: E402

EXAMPLES = int(os.environ.get("VELMO_FUZZ_EXAMPLES", "150"))
RANDOM = os.environ.get("VELMO_FUZZ_RANDOM") == "1"
REPLY_TIMEOUT_S = 60
# The children's interpreter: this one, or another build of the same version
# (a debug build, under whose checks the calls run while the model and the
# generator run at full speed here), with its options.
CHILD_INTERPRETER = shlex.split(os.environ.get("VELMO_FUZZ_CHILD_PYTHON", "")) or [sys.executable]
PANIC = PANIC_TYPE_NAME
TYPE_ERROR = "builtins.TypeError"
OVERFLOW_ERROR = "builtins.OverflowError"
INT32_MIN, INT32_MAX = -(2**31), 2**31 - 1
UINT32_MAX = 2**32 - 1
LONG_MAX = 2 ** (8 * ctypes.sizeof(ctypes.c_long) - 1) - 1
LONG_MIN = -LONG_MAX - 1
MAX_DOUBLE = 1.7976931348623157e308

# In the fast convention the interpreter refuses keywords that are not
# strings before the call; in the tuple convention the module's binder does.
FAST_CALLS = calling_convention() == "fast"
KEYWORDS_MUST_BE_STRINGS = "keywords must be strings"
# Whether the child can hand a function its keyword dictionary as it is
# (ctypes' PyObject_Call, which PyPy lacks); else the interpreter refuses
# keys that are not strings before the call.
C_API_CALLS = hasattr(ctypes, "pythonapi")

calls_sent = collections.Counter()


# ---------------------------------------------------------------- strategies

BOUNDARY_INTS = [
    0,
    1,
    -1,
    INT32_MAX,
    INT32_MAX + 1,
    INT32_MIN,
    INT32_MIN - 1,
    UINT32_MAX,
    UINT32_MAX + 1,
    2**63 - 1,
    2**63,
    -(2**63),
    -(2**63) - 1,
    2**64 - 1,
    2**64,
    10**400,
    -(10**400),
]
BOUNDARY_FLOATS = [
    math.nan,
    -math.nan,
    math.inf,
    -math.inf,
    0.0,
    -0.0,
    1.0,
    -1.0,
    0.5,
    MAX_DOUBLE,
    -MAX_DOUBLE,
    5e-324,
    2147483648.5,
    -2147483649.5,
    1e300,
    180.0,
    90.0,
]
ODD_TEXTS = [
    "",
    "\ud800",
    "a\udcffb",
    "x\x00",
    "x\x00\u0101",
    "\u00e9",
    "x\x00\u00e9",
    "\U0001f600",
    "title",
]
KEY_NAMES = [
    "x",
    "y",
    "z",
    "a",
    "b",
    "seed",
    "pid",
    "fps",
    "deg",
    "title",
    "update",
    "draw",
    "close",
    "w",
    "X",
    "x ",
    "",
    "\udcff",
    "x\x00",
    "x\x00\u0101",
    "x\x00\u00e9",
    "x\ud800",
    "\u00e9",
]

ints = st.one_of(
    st.sampled_from(BOUNDARY_INTS), st.integers(-(2**40), 2**40), st.integers(-(2**80), 2**80)
)
floats = st.one_of(st.sampled_from(BOUNDARY_FLOATS), st.floats(), st.floats(-1e3, 1e3))
texts = st.one_of(st.sampled_from(ODD_TEXTS), st.text(max_size=8))
words = st.text(alphabet="abcxyz é", max_size=6)

returned = st.one_of(floats, ints, texts, st.none())
behaviours = st.one_of(
    st.tuples(st.just("return"), returned),
    st.tuples(st.just("raise"), st.sampled_from(fuzz_objects.RAISES), words),
    st.tuples(st.just("reenter"), st.booleans(), st.one_of(floats, ints)),
    # Emptying the call's own keyword dictionary: drawn twice as often, as it
    # only matters through the C API and before another keyword argument.
    st.tuples(st.just("clear"), st.one_of(floats, ints)),
    st.tuples(st.just("clear"), st.one_of(floats, ints)),
    st.just(("recurse",)),
)

plain_arguments = st.one_of(
    st.tuples(st.just("int"), ints),
    st.tuples(st.just("bool"), st.booleans()),
    st.tuples(st.just("float"), floats),
    st.just(("none",)),
    st.tuples(st.just("str"), texts),
    st.tuples(st.just("strsub"), texts),
    st.tuples(st.just("intsub"), ints),
    st.tuples(st.just("floatsub"), floats),
    st.tuples(st.just("bytes"), st.binary(max_size=4)),
    st.tuples(st.just("list"), st.integers(0, 3)),
    st.just(("nameless",)),
)
hooks = st.one_of(
    st.tuples(st.just("hook"), st.sampled_from(["float", "index"]), behaviours),
    st.tuples(st.just("override"), st.just("float"), floats, behaviours),
    st.tuples(st.just("override"), st.just("int"), ints, behaviours),
    st.tuples(st.just("strover"), texts),
)
# One argument in three is an object that runs Python code when converted.
arguments = st.one_of(plain_arguments, plain_arguments, hooks)


def keys_for(name):
    own = [p for p, _ in FUNCTIONS[name].parameters] or ["x"]
    return st.one_of(
        st.tuples(st.just("k"), st.sampled_from(own)),
        st.tuples(st.just("k"), st.sampled_from(KEY_NAMES)),
        st.tuples(st.just("k"), texts),
        st.tuples(st.sampled_from(["ksub", "kover"]), st.sampled_from(own)),
        st.tuples(st.just("kint"), st.integers(-3, 3)),
    )


def own_keywords(name):
    """Keywords that bind: the function's own names, in any order."""
    own = [p for p, _ in FUNCTIONS[name].parameters]
    return st.permutations(own).flatmap(
        lambda names: st.tuples(*[st.tuples(st.just(("k", n)), arguments) for n in names])
    )


numbers = st.one_of(
    st.tuples(st.just("float"), floats),
    st.tuples(st.just("int"), ints),
    st.tuples(st.just("bool"), st.booleans()),
)


def calls_of(name):
    """(name, positional, keywords, through the C API): a third of them wild; a
    third that bind by position, with argument objects of every kind, so that
    the objects' own conversions are reached (most wild calls fail binding
    first); and a third of plain numbers by position that bind, so that the
    Engine's own paths are reached as often as the binding's."""
    params, required, _ = FUNCTIONS[name]
    wild = st.tuples(
        st.lists(arguments, max_size=4),
        st.one_of(
            st.lists(st.tuples(keys_for(name), arguments), max_size=3), own_keywords(name).map(list)
        ),
    )
    converting = st.tuples(
        st.lists(arguments, min_size=required, max_size=len(params)), st.just([])
    )
    binding = st.tuples(st.lists(numbers, min_size=required, max_size=len(params)), st.just([]))
    return st.tuples(st.just(name), st.one_of(wild, converting, binding), st.booleans()).map(
        lambda call: (call[0], call[1][0], call[1][1], call[2])
    )


# ------------------------------------------------------------------ children


class Child:
    """A child interpreter in one state, answering calls over a pipe."""

    def __init__(self, state):
        self.state = state
        self.start()

    def start(self):
        self.stderr_file = tempfile.NamedTemporaryFile(
            prefix="velmo-fuzz-", suffix=".err", delete=False
        )
        child = os.path.join(os.path.dirname(__file__), "fuzz_child.py")
        self.process = subprocess.Popen(
            [*CHILD_INTERPRETER, child, self.state, self.stderr_file.name],
            stdin=subprocess.PIPE,
            stdout=subprocess.PIPE,
            stderr=self.stderr_file,
        )
        # A thread reads the replies, so that waiting for one can time out on
        # Windows too, whose pipes cannot be waited on with select().
        self.replies = queue.Queue()
        threading.Thread(
            target=self.read_replies, args=(self.process.stdout, self.replies), daemon=True
        ).start()
        ready, self.panic_module = self.receive(restart=False)
        assert ready == "ready" and self.panic_module == PANIC_MODULE

    @staticmethod
    def read_replies(stream, replies):
        while True:
            try:
                replies.put((True, pickle.load(stream)))
            except Exception as error:  # noqa: BLE001 - the end of the stream included
                replies.put((False, error))
                return

    def receive(self, restart=True):
        try:
            read, reply = self.replies.get(timeout=REPLY_TIMEOUT_S)
        except queue.Empty:
            self.fail("no answer within the time limit", restart)
        if not read:
            self.fail(
                "the child ended"
                if isinstance(reply, EOFError)
                else f"unreadable answer: {reply!r}",
                restart,
            )
        return reply

    def fail(self, what, restart=True):
        """Fails the test; a new child takes over for the next one, unless
        this one failed to start (as the next one would)."""
        self.process.kill()
        self.process.wait()
        self.release()
        status = self.process.returncode
        with open(self.stderr_file.name, encoding="utf-8", errors="replace") as handle:
            log = handle.read()
        if restart:
            self.start()
        pytest.fail(
            f"{self.state} child: {what}; exit status {status}; "
            f"its standard error ends with:\n{log[-4000:]}"
        )

    def call(self, request):
        calls_sent[request[0]] += 1
        pickle.dump(request, self.process.stdin)
        self.process.stdin.flush()
        return self.receive()

    def release(self):
        """Closes the pipes and the error file of a child that has ended; a
        killed one may leave unsent requests behind."""
        for stream in (self.process.stdin, self.process.stdout, self.stderr_file):
            with contextlib.suppress(OSError):
                stream.close()

    def close(self):
        self.process.stdin.close()
        status = self.process.wait(timeout=REPLY_TIMEOUT_S)
        with open(self.stderr_file.name, encoding="utf-8", errors="replace") as handle:
            log = handle.read()
        self.release()  # Windows deletes no file that is still open
        os.unlink(self.stderr_file.name)
        assert status == 0, f"{self.state} child ended with status {status}:\n{log[-4000:]}"


@pytest.fixture(scope="module")
def children():
    pair = {state: Child(state) for state in ("before", "after")}
    yield pair
    for child in pair.values():
        child.close()
    stats = os.environ.get("VELMO_FUZZ_STATS")
    if stats:
        with open(stats, "w", encoding="utf-8") as handle:
            json.dump(dict(calls_sent), handle, indent=1, sort_keys=True)


# --------------------------------------------------------------------- model


# The interpreter's own conversions, through standard-library functions that
# convert by the same rules (and so raise the same errors): math.ldexp(x, 0)
# takes `x` as PyFloat_AsDouble does and returns it unchanged, and
# operator.index is PyNumber_Index. Where another interpreter's conversion
# may differ from CPython's, the model states CPython's rule itself.
# operator.index reads an int subclass by its value on PyPy too (its
# int.__index__ would call the subclass's __int__).
index_of = operator.index


def float_of(obj):
    # CPython's PyFloat_AsDouble: a float, a subclass too, is its value (PyPy
    # 7.3 calls its __float__); then __float__; then __index__ (which PyPy
    # lacks), whose int is again its value, whatever the int's own __float__.
    kind = type(obj)
    if issubclass(kind, float):
        return float.__float__(obj)
    if not hasattr(kind, "__float__") and hasattr(kind, "__index__"):
        return int.__float__(operator.index(obj))
    return math.ldexp(obj, 0)


def long_of(integer):
    if not LONG_MIN <= integer <= LONG_MAX:
        raise OverflowError(interpreter_text("too_big_for_long"))
    return integer


def unsigned_of(integer):
    if integer < 0:
        raise OverflowError(interpreter_text("negative_to_unsigned"))
    if integer > 2**64 - 1:
        raise OverflowError(interpreter_text("too_big_for_unsigned"))
    return integer


def utf8_of(text):
    return str.encode(text, "utf-8")


PANIC_TYPE = panic_type()


class Failure(Exception):
    """The outcome a call is expected to end with."""

    def __init__(self, kind, text, cause=None, direct_fatal=False, resumed=False, contains=""):
        super().__init__(kind, text)
        self.kind, self.text, self.cause, self.contains = kind, text, cause, contains
        self.direct_fatal, self.resumed = direct_fatal, resumed


def type_error(text):
    return Failure(TYPE_ERROR, text)


def panic(text, resumed=False):
    return Failure(PANIC, text, direct_fatal=not resumed, resumed=resumed)


def qualname_text(obj):
    try:
        name = type(obj).__qualname__
    except Exception:  # noqa: BLE001 - an unreadable name has a fixed text
        return UNKNOWN_TYPE_NAME
    return name if isinstance(name, str) else UNKNOWN_TYPE_NAME


def interpreter(conversion, obj):
    """The interpreter's own conversion of `obj`, or its exception as a Failure."""
    try:
        return conversion(obj)
    except BaseException as error:  # noqa: BLE001
        if type(error) is PANIC_TYPE:
            raise panic(str(error), resumed=True) from None
        cause = error.__cause__
        raise Failure(
            fuzz_objects.type_name(type(error)),
            str(error),
            fuzz_objects.type_name(type(cause)) if cause is not None else None,
        ) from None


def index_value(obj, read):
    return interpreter(read, interpreter(index_of, obj))


def convert(rule, obj):
    """The native value of `obj` by `rule`, or the interpreter's Failure."""
    if rule == "object":
        return obj
    if rule in ("optional_float", "optional_uint32") and obj is None:
        return None
    if rule in ("float", "optional_float"):
        return interpreter(float_of, obj)
    if rule == "int32":
        value = index_value(obj, long_of)
        if not INT32_MIN <= value <= INT32_MAX:
            raise Failure(OVERFLOW_ERROR, None)  # the wording is the module's own
        return value
    if rule in ("uint32", "optional_uint32"):
        value = index_value(obj, unsigned_of)
        if value > UINT32_MAX:
            raise Failure(OVERFLOW_ERROR, OUT_OF_RANGE_CONVERSION)
        return value
    if rule == "string":
        if not isinstance(obj, str):
            raise type_error(not_a_string(qualname_text(obj)))
        return interpreter(utf8_of, obj)
    raise AssertionError(rule)


def converted(state, rule, param, description):
    context = fuzz_objects.Context(None, PANIC_TYPE)
    obj = fuzz_objects.build(description, context)
    try:
        value, error = convert(rule, obj), None
    except Failure as failure:
        value, error = None, failure
    behaviour = fuzz_objects.behaviour_of(description) if context.reentered else None
    behaviour = behaviour and behaviour[0]
    if behaviour == "recurse":
        # Each level converts the same object again until the interpreter's
        # recursion limit stops it; its error passes up every level unchanged.
        raise Failure("builtins.RecursionError", None)
    if behaviour == "reenter" and not description[-1][1] and state == "before":
        raise panic(NOT_INITIALIZED, resumed=True)
    if error is None:
        return value
    if error.kind == TYPE_ERROR:
        raise Failure(TYPE_ERROR, f"argument '{param}': {error.text}", error.cause)
    raise error


def bind(name, args, keywords):
    params, required, _ = FUNCTIONS[name]
    names = [p for p, _ in params]
    n, k = len(params), len(args)
    if FAST_CALLS and any(not isinstance(key, str) for key in keywords):
        raise Failure(TYPE_ERROR, None, contains=KEYWORDS_MUST_BE_STRINGS)
    slots = list(args[:n]) + [None] * (n - min(k, n))
    if k > n:
        was = "was" if k == 1 else "were"
        if required == n:
            raise type_error(f"{name}() takes {n} positional arguments but {k} {was} given")
        raise type_error(
            f"{name}() takes from {required} to {n} positional arguments but {k} {was} given"
        )
    for key, description in keywords.items():
        if not isinstance(key, str):
            raise type_error(not_a_string(type(key).__qualname__))
        # Only a key whose UTF-8 bytes equal a name matches it, whatever its
        # own __eq__ says.
        text = str.__str__(key)
        if text in names:
            index = names.index(text)
            if slots[index] is not None:
                raise type_error(f"{name}() got multiple values for argument '{text}'")
            slots[index] = description
        else:
            raise type_error(f"{name}() got an unexpected keyword argument '{key!s}'")
    missing = [names[i] for i in range(required) if slots[i] is None]
    if missing:
        quoted = [f"'{m}'" for m in missing]
        if len(quoted) == 1:
            listed = quoted[0]
        elif len(quoted) == 2:
            listed = " and ".join(quoted)
        else:
            listed = ", ".join(quoted[:-1]) + ", and " + quoted[-1]
        plural = "argument" if len(missing) == 1 else "arguments"
        raise type_error(f"{name}() missing {len(missing)} required positional {plural}: {listed}")
    return slots


def keyword_dict(kwargs):
    """The keyword dictionary as the child builds it: first key object, last value."""
    keywords = {}
    for key, description in kwargs:
        keywords[fuzz_objects.build_key(key)] = description
    return keywords


def expected_outcome(state, name, args, kwargs):
    """("return", values) with the converted arguments, "skip", or a Failure."""
    keywords = keyword_dict(kwargs)
    if name in NO_ARGUMENTS:
        # The interpreter refuses these itself, in words that vary by version.
        if any(not isinstance(key, str) for key in keywords):
            # 3.8 reports the keywords themselves, later versions their keys.
            return Failure(
                TYPE_ERROR,
                None,
                contains=(KEYWORDS_MUST_BE_STRINGS, f"{name}() takes no keyword arguments"),
            )
        if keywords:
            return Failure(TYPE_ERROR, None, contains=f"{name}() takes no keyword arguments")
        if args:
            return Failure(TYPE_ERROR, None, contains=f"{name}() takes no arguments")
        if state == "before":
            return panic(NOT_INITIALIZED)
        return "skip" if name == "show" else ("return", [])
    try:
        slots = bind(name, args, keywords)
        params = FUNCTIONS[name].parameters
        values = [
            converted(state, rule, param, slot) if slot is not None else None
            for (param, rule), slot in zip(params, slots)
        ]
    except Failure as failure:
        return failure
    if name == "init":
        return "skip" if state == "before" else panic(ALREADY_INITIALIZED)
    if state == "before" and name not in ENGINE_FREE:
        return panic(NOT_INITIALIZED)
    if name == "run":
        return "skip"
    return ("return", values)


# ------------------------------------------------------------ result checks


def saturated(rounded, x):
    """`rounded(x)` as a signed 32-bit value: saturating, NaN giving 0."""
    if math.isnan(x):
        return 0
    if math.isinf(x):
        return INT32_MAX if x > 0 else INT32_MIN
    return max(INT32_MIN, min(INT32_MAX, rounded(x)))


def same_float(a, b):
    return (math.isnan(a) and math.isnan(b)) or (
        a == b and math.copysign(1, a) == math.copysign(1, b)
    )


def sqrt_matches(values, result):
    (x,) = values
    if x == 0.0:
        return result == MAX_DOUBLE
    if x < 0 or math.isnan(x):
        return math.isnan(result)
    return result == math.sqrt(x)


def in_degrees(function):
    def matches(values, result):
        radians = values[0] * math.pi / 180.0  # may overflow to infinity for a finite x
        if math.isfinite(radians):
            return result == function(radians) and -1.0 <= result <= 1.0
        return math.isnan(result)

    return matches


def atan2_matches(values, result):
    expected = math.atan2(values[0], values[1]) * 180.0 / math.pi
    return same_float(result, expected) and (math.isnan(result) or -180.0 <= result <= 180.0)


def between_bounds(values, result):
    return min(values) <= result <= max(values)


def noise_matches(values, result):
    coordinates = [c if c is not None else 0.0 for c in values]
    if all(math.isfinite(c) for c in coordinates):
        return -1.0 <= result <= 1.0
    return math.isnan(result)


def sign(x):
    return 1.0 if x > 0 else -1.0 if x < 0 else 0.0


# Each function's result: its type, and whether it is the documented value or
# in the documented range, given the converted arguments (None: any value of
# the type). No call of init, run or show that would return is sent.
NEVER_RETURNS = (None, None)
RESULT_CHECKS = {
    **dict.fromkeys(("init", "run", "show"), NEVER_RETURNS),
    **dict.fromkeys(("quit", "title", "rseed", "nseed"), (type(None), None)),
    "process_exists": (bool, None),
    "ceil": (int, lambda values, result: result == saturated(math.ceil, values[0])),
    "floor": (int, lambda values, result: result == saturated(math.floor, values[0])),
    # same_float: a zero result is +0.0, whatever the sign of a zero argument.
    "sgn": (float, lambda values, result: same_float(result, sign(values[0]))),
    "sqrt": (float, sqrt_matches),
    "sin": (float, in_degrees(math.sin)),
    "cos": (float, in_degrees(math.cos)),
    "atan2": (float, atan2_matches),
    "rndi": (int, between_bounds),
    "rndf": (float, between_bounds),
    "noise": (float, noise_matches),
}


def check_result(name, values, result):
    kind, matches = RESULT_CHECKS[name]
    assert kind is not None, f"{name} returned {result!r}: no such call is sent"
    assert type(result) is kind, (name, values, result)
    if kind is int:
        assert INT32_MIN <= result <= INT32_MAX, (name, values, result)
    assert matches is None or matches(values, result), (name, values, result)


def rndf_failure(values):
    """The fatal error of `rndf` for bounds that form no range, or None."""
    a, b = values
    high, low = (b if b > a else a), (a if a < b else b)
    if not high >= low:
        return panic(EMPTY_RANGE)
    if not math.isfinite((high - low) / 0.9999999999999998):
        return panic(RANGE_OVERFLOW)
    return None


RESUME_NOTICE = RESUMING_PANIC


def may_write_diagnostics(args, kwargs):
    """Whether an argument object may itself cause a fatal error on the way."""
    descriptions = list(args) + [value for _, value in kwargs]
    behaviours = [fuzz_objects.behaviour_of(d) for d in descriptions]
    return any(
        b is not None and (b[0] in ("reenter", "recurse") or b[1:2] == ("Panic",))
        for b in behaviours
    )


def check_failure(expected, outcome, diagnostics):
    assert outcome[0] == "raise", f"expected {expected.kind}: {expected.text!r}, got {outcome!r}"
    _, kind, text, cause, suppress_context, no_context = outcome
    assert kind == expected.kind, (expected.kind, expected.text, outcome)
    if expected.text is not None:
        assert text == expected.text
    else:
        wanted = expected.contains if isinstance(expected.contains, tuple) else (expected.contains,)
        assert not text.startswith("argument") and any(part in text for part in wanted), text
    if kind != PANIC:
        assert cause == expected.cause, outcome
    if kind == TYPE_ERROR and text.startswith("argument '"):
        # A reworded error keeps the original's cause and drops the original.
        assert suppress_context and no_context, outcome
    if expected.direct_fatal:
        assert PANICKED_AT in diagnostics and f"\n{expected.text}\n" in diagnostics
    if expected.resumed:
        assert RESUME_NOTICE in diagnostics


def check_call(child, request):
    name, args, kwargs, _through_c_api = request
    if any(key[0] == "kint" for key, _ in kwargs):
        request = (name, args, kwargs, True)  # the interpreter refuses such keys itself
    if PYPY and "'recurse'" in repr((args, kwargs)):
        # PyPy 7.3.11 fails fatally in its own PyErr_Fetch at the recursion limit.
        return
    if NAMES_TYPES_ON_ENTRY and "'nameless'" in repr((args, kwargs)):
        return  # the call fails inside PyPy, with the metaclass's own error
    expected = expected_outcome(child.state, name, args, kwargs)
    if expected == "skip":
        return
    if isinstance(expected, tuple) and name == "rndf":
        expected = rndf_failure(expected[1]) or expected
    if not C_API_CALLS and name not in NO_ARGUMENTS and request[3]:
        if any(key[0] == "kint" for key, _ in kwargs):
            expected = type_error(interpreter_text("keyword_not_a_string").format(name=name))
    outcome, diagnostics, problems = child.call(request)
    assert not problems, problems
    if isinstance(expected, Failure):
        check_failure(expected, outcome, diagnostics)
    else:
        assert outcome[0] == "return", f"expected a result, got {outcome!r}"
        check_result(name, expected[1], outcome[1])
    if not may_write_diagnostics(args, kwargs) and not getattr(expected, "direct_fatal", False):
        assert diagnostics == "", diagnostics


fuzz_settings = settings(
    max_examples=EXAMPLES,
    derandomize=not RANDOM,
    database=None,
    deadline=None,
    suppress_health_check=list(HealthCheck),
    print_blob=True,
)


# A valid argument for each rule, to fill the parameters before the one tried.
VALID_ARGUMENT = {
    "float": ("float", 0.5),
    "optional_float": ("none",),
    "int32": ("int", 1),
    "uint32": ("int", 1),
    "optional_uint32": ("none",),
    "string": ("str", "t"),
    "object": ("none",),
}
# With the objects that a rule reading them by their value never asks.
RAISING_ARGUMENTS = [
    raising
    for kind in RAISES
    for raising in (
        ("hook", "float", ("raise", kind, "raised")),
        ("hook", "index", ("raise", kind, "raised")),
        ("override", "float", 0.5, ("raise", kind, "raised")),
        ("override", "int", 1, ("raise", kind, "raised")),
    )
]


@pytest.mark.parametrize("state", ["before", "after"])
def test_every_raised_kind_at_every_parameter(children, state):
    """Each kind of exception a conversion can raise, at each parameter of each
    function. The generated calls rarely reach the last kinds (the generator
    favours the first choices of a list, and a run is derandomized)."""
    child = children[state]
    for name, (params, _, _) in FUNCTIONS.items():
        for position in range(len(params)):
            before = [VALID_ARGUMENT[rule] for _, rule in params[:position]]
            for raising in RAISING_ARGUMENTS:
                check_call(child, (name, [*before, raising], [], False))


@pytest.mark.parametrize("state", ["before", "after"])
@pytest.mark.parametrize("name", list(FUNCTIONS))
def test_every_call_ends_as_documented(children, state, name):
    check_rows(RESULT_CHECKS, "result checks", names=[name])
    child = children[state]

    @fuzz_settings
    @given(calls_of(name))
    def fuzz(request):
        check_call(child, request)

    fuzz()
