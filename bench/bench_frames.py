"""Frame pacing and processor cost of the run loop, beside a pygame loop.

Runs, each in a child interpreter for a few wall seconds after a short warm-up:
  - `show()`                    the loop with nothing to call (frame rate 60)
  - `run()` at 60 fps           empty Python `update` and `draw`
  - a `time.sleep` loop         the same callbacks, waiting as the run loop does,
                                in plain Python: the interpreter's own floor
  - pygame `Clock().tick(60)`   the same callbacks in a `while` loop (SDL dummy drivers)
and, as the floor of any loop that wakes every 8 ms, a C loop of 8 ms
nanosleep calls; and prints side by side: processor time per wall second (from the kernel's
per-thread run-time accounting, /proc/<pid>/task/*/schedstat, in nanoseconds),
updates and draws per second, the spread of draw intervals, and for `run()`
whether every draw's update count matches the scheduler's rule.

The overshoot of a 1 ms sleep comes from the C++ benchmark
velmo-engine/bench/sleep_bench.cpp (built here with -DVELMO_BUILD_BENCHMARKS=ON),
which times the platform's sleep on the steady clock beside
std::this_thread::sleep_for. Timing it in C++ keeps the interpreter's own
costs out of a figure of tens of microseconds.

Usage: python bench/bench_frames.py [--seconds 3] [--rounds 3]
Needs the module installed in this interpreter, and pygame for the baseline.
"""

import argparse
import glob
import json
import os
import statistics
import subprocess
import sys
import tempfile
import textwrap
import time

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
WARM_UP_S = 0.5
PERIOD_60 = 1000.0 / 60.0

# What each probe records: monotonic draw times, and for every draw the
# updates made so far and the tick read in that draw. At the end of its
# window the child prints one JSON line and leaves at once.
RECORDER = """
import json, os, sys, time
SECONDS = float(sys.argv[1]); WARM_UP = float(sys.argv[2])
start = time.monotonic() + WARM_UP
stop = start + SECONDS
updates = 0
first_tick = None
draws = []  # (monotonic, updates so far, tick)

def ticks():
    return int(time.time() * 1000) % 2 ** 32

def update():
    global updates, first_tick
    if first_tick is None:
        first_tick = ticks()
    updates += 1

def draw():
    now = time.monotonic()
    draws.append((now, updates, ticks()))
    if now > stop + 0.3:
        window = [d for d in draws if start <= d[0] <= stop]
        print(json.dumps(dict(window=window, first_tick=first_tick)), flush=True)
        os._exit(0)

print("ready", flush=True)
"""

PROBES = {
    "show()": """
import velmo_wrapper as v
v.init(60)
print("ready", flush=True)
v.show()
""",
    "run() 60 fps": RECORDER
    + """
import velmo_wrapper as v
v.init(60)
v.run(update, draw, lambda: None)
""",
    # The interpreter's own floor for such a loop: the same callbacks, and
    # two waits a frame (half of what is left, then the rest), as the run
    # loop makes, in plain Python.
    "time.sleep loop": RECORDER
    + """
period = 1.0 / 60.0
next_frame = time.monotonic()
while True:
    update()
    draw()
    next_frame += period
    time.sleep(max(0.0, (next_frame - time.monotonic()) / 2))
    time.sleep(max(0.0, next_frame - time.monotonic()))
""",
    "pygame tick(60)": RECORDER
    + """
import pygame
pygame.init()
clock = pygame.time.Clock()
while True:
    update()
    draw()
    clock.tick(60)
""",
}


# The floor: what waking 125 times a second costs on this machine by itself.
SLEEP_LOOP_C = """
#include <stdio.h>
#include <time.h>
int main(void) {
    struct timespec pass = {0, 8000000};
    puts("ready");
    fflush(stdout);
    for (;;) nanosleep(&pass, NULL);
}
"""


