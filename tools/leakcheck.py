"""The million-call leak check.

Drives every function of the module through its success and error paths,
before and after `init`, a million calls in one process (by default), then
checks that neither the process's resident memory nor the reference counts
of the objects passed in grew beyond noise. `run` and `show` never return
after `init`, so only their error paths are driven; `init` succeeds once.

    python tools/leakcheck.py [--calls N] [--limit-kib K]

Prints the figures and exits with status 1 when something grew. Fatal errors
write diagnostics to standard error; those are sent to /dev/null while the
calls run.
"""

import argparse
import ctypes
import gc
import os
import sys
import time

import velmo_wrapper as v

# From the helpers of the tests' child scripts: the tests run this check as one.
sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "tests"))
from child_support import panic_type

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
    """Every call as a function of no arguments: none of them creates the
    Engine or ends the process."""
    return [*succeeding_calls(o), *failing_calls(o)]


def succeeding_calls(o):
    """The success paths (after init), positional and keyword forms."""
    return [
        lambda: v.quit(),
        lambda: v.title(o["text"]),
        lambda: v.title(title=o["text_sub"]),
        lambda: v.process_exists(o["index"]),
        lambda: v.process_exists(pid=0),
        lambda: v.ceil(o["float"]),
        lambda: v.floor(x=o["negative"]),
        lambda: v.sgn(o["real"]),
        lambda: v.sqrt(o["int"]),
        lambda: v.sin(deg=o["float"]),
        lambda: v.cos(o["index"]),
        lambda: v.atan2(o["float"], x=o["negative"]),
        lambda: v.rseed(o["index"]),
        lambda: v.rndi(o["index"], b=o["int"]),
        lambda: v.rndf(o["negative"], o["float"]),
        lambda: v.nseed(seed=o["int"]),
        lambda: v.noise(o["float"], None, o["real"]),
        lambda: v.noise(x=o["float"], y=o["negative"]),
    ]


def failing_calls(o):
    return [
        # Binding errors.
        lambda: v.ceil(o["float"], o["float"]),
        lambda: v.noise(1, 2, 3, 4),
        lambda: v.init(1, 2),
        lambda: v.run(),
        lambda: v.run(o["float"], close=o["float"]),
        lambda: v.atan2(o["float"], y=o["float"]),
        lambda: v.rndi(q=o["int"]),
        lambda: v.title(**{"\udcff": o["text"]}),
        lambda: v.show(o["float"]),
        lambda: v.quit(x=1),
        lambda: v.rndf(),
        # Conversion errors: the interpreter's, reworded, and the module's own.
        lambda: v.ceil(o["text"]),
        lambda: v.sqrt(o["huge"]),
        lambda: v.rndi(o["float"], 1),
        lambda: v.rndi(o["big"], 1),
        lambda: v.rseed(-1),
        lambda: v.nseed(o["big"]),
        lambda: v.process_exists(2**32),
        lambda: v.init(-1),
        lambda: v.init(o["value"]),
        lambda: v.title(o["int"]),
        lambda: v.title(o["surrogate"]),
        lambda: v.title(o["bytes"]),
        lambda: v.noise(1.0, z=o["list"]),
        lambda: v.atan2(o["value"], 1),
        lambda: v.sin(o["type"]),
        lambda: v.cos(o["base"]),
        lambda: v.rndi(1, o["wrong"]),
        lambda: v.rseed(o["type"]),
        lambda: v.sgn(o["reenter"]),
        # Fatal errors: the Engine's, and one raised back out of Python code.
        lambda: v.rndf(o["nan"], 1.0),
        lambda: v.rndf(0.0, o["inf"]),
        lambda: v.ceil(o["panic"]),
    ]


def calls_after_init(o):
    return [*calls(o), lambda: v.init(), lambda: v.init(fps=60)]


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


def measure(total):
    objects = argument_objects()
    started = time.perf_counter()
    made = drive(calls(objects), 20_000)  # before init: the Engine check fails
    v.init()
    made += 1
    for function in succeeding_calls(objects):
        function()  # an error here ends the check: a success path failed
    made += len(succeeding_calls(objects))
    functions = calls_after_init(objects)
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
    return made, time.perf_counter() - started, grown_kib, samples, objects, counts, tracked


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--calls", type=int, default=1_000_000)
    parser.add_argument("--limit-kib", type=int, default=1024)
    options = parser.parse_args()

    saved_stderr = os.dup(2)
    with open(os.devnull, "w") as devnull:
        os.dup2(devnull.fileno(), 2)
    try:
        made, elapsed, grown_kib, samples, objects, counts, tracked = measure(options.calls)
    finally:
        sys.stderr.flush()
        os.dup2(saved_stderr, 2)

    now = [sys.getrefcount(o) for o in objects.values()]
    grown_counts = {name: n - c for name, n, c in zip(objects, now, counts) if n != c}
    grown_objects = len(gc.get_objects()) - tracked
    print(
        f"leak check: {made} calls in {elapsed:.1f} s "
        f"({len(calls_after_init(objects))} kinds of call)"
    )
    print(
        f"resident memory growth after warm-up: {grown_kib} KiB "
        f"(limit {options.limit_kib} KiB); per 100,000 calls: {samples}"
    )
    print(f"reference count growth of the argument objects: {grown_counts or 'none'}")
    print(f"growth of the objects the collector tracks: {grown_objects}")
    failed = grown_kib > options.limit_kib or grown_counts or grown_objects > 100
    print("leak check: FAILED" if failed else "leak check: passed")
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
