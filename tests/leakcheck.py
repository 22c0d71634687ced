"""The million-call leak check.

Drives every function of the module through its success and error paths,
before and after `init`, a million calls in one process (by default), then
checks that neither the process's resident memory nor the reference counts
of the objects passed in grew beyond noise. `run` and `show` never return
after `init`, so only their error paths are driven; `init` succeeds once.

    python tests/leakcheck.py [--calls N] [--limit-kib K]

Prints the figures and exits with status 1 when something grew. Fatal errors
write diagnostics to standard error; those are sent to /dev/null while the
calls run.
"""

import argparse
import collections
import ctypes
import functools
import gc
import os
import sys
import time

import velmo_wrapper as v

# Beside the tests, whose helpers and function table it shares: run as a
# script, its own directory is on the path.
from helpers import panic_type
from module_functions import arguments as call
from module_functions import check_rows

PANIC = panic_type()


def resident_kib():
    """The process's resident memory: its working set on Windows."""
    if sys.platform == "win32":
        return working_set_kib()
    with open("/proc/self/statm") as statm:
        return int(statm.read().split()[1]) * os.sysconf("SC_PAGE_SIZE") // 1024


class ProcessMemoryCounters(ctypes.Structure):
    _fields_ = [
        ("cb", ctypes.c_ulong),
        ("page_fault_count", ctypes.c_ulong),
        ("peak_working_set_size", ctypes.c_size_t),
        ("working_set_size", ctypes.c_size_t),
        ("quota_sizes", ctypes.c_size_t * 4),
        ("pagefile_usage", ctypes.c_size_t),
        ("peak_pagefile_usage", ctypes.c_size_t),
    ]


def working_set_kib():
    counters = ProcessMemoryCounters(cb=ctypes.sizeof(ProcessMemoryCounters))
    this_process = ctypes.c_void_p(-1)  # the pseudo handle GetCurrentProcess returns
    kernel32 = ctypes.WinDLL("kernel32", use_last_error=True)
    if not kernel32.K32GetProcessMemoryInfo(this_process, ctypes.byref(counters), counters.cb):
        raise ctypes.WinError(ctypes.get_last_error())
    return counters.working_set_size // 1024


class Index:
    def __index__(self):
        return 7


class Real:
    def __float__(self):
        return 2.5


class Text(str):
    pass


class Stop(BaseException):
    pass


class Raising:
    """Conversions that fail in the ways a script can make them fail."""

    def __init__(self, how):
        self.how = how

    def __float__(self):
        return self.fail()

    def __index__(self):
        return self.fail()

    def fail(self):
        if self.how == "value":
            raise ValueError("no")
        if self.how == "type":
            raise TypeError("no") from KeyError("cause")
        if self.how == "base":
            raise Stop("no")
        if self.how == "wrong":
            return "not a number"
        if self.how == "panic":
            raise PANIC("from a conversion")
        if self.how == "reenter":
            v.ceil(1.5)  # fails before init; fine after it
            return 1
        raise AssertionError(self.how)


def argument_objects():
    objects = {
        "float": 2.5,
        "negative": -7.25,
        "int": 12345,
        "big": 2**80,
        "huge": 10**400,
        "index": Index(),
        "real": Real(),
        "text": "title text",
        "text_sub": Text("sub"),
        "surrogate": "bad \udcff",
        "bytes": b"bytes",
        "list": [1, 2],
        "nan": float("nan"),
        "inf": float("inf"),
    }
    for how in ("value", "type", "base", "wrong", "reenter", "panic"):
        objects[how] = Raising(how)
    return objects


