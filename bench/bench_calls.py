"""Per-call cost of every module function next to the floor, and the cost of
importing the module next to importing the floor extension.

The floors (bench/floor_extension.py) are the least a function can do in
each calling convention: take its arguments from the tuple (tuple floor) or
from the caller's array (fast floor, 3.10 and later), convert floats with
PyFloat_AsDouble and return a float, or take no arguments at all. Beside
them stands the standard library's nearest function, where there is one.

    python bench/bench_calls.py [--quick]
"""

import os
import shutil
import statistics
import subprocess
import sys
import textwrap

import floor_extension

CALLS = """
import math
import random
import sys
import timeit
import velmo_wrapper as v
import velmo_floor as f
v.init()

# The floor extension offers its fast functions where the interpreter gives
# the module the fast convention, and only there.
FAST = hasattr(f, "g1")
x, y, z = 1.5, 2.5, 3.5

cases = [
    # (label, statement, arguments of the floor, nearest standard function or None)
    ("quit()", "v.quit()", 0, None),
    ("title('t')", "v.title('t')", 1, None),
    ("process_exists(1)", "v.process_exists(1)", 1, None),
    ("ceil(x)", "v.ceil(x)", 1, "math.ceil(x)"),
    ("floor(x)", "v.floor(x)", 1, "math.floor(x)"),
    ("sgn(x)", "v.sgn(x)", 1, None),
    ("sqrt(x)", "v.sqrt(x)", 1, "math.sqrt(x)"),
    ("sin(x)", "v.sin(x)", 1, "math.sin(x)"),
    ("cos(x)", "v.cos(x)", 1, "math.cos(x)"),
    ("atan2(y, x)", "v.atan2(y, x)", 2, "math.atan2(y, x)"),
    ("rseed(7)", "v.rseed(7)", 1, "random.seed(7)"),
    ("rndi(1, 6)", "v.rndi(1, 6)", 2, "random.randint(1, 6)"),
    ("rndf(x, y)", "v.rndf(x, y)", 2, "random.uniform(x, y)"),
    ("nseed(7)", "v.nseed(7)", 1, None),
    ("noise(x)", "v.noise(x)", 1, None),
    ("noise(x, y, z)", "v.noise(x, y, z)", 3, None),
    ("ceil(x=x)", "v.ceil(x=x)", 1, "math.ceil(x)"),
]

# Each floor is fed the same objects as the call it stands beside.
def floor_statement(prefix, statement, count):
    if count == 0:
        return "f.f0()"
    arguments = statement[statement.index("(") + 1 : -1].split(", ")
    arguments = [a.split("=")[-1] for a in arguments]
    if len(arguments) < count or not all(a in "xyz" for a in arguments):
        arguments = ["x", "y", "z"][:count]
    return f"f.{prefix}{count}({', '.join(arguments)})"

def convention():
    # Only the tuple convention lets a keyword that is not a str reach the
    # module's binder; in the fast one the interpreter refuses it first.
    try:
        v.ceil(**{1: 2})
    except TypeError as error:
        if str(error) == "keywords must be strings":
            return "fast (METH_FASTCALL)"
    return "tuple (METH_VARARGS)"

rows = []
for label, statement, count, stdlib in cases:
    fast_floor = floor_statement("g", statement, count) if FAST and count else None
    rows.append((label, statement, fast_floor, floor_statement("f", statement, count), stdlib))
statements = {"pass"} | {s for row in rows for s in row[1:] if s}
names = {"v": v, "f": f, "math": math, "random": random, "x": x, "y": y, "z": z}
timers = {s: timeit.Timer(s, globals=names) for s in statements}
best = dict.fromkeys(timers, float("inf"))
# Each round times every statement once, so that a slow spell of a shared
# machine slows all of them alike instead of one whole row.
for _ in range(REPEAT):
    for statement, timer in timers.items():
        best[statement] = min(best[statement], timer.timeit(NUMBER) / NUMBER * 1e9)
empty = best["pass"]

def ns(statement):
    return best[statement] - empty

print(f"Python {sys.version.split()[0]}; the module's calls take the {convention()} convention;")
print(f"ns per call, best of {REPEAT} rounds x {NUMBER}, minus an empty statement's")
print(f"{'call':20} {'velmo':>7} {'fast fl':>8} {'tuple fl':>8} {'/fast':>6} {'/tuple':>7}"
      f"  {'stdlib':>7} {'/stdlib':>7}")
for label, statement, fast_floor, tuple_floor, stdlib in rows:
    ours = ns(statement)
    fast, by_fast = "-", "-"
    if fast_floor:
        fast, by_fast = f"{ns(fast_floor):.1f}", f"{ours / ns(fast_floor):.2f}"
    by_tuple = ours / ns(tuple_floor)
    line = f"{label:20} {ours:7.1f} {fast:>8} {ns(tuple_floor):8.1f} {by_fast:>6} {by_tuple:7.2f}"
    # PyPy's JIT can remove a pure standard-library call altogether.
    if stdlib and ns(stdlib) > 0.5:
        line += f"  {ns(stdlib):7.1f} {ours / ns(stdlib):7.2f}"
    elif stdlib:
        line += f"  {ns(stdlib):7.1f}       -"
    print(line)
"""

IMPORT = """
import sys, time
sys.path[:0] = [{floor_dir!r}]
start = time.perf_counter()
import {module}
print(time.perf_counter() - start)
"""


def import_seconds(module, floor_dir, runs):
    times = []
    for _ in range(runs):
        output = subprocess.run(
            [sys.executable, "-c", IMPORT.format(module=module, floor_dir=floor_dir)],
            check=True,
            capture_output=True,
            text=True,
        ).stdout
        times.append(float(output))
    return times


def main():
    quick = "--quick" in sys.argv
    floor_dir = floor_extension.build()
    env = dict(
        os.environ, PYTHONPATH=os.pathsep.join([floor_dir, os.environ.get("PYTHONPATH", "")])
    )
    settings = f"NUMBER = {100_000 if quick else 500_000}\nREPEAT = {3 if quick else 9}\n"
    subprocess.run([sys.executable, "-c", settings + textwrap.dedent(CALLS)], check=True, env=env)

    # Both modules are imported from the same directory, the first on the
    # path, so that finding them costs the same.
    import velmo_wrapper

    shutil.copy(velmo_wrapper.__file__, floor_dir)
    runs = 10 if quick else 40
    # Alternate the two so that drift of the machine hits both alike.
    ours, floor = [], []
    for _ in range(runs):
        ours += import_seconds("velmo_wrapper", floor_dir, 1)
        floor += import_seconds("velmo_floor", floor_dir, 1)
    median_ours, median_floor = statistics.median(ours), statistics.median(floor)
    print(f"\n{'import':24} {'us':>9} {'floor':>9} {'ratio':>7}")
    print(
        f"{'import velmo_wrapper':24} {median_ours * 1e6:9.1f} {median_floor * 1e6:9.1f} "
        f"{median_ours / median_floor:7.2f}   (median of {runs} fresh interpreters)"
    )


if __name__ == "__main__":
    main()
