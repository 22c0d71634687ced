"""The child interpreter of the allocation-failure test.

    python oom_child.py reference before|after    prints the normal outcomes as JSON
    python oom_child.py hooked before|after        reads them on standard input, then
                                                   runs every call under failing
                                                   allocations and prints a report
    python oom_child.py init positional|keyword one|all    reads the ks on standard input
    python oom_child.py init-own-steps -                   prints how many of them are init's
    python oom_child.py import one|all K                   reads the ks on standard input

Each call runs under failing allocations: the k-th alone (one), or every one
from the k-th on (all), for k = 0, 1, ... until the call completes without
reaching the failing allocations. The allocations are the interpreter's
(`_testcapi.set_nomemory`), or with FAILING=module in the environment the
module's own, through the preloaded tests/native/module_malloc_fails.c.
The normal outcomes come from a separate interpreter, so that this one meets
every error path before anything else of the module has run.
"""

import _testcapi
import builtins
import ctypes
import functools
import importlib
import importlib.util

# What `init` imports is imported already: the import machinery itself can
# hang when allocations fail (seen on 3.11), and it is not this module's code.
import inspect
import json
import os
import sys

from compat_texts import (
    NOT_INITIALIZED,
    OUT_OF_RANGE_CONVERSION,
    PANIC_TYPE_NAME,
    PYTHON_API_FAILED,
)
from helpers import error_name, outcome
from module_functions import arguments as call

BEFORE_OR_AFTER = sys.argv[2]
# The import mode creates the module itself, under failing allocations.
if sys.argv[1] != "import":
    v = importlib.import_module("velmo_wrapper")
if BEFORE_OR_AFTER == "after":
    v.init()
# More allocations than any one call makes: reaching it means the loop never ends.
K_LIMIT = 2000


def call_table():
    """(name, function, args, kwargs) for every path of every function: the
    success paths by position and by keyword, and each argument error."""
    pid, big = os.getpid(), 10**400

    # fmt: off
    def one_float(name):
        return [call(-7.5), call(**{name: 1e9}), call("a"), call(big), call(), call(1, 2),
                call(y=1), call(1, **{name: 2})]

    calls = {
        "process_exists": [call(pid), call(pid=pid), call("a"), call(-1), call(2**32), call(1, 2),
                           call(), call(q=1), call(1, pid=1)],
        **{name: one_float("x") for name in ("ceil", "floor", "sgn", "sqrt")},
        **{name: one_float("deg") for name in ("sin", "cos")},
        "atan2": [call(2, 1), call(y=2, x=1), call(2, "a"), call("a", 1), call(), call(1, 2, 3),
                  call(1, z=1), call(1, y=1)],
        **{name: [call(11), call(seed=11), call("a"), call(-1), call(2**32), call(), call(1, 2),
                  call(s=1), call(1, seed=1)] for name in ("rseed", "nseed")},
        "rndi": [call(-(10**6), 10**6), call(a=1, b=10**6), call(1.5, 2), call(1, "b"),
                 call(2**31, 1), call(1, -(2**31) - 1), call(), call(1, 2, 3), call(1, c=1)],
        "rndf": [call(0, 1e6), call(b=1e6, a=0), call("a", 1), call(0, "b"), call(big, 1), call(),
                 call(1, 2, 3)],
        "noise": [call(0.5, 0.25, 0.75), call(0.5), call(0.5, None, 0.75), call(x=0.5, z=0.75),
                  call(None), call(1, "y"), call(1, 2, 3, 4), call(w=1), call(), call(1, x=1)],
        "title": [call("t"), call(title="t"), call(3), call("\ud800"), call(), call("t", "u"),
                  call(name="t")],
        "quit": [call(), call(1)],
        "show": [call(1)],
        "run": [call(), call(1, 2, 3, 4), call(1, close=3), call(x=1), call(1, 2, 3, update=1)],
        "init": [call("a"), call(-1), call(1, 2), call(f=1), call(30, fps=30)],
    }
    # fmt: on
    table = [(name, getattr(v, name), *row) for name, rows in calls.items() for row in rows]
    if BEFORE_OR_AFTER == "before":
        # Calls that would not come back after init.
        table += [("show", v.show, (), {}), ("run", v.run, (1, 2, 3), {})]
    return table