def build_sleep_loop():
    directory = tempfile.mkdtemp(prefix="velmo_sleep_loop_")
    source = os.path.join(directory, "sleep_loop.c")
    with open(source, "w") as handle:
        handle.write(SLEEP_LOOP_C)
    program = os.path.join(directory, "sleep_loop")
    subprocess.run(["cc", "-O2", source, "-o", program], check=True)
    return program


def run_time_ns(pid):
    """Processor time used so far by all threads of `pid`."""
    total = 0
    for path in glob.glob(f"/proc/{pid}/task/*/schedstat"):
        try:
            with open(path) as handle:
                total += int(handle.read().split()[0])
        except (OSError, ValueError, IndexError):
            pass  # a thread that just ended
    return total


def measure(name, source, seconds, command=None):
    env = dict(
        os.environ, SDL_VIDEODRIVER="dummy", SDL_AUDIODRIVER="dummy", PYGAME_HIDE_SUPPORT_PROMPT="1"
    )
    command = command or [
        sys.executable,
        "-c",
        textwrap.dedent(source),
        str(seconds),
        str(WARM_UP_S),
    ]
    child = subprocess.Popen(
        command, stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True, env=env
    )
    try:
        if child.stdout.readline() != "ready\n":
            raise RuntimeError(f"{name} did not start: {child.stderr.read()}")
        time.sleep(WARM_UP_S)
        cpu0, wall0 = run_time_ns(child.pid), time.monotonic()
        time.sleep(seconds)
        cpu1, wall1 = run_time_ns(child.pid), time.monotonic()
        result = {"cpu_share": (cpu1 - cpu0) / 1e9 / (wall1 - wall0)}
        if source is not None and name != "show()":
            line = child.stdout.readline()
            if not line:
                raise RuntimeError(f"{name} failed: {child.stderr.read()}")
            result.update(frame_figures(json.loads(line), seconds))
        return result
    finally:
        child.kill()
        child.wait()


def frame_figures(record, seconds):
    window, first_tick = record["window"], record["first_tick"]
    times = [d[0] for d in window]
    intervals = [(b - a) * 1000.0 for a, b in zip(times, times[1:])]
    updates = window[-1][1] - window[0][1]
    deciles = statistics.quantiles(intervals, n=20)
    return {
        "updates_per_s": updates / (times[-1] - times[0]),
        "draws_per_s": (len(window) - 1) / (times[-1] - times[0]),
        "median_ms": statistics.median(intervals),
        "p5_ms": deciles[0],
        "p95_ms": deciles[-1],
        "max_ms": max(intervals),
        "stalls": sum(1 for i in intervals if i > 100.0),
        "rule_misses": rule_misses(window, first_tick),
    }


def rule_misses(window, first_tick):
    """Draws whose update count differs from the grid points up to their tick.

    The scheduler runs one update per period since its first frame, so at a
    draw whose tick is T the count is floor((T - first) / period) + 1; the
    module read its own tick up to a millisecond before the draw read T.
    """

    def due_by(tick):
        return int(((tick - first_tick) % 2**32) / PERIOD_60) + 1

    return sum(1 for _, count, tick in window if count not in (due_by(tick), due_by(tick - 1)))


