"""Flies over an endless island landscape made of seeded gradient noise.

Each cell's height is three octaves of `noise`; the height picks the terrain
(deep sea, shallows, beach, grass, forest, rock, snow). In a terminal the map
is drawn in colour and redrawn in place; piped to a file or another program it
prints plain characters. The flight ends by itself after a few seconds.

    python examples/landscape.py                 # five seconds over seed 7
    python examples/landscape.py --seed 99 --seconds 10
"""

from __future__ import annotations

import argparse
import sys
from typing import NamedTuple, Sequence

import velmo_wrapper as velmo

FRAMES_PER_SECOND = 20
WIDTH = 64
HEIGHT = 18
CELLS_PER_UPDATE = 0.4  # how far north the view moves each frame
FEATURE_SIZE = 14.0  # cells per unit of the noise lattice


class Terrain(NamedTuple):
    below: float  # the highest height this terrain covers
    glyph: str
    colour: int  # 256-colour palette index
    name: str


TERRAINS = [
    Terrain(-0.25, "~", 18, "deep sea"),
    Terrain(-0.05, "~", 32, "shallows"),
    Terrain(0.02, ".", 222, "beach"),
    Terrain(0.22, ",", 70, "grass"),
    Terrain(0.38, "T", 28, "forest"),
    Terrain(0.52, "^", 244, "rock"),
    Terrain(2.00, "A", 255, "snow"),
]
ALL_GLYPHS = "".join(sorted({terrain.glyph for terrain in TERRAINS}))


def parse_arguments(argv: Sequence[str]) -> argparse.Namespace:
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--seed", type=int, default=7, help="seed for nseed (0 to 4294967295)")
    parser.add_argument("--seconds", type=float, default=5.0, help="length of the flight")
    parser.add_argument("--colour", choices=["auto", "always", "never"], default="auto")
    return parser.parse_args(argv)


def height(x: float, y: float) -> float:
    """Three octaves of noise, each twice as fine and half as strong as the last."""
    total = 0.0
    amplitude = 1.0
    frequency = 1.0 / FEATURE_SIZE
    for octave in range(3):
        # Each octave samples its own slice of the 3-D field.
        total += amplitude * velmo.noise(x * frequency, y * frequency, octave * 10.5)
        amplitude *= 0.5
        frequency *= 2.0
    return total


def terrain_at(x: float, y: float) -> Terrain:
    h = height(x, y)
    for terrain in TERRAINS:
        if h <= terrain.below:
            return terrain
    return TERRAINS[-1]


def terrain_map(north: float, width: int = WIDTH, height: int = HEIGHT) -> list[list[Terrain]]:
    """The terrain of the view whose top row lies `north` cells up, row by row."""
    return [[terrain_at(column, north - row) for column in range(width)] for row in range(height)]


def render_rows(north: float, colour: bool) -> list[str]:
    rows = []
    for cells in terrain_map(north):
        if colour:
            rows.append(
                "".join(f"\x1b[38;5;{cell.colour}m{cell.glyph}" for cell in cells) + "\x1b[0m"
            )
        else:
            rows.append("".join(cell.glyph for cell in cells))
    return rows


def main(argv: Sequence[str]) -> None:
    options = parse_arguments(argv)
    colour = options.colour == "always" or (options.colour == "auto" and sys.stdout.isatty())
    total_updates = max(1, round(options.seconds * FRAMES_PER_SECOND))

    velmo.init(FRAMES_PER_SECOND)
    velmo.nseed(options.seed)  # without it the landscape differs on every run

    updates = 0
    draws = 0

    def update() -> None:
        nonlocal updates
        updates += 1
        if updates > total_updates:
            sys.exit(0)

    def draw() -> None:
        nonlocal draws
        draws += 1
        north = updates * CELLS_PER_UPDATE
        frame = render_rows(north, colour)
        status = f"seed {options.seed}  update {updates}/{total_updates}  draw {draws}"
        if colour:
            # Home the cursor and draw over the previous frame.
            sys.stdout.write("\x1b[H" + "\n".join(frame) + "\n" + status + "\x1b[K\n")
        else:
            sys.stdout.write("\n".join(frame) + "\n" + status + "\n\n")
        sys.stdout.flush()

    def close() -> None:
        # Runs on the way out, also after sys.exit: give the terminal back as found.
        if colour:
            sys.stdout.write("\x1b[0m\x1b[?25h")
            sys.stdout.flush()

    if colour:
        sys.stdout.write("\x1b[2J\x1b[?25l")  # clear the screen, hide the cursor
    velmo.run(update, draw, close)


if __name__ == "__main__":
    main(sys.argv[1:])