def calls(o):
    """Each function's calls, keyed by its name: (calls that succeed after
    init, calls that fail), each one the arguments of a row. None of them
    creates the Engine or ends the process: `run` and `show` only fail, and
    `init` succeeds apart. The failures are binding errors, conversion errors
    (the interpreter's, reworded, the module's own, and conversions that raise
    or call the module again) and fatal errors: the Engine's, and one raised
    back out of Python code."""
    # fmt: off
    return {
        "init": ([], [call(1, 2), call(-1), call(o["value"])]),
        "run": ([], [call(), call(o["float"], close=o["float"])]),
        "show": ([], [call(o["float"])]),
        "quit": ([call()], [call(x=1)]),
        "title": ([call(o["text"]), call(title=o["text_sub"])],
                  [call(**{"\udcff": o["text"]}), call(o["int"]), call(o["surrogate"]),
                   call(o["bytes"])]),
        "process_exists": ([call(o["index"]), call(pid=0)], [call(2**32)]),
        "ceil": ([call(o["float"])], [call(o["float"], o["float"]), call(o["text"]),
                                      call(o["panic"])]),
        "floor": ([call(x=o["negative"])], []),
        "sgn": ([call(o["real"])], [call(o["reenter"])]),
        "sqrt": ([call(o["int"])], [call(o["huge"])]),
        "sin": ([call(deg=o["float"])], [call(o["type"])]),
        "cos": ([call(o["index"])], [call(o["base"])]),
        "atan2": ([call(o["float"], x=o["negative"])], [call(o["float"], y=o["float"]),
                                                        call(o["value"], 1)]),
        "rseed": ([call(o["index"])], [call(-1), call(o["type"])]),
        "rndi": ([call(o["index"], b=o["int"])], [call(q=o["int"]), call(o["float"], 1),
                                                  call(o["big"], 1), call(1, o["wrong"])]),
        "rndf": ([call(o["negative"], o["float"])], [call(), call(o["nan"], 1.0),
                                                     call(0.0, o["inf"])]),
        "nseed": ([call(seed=o["int"])], [call(o["big"])]),
        "noise": ([call(o["float"], None, o["real"]), call(x=o["float"], y=o["negative"])],
                  [call(1, 2, 3, 4), call(1.0, z=o["list"])]),
    }
    # fmt: on


def bound(table, failing=True):
    """The calls of `table`, those that fail included or not, as functions of
    no arguments."""
    return [
        functools.partial(getattr(v, name), *args, **kwargs)
        for name, (succeed, fail) in table.items()
        for args, kwargs in succeed + (fail if failing else [])
    ]


def drive(functions, count):
    """Makes `count` calls, cycling through `functions`."""
    made = 0
    while made < count:
        for function in functions:
            try:
                function()
            except BaseException:  # noqa: BLE001 - failures are expected here
                pass
        made += len(functions)
    return made


Measured = collections.namedtuple(
    "Measured", "made elapsed kinds grown_kib samples grown_counts grown_objects"
)


def measure(total):
    objects = argument_objects()
    table = calls(objects)
    started = time.perf_counter()
    made = drive(bound(table), 20_000)  # before init: the Engine check fails
    v.init()
    made += 1
    for function in bound(table, failing=False):
        function()  # an error here ends the check: a success path failed
        made += 1
    # After init, the second inits fail too.
    functions = [*bound(table), v.init, functools.partial(v.init, fps=60)]
    made += drive(functions, 40_000)  # warm-up: caches and free lists fill
    gc.collect()
    counts = [sys.getrefcount(o) for o in objects.values()]
    tracked = len(gc.get_objects())
    before = resident_kib()
    samples = []
    while made < total:
        made += drive(functions, min(100_000, total - made))
        samples.append(resident_kib() - before)
    gc.collect()
    grown_kib = resident_kib() - before
    now = [sys.getrefcount(o) for o in objects.values()]
    grown_counts = {name: n - c for name, n, c in zip(objects, now, counts) if n != c}
    grown_objects = len(gc.get_objects()) - tracked
    elapsed = time.perf_counter() - started
    return Measured(made, elapsed, len(functions), grown_kib, samples, grown_counts, grown_objects)


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--calls", type=int, default=1_000_000)
    parser.add_argument("--limit-kib", type=int, default=1024)
    options = parser.parse_args()
    check_rows(calls(argument_objects()), "leak check calls")

    saved_stderr = os.dup(2)
    with open(os.devnull, "w") as devnull:
        os.dup2(devnull.fileno(), 2)
    try:
        m = measure(options.calls)
    finally:
        sys.stderr.flush()
        os.dup2(saved_stderr, 2)

    print(f"leak check: {m.made} calls in {m.elapsed:.1f} s ({m.kinds} kinds of call)")
    print(
        f"resident memory growth after warm-up: {m.grown_kib} KiB "
        f"(limit {options.limit_kib} KiB); per 100,000 calls: {m.samples}"
    )
    print(f"reference count growth of the argument objects: {m.grown_counts or 'none'}")
    print(f"growth of the objects the collector tracks: {m.grown_objects}")
    failed = m.grown_kib > options.limit_kib or m.grown_counts or m.grown_objects > 100
    print("leak check: FAILED" if failed else "leak check: passed")
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
