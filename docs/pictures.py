"""Draws the pictures of the README and the reference from the module itself.

    python docs/pictures.py            # writes docs/images/*.png and noise.sha256

  noise.png      a slice of the noise field for a fixed seed
  landscape.png  the terrain of examples/landscape.py, with the view of its first frame
  frames.png     the frame schedule of a recorded run at 30 frames per second:
                 one slow draw, caught up with an extra update, and one stall,
                 after which the missed frames are dropped and the grid restarts

The noise picture's numbers are bit-exact, so noise.sha256 keeps their
checksum and the tests recompute it (tests/test_docs.py). The frame run is
real and its timings vary a little from run to run.

Needs the module, matplotlib (pyproject's `docs` group) and, to see the run
loop's clock reads and sleeps, a C compiler.
"""

from __future__ import annotations

import argparse
import hashlib
import os
import pathlib
import re
import struct
import subprocess
import sys
import tempfile
from typing import NamedTuple

import velmo_wrapper as velmo

DOCS = pathlib.Path(__file__).resolve().parent
IMAGES = DOCS / "images"
NOISE_DIGEST_FILE = IMAGES / "noise.sha256"

NOISE_SEED = 0
NOISE_SIZE = 256  # samples along each side
NOISE_STEP = 1 / 32  # lattice units between samples: 8 cells across
NOISE_Z = 0.5  # off the integer plane, where the field is 0 at every lattice point

FPS = 30
PERIOD_MS = 1000 / FPS
SLOW_DRAW_MS = 70  # over two periods: the next poll is always more than a period late
STALL_MS = 250
SLOW_DRAW, STALL_DRAW, LAST_DRAW = 6, 12, 18  # which draws, counted from 1


def noise_slice() -> list[list[float]]:
    """The samples of noise.png, row by row; the module must be initialized."""
    velmo.nseed(NOISE_SEED)
    return [
        [velmo.noise(x * NOISE_STEP, y * NOISE_STEP, NOISE_Z) for x in range(NOISE_SIZE)]
        for y in range(NOISE_SIZE)
    ]


def noise_digest(rows: list[list[float]]) -> str:
    """The SHA-256 of the samples as little-endian doubles, row after row."""
    values = [value for row in rows for value in row]
    return hashlib.sha256(struct.pack(f"<{len(values)}d", *values)).hexdigest()


def draw_noise(rows: list[list[float]], path: pathlib.Path) -> None:
    from matplotlib import pyplot

    extent = (0, NOISE_SIZE * NOISE_STEP, NOISE_SIZE * NOISE_STEP, 0)
    figure, axes = pyplot.subplots(figsize=(5.2, 4.2), dpi=80)
    image = axes.imshow(rows, cmap="RdBu_r", vmin=-1, vmax=1, extent=extent)
    axes.set_title(f"noise(x, y, {NOISE_Z}) after nseed({NOISE_SEED})")
    axes.set_xlabel("x")
    axes.set_ylabel("y")
    figure.colorbar(image, ax=axes, shrink=0.9)
    save(figure, path)


def landscape_module():
    """examples/landscape.py as a module; its flight runs only as a script."""
    sys.path.insert(0, str(DOCS.parent / "examples"))
    try:
        import landscape
    finally:
        sys.path.pop(0)
    return landscape