def sleep_overshoot():
    """Median and 90th-percentile overshoot of a 1 ms sleep, in microseconds."""
    build = os.path.join(ROOT, "build", "bench")
    try:
        # CMakePresets.json's `bench` builds into build/bench.
        subprocess.run(["cmake", "--preset", "bench"], cwd=ROOT, check=True, capture_output=True)
        subprocess.run(
            ["cmake", "--build", build, "--target", "velmo_engine_bench", "-j", "2"],
            check=True,
            capture_output=True,
        )
        output = subprocess.run(
            [
                os.path.join(build, "velmo-engine", "velmo_engine_bench"),
                "--benchmark_filter=Sleep",
                "--benchmark_format=json",
            ],
            check=True,
            capture_output=True,
            text=True,
        ).stdout
    except (OSError, subprocess.CalledProcessError) as error:
        print(f"sleep benchmark unavailable: {error}")
        return {}
    return {
        b["name"].split("/")[0]: (b["median_overshoot_us"], b["p90_overshoot_us"])
        for b in json.loads(output)["benchmarks"]
    }


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--seconds", type=float, default=3.0)
    parser.add_argument("--rounds", type=int, default=3)
    args = parser.parse_args()

    loops = dict(PROBES)
    try:
        loops = {"C 8 ms sleeps": [build_sleep_loop()], **loops}
    except (OSError, subprocess.CalledProcessError) as error:
        print(f"C sleep loop: not measured ({error})")

    # The machine is shared: the loops take turns, and each one's round with
    # the median processor share is the one reported.
    rounds = {name: [] for name in loops}
    for _ in range(args.rounds):
        for name, probe in loops.items():
            try:
                if isinstance(probe, list):
                    rounds[name].append(measure(name, None, args.seconds, command=probe))
                else:
                    rounds[name].append(measure(name, probe, args.seconds))
            except (RuntimeError, OSError) as error:
                print(f"{name}: not measured ({str(error).strip().splitlines()[-1]})")
    results = {}
    for name, measured in rounds.items():
        if measured:
            measured.sort(key=lambda r: r["cpu_share"])
            results[name] = measured[len(measured) // 2]
    overshoot = sleep_overshoot()

    print(
        f"\nframe pacing, {args.seconds:g} s per loop after {WARM_UP_S:g} s of warm-up, "
        f"median of {args.rounds} rounds"
    )
    print(
        f"{'loop':<17}{'cpu % core':>11}{'updates/s':>11}{'draws/s':>9}"
        f"{'draw interval ms: median  p5..p95    max':>44}{'stalls':>8}{'rule misses':>13}"
    )
    for name, r in results.items():
        row = f"{name:<17}{100 * r['cpu_share']:>10.3f}%"
        if "updates_per_s" in r:
            row += (
                f"{r['updates_per_s']:>11.2f}{r['draws_per_s']:>9.2f}"
                f"{r['median_ms']:>26.2f}  {r['p5_ms']:5.2f}..{r['p95_ms']:<6.2f}"
                f"{r['max_ms']:>7.2f}{r['stalls']:>8}"
            )
            if name.startswith("run"):
                row += f"{r['rule_misses']:>13}"
        print(row)

    print("\nsleep(1) overshoot, 1000 sleeps   median     p90")
    for name, (median, p90) in overshoot.items():
        print(f"  {name:<31}{median:>6.1f} us{p90:>6.1f} us")

    print("\ntargets")
    checks = []
    if "show()" in results:
        checks.append(("show() under 0.3 % of a core", results["show()"]["cpu_share"] < 0.003))
    if "run() 60 fps" in results and "pygame tick(60)" in results:
        checks.append(
            (
                "run() no more processor time than pygame",
                results["run() 60 fps"]["cpu_share"] <= results["pygame tick(60)"]["cpu_share"],
            )
        )
    if "run() 60 fps" in results and "time.sleep loop" in results:
        checks.append(
            (
                "run() within 1.2 x the processor time of a time.sleep loop",
                results["run() 60 fps"]["cpu_share"]
                <= 1.2 * results["time.sleep loop"]["cpu_share"],
            )
        )
    if "run() 60 fps" in results:
        checks.append(
            ("run() update counts exact to the rule", results["run() 60 fps"]["rule_misses"] == 0)
        )
    if "BM_PlatformSleep1ms" in overshoot:
        checks.append(
            ("median sleep(1) overshoot under 0.2 ms", overshoot["BM_PlatformSleep1ms"][0] < 200.0)
        )
    for label, met in checks:
        print(f"  {'met ' if met else 'MISSED'}  {label}")


if __name__ == "__main__":
    main()
