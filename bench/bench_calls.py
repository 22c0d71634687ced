"""Per-call cost of every module function next to the floor, and the cost of
importing the module next to importing the floor extension.

The floor (bench/floor_extension.py) is the least a function with the same
calling convention can do: bind its arguments from the tuple, convert floats
with PyFloat_AsDouble and return a float, or take no arguments at all.

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
import timeit
import velmo_wrapper as v
import velmo_floor as f
v.init()

cases = [
    # (label, statement, floor statement)
    ("quit()", "v.quit()", "f.f0()"),
    ("title('t')", "v.title('t')", "f.f1(1.5)"),
    ("process_exists(1)", "v.process_exists(1)", "f.f1(1.5)"),
    ("ceil(1.5)", "v.ceil(1.5)", "f.f1(1.5)"),
    ("floor(1.5)", "v.floor(1.5)", "f.f1(1.5)"),
    ("sgn(1.5)", "v.sgn(1.5)", "f.f1(1.5)"),
    ("sqrt(1.5)", "v.sqrt(1.5)", "f.f1(1.5)"),
    ("sin(1.5)", "v.sin(1.5)", "f.f1(1.5)"),
    ("cos(1.5)", "v.cos(1.5)", "f.f1(1.5)"),
    ("atan2(1.5, 2.5)", "v.atan2(1.5, 2.5)", "f.f2(1.5, 2.5)"),
    ("rseed(7)", "v.rseed(7)", "f.f1(1.5)"),
    ("rndi(1, 6)", "v.rndi(1, 6)", "f.f2(1.5, 2.5)"),
    ("rndf(0.0, 1.0)", "v.rndf(0.0, 1.0)", "f.f2(1.5, 2.5)"),
    ("nseed(7)", "v.nseed(7)", "f.f1(1.5)"),
    ("noise(0.5)", "v.noise(0.5)", "f.f1(1.5)"),
    ("noise(0.5, 1.5, 2.5)", "v.noise(0.5, 1.5, 2.5)", "f.f3(1.5, 2.5, 3.5)"),
    ("ceil(x=1.5)", "v.ceil(x=1.5)", "f.f1(1.5)"),
]

def ns_per_call(statement, number):
    timer = timeit.Timer(statement, globals={"v": v, "f": f})
    return min(timer.repeat(repeat=REPEAT, number=number)) / number * 1e9

print(f"{'call':24} {'ns/call':>9} {'floor':>9} {'ratio':>7}")
for label, statement, floor_statement in cases:
    ours = ns_per_call(statement, NUMBER)
    floor = ns_per_call(floor_statement, NUMBER)
    print(f"{label:24} {ours:9.1f} {floor:9.1f} {ours / floor:7.2f}")
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
    settings = f"NUMBER = {100_000 if quick else 1_000_000}\nREPEAT = {3 if quick else 5}\n"
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