def xterm_rgb(index: int) -> tuple[float, float, float]:
    """The colour of a 256-colour palette index above 15, as the terminal shows it."""
    if index >= 232:  # the grey ramp
        level = 8 + 10 * (index - 232)
        return (level / 255,) * 3
    index -= 16  # the 6x6x6 cube
    levels = [0, 95, 135, 175, 215, 255]
    return tuple(levels[part] / 255 for part in (index // 36, index // 6 % 6, index % 6))


def draw_landscape(path: pathlib.Path, seed: int = 7, width: int = 128, height: int = 64) -> None:
    from matplotlib import patches, pyplot

    landscape = landscape_module()
    velmo.nseed(seed)
    # The view of the example's first draw, after one update, at the top left.
    north = landscape.CELLS_PER_UPDATE
    cells = landscape.terrain_map(north, width, height)
    figure, axes = pyplot.subplots(figsize=(7.6, 4.4), dpi=80)
    axes.imshow([[xterm_rgb(cell.colour) for cell in row] for row in cells], interpolation="none")
    view = patches.Rectangle(
        (-0.5, -0.5),
        landscape.WIDTH,
        landscape.HEIGHT,
        fill=False,
        edgecolor="red",
        linewidth=2,
        label=f"the first frame's view\n({landscape.WIDTH} x {landscape.HEIGHT} cells)",
    )
    axes.add_patch(view)
    axes.set_title(f"examples/landscape.py --seed {seed}: {width} x {height} cells")
    axes.set_axis_off()
    legend = [
        patches.Patch(color=xterm_rgb(terrain.colour), label=terrain.name)
        for terrain in landscape.TERRAINS
    ] + [view]
    axes.legend(handles=legend, loc="center left", bbox_to_anchor=(1.01, 0.5), frameon=False)
    save(figure, path)


# Logs, in the file named by VELMO_LOOP_LOG, each read of the wall clock (the
# loop's tick) and each sleep, stamped on the monotonic clock that
# time.monotonic_ns reads.
LOOP_LOG_C = r"""
#define _GNU_SOURCE
#include <dlfcn.h>
#include <fcntl.h>
#include <sched.h>
#include <stdio.h>
#include <stdlib.h>
#include <time.h>

typedef int (*gettime_fn)(clockid_t, struct timespec *);

static long long monotonic_ns(void) {
    static gettime_fn real;
    struct timespec now;
    if (!real) real = (gettime_fn)dlsym(RTLD_NEXT, "clock_gettime");
    real(CLOCK_MONOTONIC, &now);
    return now.tv_sec * 1000000000LL + now.tv_nsec;
}

static void note(const char *kind, long long start, long long end) {
    static int fd = -2;
    if (fd == -2) {
        const char *path = getenv("VELMO_LOOP_LOG");
        fd = path ? open(path, O_WRONLY | O_CREAT | O_APPEND, 0644) : -1;
    }
    if (fd >= 0) dprintf(fd, "%s %lld %lld\n", kind, start, end);
}

int clock_gettime(clockid_t clock, struct timespec *now) {
    static gettime_fn real;
    if (!real) real = (gettime_fn)dlsym(RTLD_NEXT, "clock_gettime");
    if (clock == CLOCK_REALTIME) {
        long long at = monotonic_ns();
        note("R", at, at);
    }
    return real(clock, now);
}

int clock_nanosleep(clockid_t clock, int flags, const struct timespec *request,
                    struct timespec *left) {
    static int (*real)(clockid_t, int, const struct timespec *, struct timespec *);
    if (!real) real = dlsym(RTLD_NEXT, "clock_nanosleep");
    long long start = monotonic_ns();
    int result = real(clock, flags, request, left);
    note("S", start, monotonic_ns());
    return result;
}

int nanosleep(const struct timespec *request, struct timespec *left) {
    static int (*real)(const struct timespec *, struct timespec *);
    if (!real) real = dlsym(RTLD_NEXT, "nanosleep");
    long long start = monotonic_ns();
    int result = real(request, left);
    note("S", start, monotonic_ns());
    return result;
}

int sched_yield(void) {
    static int (*real)(void);
    if (!real) real = dlsym(RTLD_NEXT, "sched_yield");
    long long start = monotonic_ns();
    int result = real();
    note("S", start, monotonic_ns());
    return result;
}
"""

# The recorded script: quick callbacks, but draw number SLOW_DRAW busies
# itself for SLOW_DRAW_MS and draw number STALL_DRAW for STALL_MS (busy, not
# asleep, so that the log's sleeps are the loop's own). It logs its calls on
# the same clock and ends after draw number LAST_DRAW.
RECORDED_RUN = """
import os, sys, time
import velmo_wrapper as velmo

fps, slow_draw, slow_ms, stall_draw, stall_ms, last_draw = map(int, sys.argv[1:7])
log = open(os.environ["VELMO_LOOP_LOG"], "a")
draws = 0

def busy(ms):
    end = time.monotonic_ns() + ms * 1000000
    while time.monotonic_ns() < end:
        pass

def update():
    now = time.monotonic_ns()
    log.write(f"U {now} {now}\\n")

def draw():
    global draws
    start = time.monotonic_ns()
    draws += 1
    busy({slow_draw: slow_ms, stall_draw: stall_ms}.get(draws, 0))
    log.write(f"D {start} {time.monotonic_ns()}\\n")
    if draws == last_draw:
        log.close()
        sys.exit(0)

velmo.init(fps)
velmo.run(update, draw, lambda: None)
"""


class Pass(NamedTuple):
    """One pass of the run loop, in ms from the first poll."""

    poll: float  # the scheduler's read of the clock
    reanchored: bool  # the grid restarted at this poll
    updates: list[float]
    draw: tuple[float, float] | None  # its start and end


def record_run(directory: str) -> list[Pass]:
    """Runs RECORDED_RUN in a child with the clock logger preloaded; its passes."""
    library = os.path.join(directory, "loop_log.so")
    source = os.path.join(directory, "loop_log.c")
    pathlib.Path(source).write_text(LOOP_LOG_C, encoding="utf-8")
    subprocess.run(["cc", "-shared", "-fPIC", "-O1", source, "-o", library, "-ldl"], check=True)
    log = os.path.join(directory, "loop.log")
    pathlib.Path(log).unlink(missing_ok=True)
    env = dict(os.environ, LD_PRELOAD=library, VELMO_LOOP_LOG=log)
    arguments = [FPS, SLOW_DRAW, SLOW_DRAW_MS, STALL_DRAW, STALL_MS, LAST_DRAW]
    subprocess.run(
        [sys.executable, "-c", RECORDED_RUN, *map(str, arguments)],
        env=env,
        check=True,
        timeout=60,
    )
    events = []
    for line in pathlib.Path(log).read_text(encoding="utf-8").splitlines():
        kind, start, end = line.split()
        events.append((int(start), kind, int(end)))
    events.sort()
    # The interpreter reads the wall clock while it starts; the loop's own
    # reads begin with the first pass, whose frame is the first update.
    first_update = next(index for index, event in enumerate(events) if event[1] == "U")
    return split_passes(events[first_update - 2 :])


# One pass of the loop in the log: two reads of the clock (the pass's start,
# then the scheduler's poll); for a due frame, a third where it restarts the
# grid, the updates and the draw, and a read at the end; for no frame, the
# read at the end; then the sleep, unless the pass overran its budget.
PASS = re.compile(r"RR(?:(R?)U+DR?|R)S?")


def split_passes(events: list[tuple[int, str, int]]) -> list[Pass]:
    """The passes of a log of the loop that starts with the loop's first read."""
    kinds = "".join(kind for _, kind, _ in events)
    origin = events[1][0]

    def ms(ns: int) -> float:
        return (ns - origin) / 1e6

    passes = []
    position = 0
    for match in PASS.finditer(kinds):
        if match.start() != position:
            raise RuntimeError(f"unexpected events in the loop: {kinds[position : match.start()]}")
        position = match.end()
        group = events[match.start() : match.end()]
        draws = [(ms(start), ms(end)) for start, kind, end in group if kind == "D"]
        passes.append(
            Pass(
                poll=ms(group[1][0]),
                reanchored=match.group(1) == "R",
                updates=[ms(start) for start, kind, _ in group if kind == "U"],
                draw=draws[0] if draws else None,
            )
        )
    if position != len(kinds):
        raise RuntimeError(f"unexpected events at the end of the loop: {kinds[position:]}")
    return passes


def check_run(passes: list[Pass]) -> str | None:
    """What keeps a recorded run from showing the schedule as intended, if anything:
    on a busy machine other frames can come late too."""
    framed = [p for p in passes if p.draw]
    slow = [i for i, p in enumerate(framed) if p.draw[1] - p.draw[0] >= SLOW_DRAW_MS - 1]
    if len(slow) != 2:
        return f"{len(slow)} slow draws"
    after_slow, after_stall = framed[slow[0] + 1], framed[slow[1] + 1]
    if len(after_slow.updates) != 2 or not after_stall.reanchored:
        return "the frames after the slow draws are not a catch-up and a restart"
    others = [p for p in framed if p not in (after_slow, after_stall)]
    if any(len(p.updates) != 1 or p.reanchored for p in others):
        return "another frame came late"
    return None


def grid(passes: list[Pass]) -> tuple[list[float], list[float], list[float]]:
    """The due times before the restart and after it, and those dropped in
    between, from the anchors of the recorded run."""
    restart = next(p for p in passes if p.reanchored)
    end = passes[-1].poll
    stall_start = max(p.draw[0] for p in passes if p.draw and p.poll < restart.poll)
    first = [k * PERIOD_MS for k in range(int(restart.poll / PERIOD_MS) + 1)]
    kept = [t for t in first if t <= stall_start]
    dropped = [t for t in first if stall_start < t <= restart.poll]
    second = [
        restart.poll + k * PERIOD_MS for k in range(int((end - restart.poll) / PERIOD_MS) + 1)
    ]
    return kept, second, dropped


def draw_frames(passes: list[Pass], path: pathlib.Path) -> None:
    from matplotlib import pyplot

    poll_y, update_y, draw_y = 3.0, 2.0, 1.0
    kept, second, dropped = grid(passes)
    figure, axes = pyplot.subplots(figsize=(11, 3.6), dpi=80)
    axes.vlines(
        kept, 0.5, 3.4, colors="#9ab", linestyles="dotted", label="due time (33.3 ms apart)"
    )
    axes.vlines(
        second, 0.5, 3.4, colors="#d80", linestyles="dotted", label="due time after the restart"
    )
    axes.plot(
        [p.poll for p in passes],
        [poll_y] * len(passes),
        "|",
        color="#555",
        markersize=9,
        label="poll (the loop reads the clock)",
    )
    ups = [(u, update_y + 0.3 * k) for p in passes for k, u in enumerate(p.updates)]
    axes.plot(*zip(*ups), "o", color="#27a", markersize=5, label="update")
    axes.plot(
        dropped,
        [update_y] * len(dropped),
        "x",
        color="#c33",
        markersize=7,
        label="due during the stall",
    )
    draws = [p.draw for p in passes if p.draw]
    axes.broken_barh(
        [(start, max(end - start, 1.5)) for start, end in draws],
        (draw_y - 0.2, 0.4),
        color="#2a6",
        label="draw",
    )

    slow_draw = next(d for d in draws if d[1] - d[0] >= SLOW_DRAW_MS - 1)
    stall_draw = max(draws, key=lambda d: d[1] - d[0])
    catch_up = next(p for p in passes if len(p.updates) > 1)
    restart = next(p for p in passes if p.reanchored)
    note = dict(fontsize=9, ha="left", va="center")
    slow_ms, stall_ms = (draw[1] - draw[0] for draw in (slow_draw, stall_draw))
    axes.text(slow_draw[0] + 2, draw_y - 0.45, f"draw takes {slow_ms:.0f} ms", **note)
    axes.text(catch_up.poll + 4, update_y + 0.65, "late by over a period:\ntwo updates", **note)
    axes.text(stall_draw[0] + 2, draw_y - 0.45, f"draw stalls for {stall_ms:.0f} ms", **note)
    axes.text(
        (dropped[0] + dropped[-1]) / 2,
        update_y - 0.4,
        f"{len(dropped)} frames due: one update for them all",
        fontsize=9,
        ha="center",
        va="center",
    )
    axes.text(
        restart.poll + 4, update_y + 0.65, "over 100 ms late:\none update, grid restarts", **note
    )

    axes.set_yticks([draw_y, update_y, poll_y], ["draw", "update", "poll"])
    axes.set_ylim(0.3, 3.9)
    axes.set_xlim(-10, passes[-1].poll + 15)
    axes.set_xlabel("ms since the first frame")
    axes.set_title(f"run() at {FPS} frames per second, recorded", fontsize=11)
    axes.legend(loc="upper center", bbox_to_anchor=(0.5, -0.22), ncol=6, frameon=False, fontsize=9)
    for side in ("top", "right", "left"):
        axes.spines[side].set_visible(False)
    save(figure, path)


def save(figure, path: pathlib.Path) -> None:
    from matplotlib import pyplot

    # No creation time or software version: the same picture gives the same file.
    figure.savefig(path, bbox_inches="tight", metadata={"Software": None})
    pyplot.close(figure)
    print(f"{path.relative_to(DOCS.parent)}: {path.stat().st_size} bytes")


def main() -> None:
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--attempts", type=int, default=5, help="runs to record at most")
    options = parser.parse_args()
    import matplotlib

    matplotlib.use("Agg")
    IMAGES.mkdir(exist_ok=True)

    velmo.init()
    rows = noise_slice()
    draw_noise(rows, IMAGES / "noise.png")
    NOISE_DIGEST_FILE.write_text(noise_digest(rows) + "\n", encoding="utf-8")
    draw_landscape(IMAGES / "landscape.png")

    with tempfile.TemporaryDirectory() as directory:
        for _ in range(options.attempts):
            passes = record_run(directory)
            problem = check_run(passes)
            if problem is None:
                draw_frames(passes, IMAGES / "frames.png")
                return
            print(f"recorded run not used: {problem}")
    sys.exit(f"no clean run in {options.attempts} attempts")


if __name__ == "__main__":
    main()
