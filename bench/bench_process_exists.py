"""Cost of one process_exists call, beside psutil.pid_exists and a Python listing.

Measures nanoseconds per call for an existing id (this process) and a missing
one, for velmo_wrapper.process_exists, psutil.pid_exists and `str(pid) in
os.listdir("/proc")`, with the floor extension's one-argument call as the least
a call can cost. Then starts 1,000 sleeping processes, measures again, and ends
them, also when the run fails or is interrupted.

Run: python bench/bench_process_exists.py   (needs psutil from PyPI)
"""

import os
import signal
import subprocess
import sys
import timeit

import psutil
import velmo_wrapper
from floor_extension import load as load_floor

EXTRA_PROCESSES = 1000
# Bounds the life of the extra processes should this run be killed outright.
EXTRA_LIFETIME_S = "120"
REPEATS = 7
# Each timed repeat lasts about this long, whatever one call costs.
REPEAT_S = 0.01


def per_call_ns(function, argument):
    """The fastest of several repeats: the least disturbed by other work."""
    timer = timeit.Timer("f(a)", globals={"f": function, "a": argument})
    one = min(timer.repeat(3, 1))
    calls = max(1, int(REPEAT_S / max(one, 1e-7)))
    return min(timer.repeat(REPEATS, calls)) / calls * 1e9


def listed_in_proc(pid):
    return str(pid) in os.listdir("/proc")


def missing_id():
    """A free id below pid_max: neither listed nor a thread's."""
    with open("/proc/sys/kernel/pid_max") as handle:
        candidate = int(handle.read()) - 1
    listing = set(os.listdir("/proc"))
    while str(candidate) in listing or os.path.exists(f"/proc/{candidate}"):
        candidate -= 1
    return candidate


def measure(floor, existing, missing):
    rows = {}
    for name, function in (
        ("velmo_wrapper.process_exists", velmo_wrapper.process_exists),
        ("psutil.pid_exists", psutil.pid_exists),
        ("listing of /proc in Python", listed_in_proc),
    ):
        rows[name] = (per_call_ns(function, existing), per_call_ns(function, missing))
    rows["floor f1 (call with one argument)"] = (per_call_ns(floor.f1, 1.0),) * 2
    return rows


def fastest(*runs):
    """Row by row, the lower figure of runs taken under the same conditions."""
    return {name: tuple(min(run[name][i] for run in runs) for i in range(2)) for name in runs[0]}


def print_rows(title, rows):
    print(f"\n{title}")
    print(f"  {'':36}{'existing id':>14}{'missing id':>14}")
    for name, (existing, missing) in rows.items():
        print(f"  {name:36}{existing:>11.0f} ns{missing:>11.0f} ns")


def start_sleepers(count, started):
    for _ in range(count):
        started.append(subprocess.Popen(["sleep", EXTRA_LIFETIME_S], stdin=subprocess.DEVNULL))


def end_sleepers(started):
    for process in started:
        if process.poll() is None:
            process.kill()
    for process in started:
        process.wait()


def stop_on_signal(signum, frame):
    raise SystemExit(128 + signum)


def main():
    for signum in (signal.SIGTERM, signal.SIGHUP):
        signal.signal(signum, stop_on_signal)
    floor = load_floor()
    existing, missing = os.getpid(), missing_id()
    assert velmo_wrapper.process_exists(existing) and not velmo_wrapper.process_exists(missing)
    print(
        f"existing id {existing}, missing id {missing}, "
        f"{len([n for n in os.listdir('/proc') if n.isdigit()])} processes listed"
    )
    before = measure(floor, existing, missing)

    started = []
    try:
        start_sleepers(EXTRA_PROCESSES, started)
        seen = sum(velmo_wrapper.process_exists(process.pid) for process in started)
        assert velmo_wrapper.process_exists(existing) and not velmo_wrapper.process_exists(missing)
        crowded = measure(floor, existing, missing)
        print_rows(f"With {EXTRA_PROCESSES} extra sleeping processes ({seen} seen)", crowded)
    finally:
        end_sleepers(started)
    print(f"\nended the {len(started)} extra processes")
    # Measured before and after the crowd, so that a burst of load from
    # elsewhere on the machine weighs less on the comparison.
    alone = fastest(before, measure(floor, existing, missing))
    print_rows("Alone (the lower of a run before and a run after)", alone)

    name = "velmo_wrapper.process_exists"
    for column, label in ((0, "existing"), (1, "missing")):
        ours, theirs = alone[name][column], alone["psutil.pid_exists"][column]
        ratio = crowded[name][column] / ours
        print(
            f"{label:>8} id: {ours:.0f} ns alone (target < 5000), "
            f"{ours / theirs:.2f}x psutil, {ratio:.2f}x with the extra processes (target <= 2)"
        )


if __name__ == "__main__":
    sys.exit(main())
