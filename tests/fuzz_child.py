"""The child interpreter of the binding fuzz test.

Run as `python fuzz_child.py before|after STDERR_FILE`, with standard error
going to STDERR_FILE. It imports the module (and, for
"after", calls `init`), then answers calls that arrive as pickled frames on
standard input with pickled outcome descriptions on standard output. After
every call it checks that the call left the Engine as the documented rules
say: a failed call changes neither the random sequence nor the noise table,
and before `init` no failed call creates an Engine.
"""

import ctypes
import pickle
import struct
import sys

import fuzz_objects
import velmo_wrapper as v
from compat_texts import NOT_INITIALIZED
from helpers import panic_type

INT32_MIN, INT32_MAX = -(2**31), 2**31 - 1
RANDOM_SEED = 987654321
NOISE_POINT = (0.5, 0.25, 0.75)
# The calls that may change the random generator when they succeed.
RANDOM_CALLS = ("rseed", "rndi", "rndf")

# A caller of the C API that hands a function its keyword dictionary as it
# is; CPython's alone (PyPy's ctypes has no pythonapi).
py_object_call = getattr(ctypes, "pythonapi", None)
if py_object_call is not None:
    py_object_call = py_object_call.PyObject_Call
    py_object_call.restype = ctypes.py_object
    py_object_call.argtypes = [ctypes.py_object, ctypes.py_object, ctypes.py_object]


class StderrTap:
    """Reads back what each call wrote to standard error, which the parent
    sends to a file (so that a crash report stays readable after a crash)."""

    def __init__(self, path):
        self.file = open(path, "rb")
        self.offset = 0

    def take(self):
        sys.stderr.flush()
        self.file.seek(self.offset)
        data = self.file.read()
        self.offset += len(data)
        return data.decode("utf-8", "replace")


def bits(value):
    return struct.pack("<d", value)


class EngineWatch:
    """Follows the Engine's random sequence and noise table across calls."""

    def __init__(self):
        v.rseed(RANDOM_SEED)
        self.sequence = [v.rndi(INT32_MIN, INT32_MAX) for _ in range(256)]
        self.restart_sequence()
        v.nseed(0)
        self.noise = bits(v.noise(*NOISE_POINT))

    def restart_sequence(self):
        v.rseed(RANDOM_SEED)
        self.position = 0

    def after(self, name, succeeded):
        problems = []
        if name in RANDOM_CALLS and succeeded:
            self.restart_sequence()
        else:
            drawn = v.rndi(INT32_MIN, INT32_MAX)
            if drawn != self.sequence[self.position]:
                problems.append(
                    f"random sequence moved: drew {drawn}, expected {self.sequence[self.position]}"
                )
                self.restart_sequence()
            else:
                self.position += 1
                if self.position == len(self.sequence):
                    self.restart_sequence()
        sample = bits(v.noise(*NOISE_POINT))
        if name == "nseed" and succeeded:
            self.noise = sample
        elif sample != self.noise:
            problems.append("noise table changed by a failed call")
            self.noise = sample
        return problems


class NoEngineWatch:
    """Before `init`: no call may leave an Engine behind."""

    def after(self, name, succeeded):
        try:
            v.quit()
        except BaseException as error:  # noqa: BLE001
            if str(error) == NOT_INITIALIZED:
                return []
        return ["an Engine exists after a call before init"]


def call(context, name, args, kwargs, through_c_api):
    function = getattr(v, name)
    positional = tuple(fuzz_objects.build(a, context) for a in args)
    keywords = {}
    for key, value in kwargs:
        keywords[fuzz_objects.build_key(key)] = fuzz_objects.build(value, context)
    context.call_kwargs = keywords
    if through_c_api and py_object_call is not None:
        # The dictionary reaches the function as it is: non-str keys and all.
        return py_object_call(function, positional, keywords)
    return function(*positional, **keywords)


def serve(state, stderr_path):
    tap = StderrTap(stderr_path)
    context = fuzz_objects.Context(v, panic_type())
    if state == "after":
        v.init()
        watch = EngineWatch()
    else:
        watch = NoEngineWatch()
    tap.take()
    reader, writer = sys.stdin.buffer, sys.stdout.buffer
    pickle.dump(("ready", context.panic_type.__module__), writer)
    writer.flush()
    while True:
        try:
            request = pickle.load(reader)
        except EOFError:
            return
        name, args, kwargs, through_c_api = request
        try:
            result = call(context, name, args, kwargs, through_c_api)
            outcome = ("return", result)
        except BaseException as error:  # noqa: BLE001 - every outcome is reported
            outcome = fuzz_objects.describe_exception(error)
        diagnostics = tap.take()
        problems = watch.after(name, outcome[0] == "return")
        tap.take()
        pickle.dump((outcome, diagnostics, problems), writer)
        writer.flush()


if __name__ == "__main__":
    serve(sys.argv[1], sys.argv[2])