def reset_state():
    if BEFORE_OR_AFTER == "after":
        v.rseed(7)
        v.nseed(5)


def state():
    """What a call may move: the random sequence and the noise table."""
    if BEFORE_OR_AFTER == "before":
        return None
    return [v.rndi(-(2**31), 2**31 - 1), repr(v.rndf(0, 1)), repr(v.noise(0.3, 0.6, 0.9))]


def reference():
    normal = []
    for _, function, args, kwargs in call_table():
        reset_state()
        unmoved = state()
        reset_state()
        result = outcome(functools.partial(function, *args, **kwargs))
        normal.append({"outcome": result, "state": state(), "unmoved": unmoved})
    json.dump(normal, sys.stdout)


class InterpreterAllocations:
    """The interpreter's allocations, failed through _testcapi."""

    def __init__(self):
        self.fail = _testcapi.set_nomemory
        self.remove = _testcapi.remove_mem_hooks


class ModuleAllocations:
    """The module's own (C++) allocations, failed through the preloaded
    tests/native/module_malloc_fails.c; `remove` returns how many failed."""

    def __init__(self):
        shim = ctypes.CDLL(None)
        fails, self.remove = shim.module_malloc_fails, shim.module_malloc_restored
        fails.argtypes = [ctypes.c_void_p, ctypes.c_long, ctypes.c_long]
        self.remove.restype = ctypes.c_long
        module = ctypes.PyDLL(importlib.util.find_spec("velmo_wrapper").origin)
        inside = ctypes.cast(module.PyInit_velmo_wrapper, ctypes.c_void_p)
        self.fail = lambda start, stop: fails(inside, start, stop)


FAILING = ModuleAllocations() if os.environ.get("FAILING") == "module" else InterpreterAllocations()


def attempt(function, args, kwargs, start, stop):
    """The call's outcome under failing allocations, and whether the call no
    longer reaches them: an allocation made after it, still under them,
    succeeds, and none of them failed."""
    result = error = None
    FAILING.fail(start, stop)
    try:
        result = function(*args, **kwargs)
    except BaseException as caught:  # noqa: BLE001 - every outcome is checked
        error = caught
    try:
        probe = [None] * 16
    except MemoryError:
        probe = None
    # Called with no Python frame of its own, which could fail to be made.
    failed = FAILING.remove()
    untouched = probe is not None and not failed
    if error is None:
        return ["ok", repr(result)], untouched
    got = [error_name(type(error)), str(error)]
    # The error's traceback holds this frame, which holds the error: a cycle
    # that would keep the interpreter's few spare MemoryErrors from coming back.
    error = None
    return got, untouched


def fault(got, normal, name):
    """Why `got` is not an acceptable outcome of a call of `name`, or None."""
    if got == normal or got[0] == "MemoryError":
        return None
    # 3.8 loses the text of its own errors when memory runs out: those passed
    # on unchanged, and quit's and show's argument count.
    interpreters = normal[0] not in ("TypeError", PANIC_TYPE_NAME) or name in ("quit", "show")
    if interpreters and normal[1] != OUT_OF_RANGE_CONVERSION and got == [normal[0], ""]:
        return None
    # The documented fatal error when a result object cannot be made; an
    # error that cannot be made is a MemoryError.
    if normal[0] == "ok" and got == [PANIC_TYPE_NAME, PYTHON_API_FAILED]:
        return None
    return "wrong outcome"


