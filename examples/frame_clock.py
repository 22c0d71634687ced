"""Shows the engine's frame schedule live: updates and draws counted per second.

The script runs three phases of equal length and prints one line per phase
second as it goes:

  steady    update and draw are quick: one update per draw, `fps` of each.
  slow draw draw takes 1.5 frame periods: the engine calls update more than
            once before some draws to keep the update rate, so draws fall
            behind while updates stay near `fps`.
  stalls    every fifth draw blocks for 150 ms: after a stall of more than
            100 ms the missed frames are dropped instead of caught up, so
            updates fall below `fps` too.

    python examples/frame_clock.py               # 30 frames per second, about 6 s
    python examples/frame_clock.py --fps 60 --phase-seconds 1
"""

from __future__ import annotations

import argparse
import sys
import time
from typing import Sequence

import velmo_wrapper as velmo

PHASES = ["steady", "slow draw", "stalls"]
STALL_MS = 150.0
STALL_EVERY = 5


def parse_arguments(argv: Sequence[str]) -> argparse.Namespace:
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--fps", type=int, default=30, help="frame rate given to init (1 to 120)")
    parser.add_argument(
        "--phase-seconds", type=float, default=2.0, help="length of each of the three phases"
    )
    return parser.parse_args(argv)


class Counter:
    """Counts the calls within each reporting interval (a second at most) of a run."""

    def __init__(self, start: float, phase_seconds: float, seconds_per_line: float) -> None:
        self.start = start
        self.phase_seconds = phase_seconds
        self.seconds_per_line = seconds_per_line
        self.interval = 0
        self.updates = 0
        self.draws = 0
        self.update_gaps: list[int] = []  # updates made since the last draw, per draw
        self.since_draw = 0

    def phase(self, now: float) -> int:
        return min(int((now - self.start) / self.phase_seconds), len(PHASES) - 1)

    def line(self, phase: int) -> str:
        most = max(self.update_gaps, default=0)
        elapsed = (self.interval + 1) * self.seconds_per_line
        return f"{elapsed:4.1f} s  {self.updates:7d}  {self.draws:5d}  {most:17d}  {PHASES[phase]}"


def main(argv: Sequence[str]) -> None:
    options = parse_arguments(argv)
    fps = options.fps
    period_ms = 1000.0 / fps
    seconds_per_line = min(1.0, options.phase_seconds)

    velmo.init(fps)
    start = time.monotonic()
    counter = Counter(start, options.phase_seconds, seconds_per_line)
    end = start + options.phase_seconds * len(PHASES)
    print(f"{fps} frames per second, a frame period of {period_ms:.3f} ms")
    print("  time  updates  draws  most updates/draw  phase", flush=True)

    def report(now: float) -> None:
        line_start = start + counter.interval * seconds_per_line
        if now - line_start < seconds_per_line:
            return
        print(counter.line(counter.phase(line_start)), flush=True)
        counter.interval += 1
        counter.updates = counter.draws = 0
        counter.update_gaps.clear()

    def update() -> None:
        now = time.monotonic()
        report(now)
        if now >= end:
            print("done", flush=True)
            sys.exit(0)
        counter.updates += 1
        counter.since_draw += 1

    def draw() -> None:
        counter.draws += 1
        counter.update_gaps.append(counter.since_draw)
        counter.since_draw = 0
        phase = counter.phase(time.monotonic())
        if PHASES[phase] == "slow draw":
            time.sleep(1.5 * period_ms / 1000.0)
        elif PHASES[phase] == "stalls" and counter.draws % STALL_EVERY == 0:
            time.sleep(STALL_MS / 1000.0)

    def close() -> None:
        pass

    velmo.run(update, draw, close)


if __name__ == "__main__":
    main(sys.argv[1:])