def hooked():
    normal = json.load(sys.stdin)
    faults, counted = [], {}
    for (name, function, args, kwargs), expected in zip(call_table(), normal):
        label = f"{name}(*{args!r}, **{kwargs!r})"
        for k in range(K_LIMIT):
            # Every allocation failing first: at k = 0 that is the first error
            # of the process, made with no spare memory at all.
            for stop in (0, k + 1):
                reset_state()
                got, untouched = attempt(function, args, kwargs, k, stop)
                why = fault(got, expected["outcome"], name)
                moved = state()
                if why is None and moved != expected["state" if got[0] == "ok" else "unmoved"]:
                    why = "state moved" if got[0] != "ok" else "state not moved as normal"
                if why:
                    faults.append(
                        f"{label} failing allocations ({k}, {stop}): {why}: {got!r}, "
                        f"normally {expected['outcome']!r}"
                    )
                if stop == 0:
                    settled = got == expected["outcome"] and untouched
            counted[name] = counted.get(name, 0) + 1
            if settled:
                break
        else:
            faults.append(f"{label}: still reaches failing allocations at k = {K_LIMIT}")
    if BEFORE_OR_AFTER == "before":
        # No failed call created an Engine.
        if outcome(v.quit) != (PANIC_TYPE_NAME, NOT_INITIALIZED):
            faults.append("an Engine exists before init succeeded")
    print(json.dumps({"faults": faults, "counted": counted}))


def init_attempts():
    """`init` under failing allocations, for each k read from standard input
    in turn, until one attempt succeeds. Prints one line per attempt: k, the
    outcome, whether the probe after it succeeded, and whether an Engine
    exists after a failed attempt (it must not), and whether the script's
    `__builtins__` is still its own."""
    keyword = sys.argv[2] == "keyword"
    args, kwargs = ((), {"fps": 30}) if keyword else ((30,), {})
    for k in json.load(sys.stdin):
        got, settled = attempt(v.init, args, kwargs, k, k + 1 if sys.argv[3] == "one" else 0)
        engine = got == ["ok", "None"] or outcome(v.quit) == ("ok", "None")
        builtins_kept = vars(sys.modules["__main__"])["__builtins__"] is builtins
        print(json.dumps([k, got, settled, engine, builtins_kept]), flush=True)
        if got == ["ok", "None"]:
            break


def import_attempts():
    """Creates the module under failing allocations, for each k read from
    standard input in turn, until one attempt succeeds: the module can be
    created once per process. The entry point is called directly, so that
    the import system's own allocations after it cannot fail an attempt that
    created the module. Prints one line per attempt: k, the outcome (the new
    module's `__all__` on success), and whether the probe after it succeeded.

    Creating the module first compiles init's statement, once per process.
    A first attempt, with allocations failing from the k given as the third
    argument on, lets that complete and fails in the registration after it:
    the interpreter's compiler is kept out of the failing allocations."""
    library = ctypes.PyDLL(importlib.util.find_spec("velmo_wrapper").origin)
    entry = library.PyInit_velmo_wrapper
    entry.restype = ctypes.py_object

    def create():
        return entry().__all__

    primed = attempt(create, (), {}, int(sys.argv[3]), 0)
    print(json.dumps([-1, *primed]), flush=True)
    for k in json.load(sys.stdin):
        got, settled = attempt(create, (), {}, k, k + 1 if sys.argv[2] == "one" else 0)
        print(json.dumps([k, got, settled]), flush=True)
        if got[0] == "ok":
            break


def init_own_steps():
    """The number of allocations `init` makes before the statement it runs
    calls inspect.stack(): from there on the allocations are the
    interpreter's own (3.11 loops forever and 3.13 crashes in them when they
    fail). Found with an inspect.stack() that stops the call."""

    def stop_here(*args):
        raise LookupError("reached inspect.stack")

    inspect.stack = stop_here
    for k in range(K_LIMIT):
        got, _ = attempt(v.init, (30,), {}, k, 0)
        if got[0] == "LookupError":
            print(k)
            return


if __name__ == "__main__":
    {
        "reference": reference,
        "hooked": hooked,
        "init": init_attempts,
        "init-own-steps": init_own_steps,
        "import": import_attempts,
    }[sys.argv[1]]()
