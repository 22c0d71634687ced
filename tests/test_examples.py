"""The example scripts and the README's first script, run as a person runs them,
shortened by their own options."""

import importlib.util
import pathlib
import re
import subprocess
import sys

ROOT = pathlib.Path(__file__).resolve().parent.parent
EXAMPLES = ROOT / "examples"


def run_example(name, *args, timeout=60):
    # From another directory: `init` must move the script to its own one.
    completed = subprocess.run(
        [sys.executable, str(EXAMPLES / name), *args],
        cwd=ROOT.parent,
        capture_output=True,
        text=True,
        timeout=timeout,
    )
    assert completed.returncode == 0, completed.stderr
    return completed.stdout


def dice_counts(output):
    counts = {}
    for line in output.splitlines():
        match = re.match(r"^\s*(\d+)\s+(\d+)\s+[\d.]+%", line)
        if match:
            counts[int(match.group(1))] = int(match.group(2))
    return counts


def test_dice_is_the_same_for_the_same_seed():
    # After rseed(0), rndi(1, 6) gives 4, 5, 1, 3, 5, 3, 4, 6: the sums 9, 4, 8, 10.
    first_rolls = run_example("dice.py", "--seed", "0", "--rolls", "4")
    assert first_rolls.splitlines()[0] == "4 rolls of two dice, seed 0"
    assert {s: c for s, c in dice_counts(first_rolls).items() if c} == {4: 1, 8: 1, 9: 1, 10: 1}

    # Several updates' worth of rolls, spread over frames.
    one = run_example("dice.py", "--seed", "7", "--rolls", "5000")
    again = run_example("dice.py", "--seed", "7", "--rolls", "5000")
    other_seed = run_example("dice.py", "--seed", "8", "--rolls", "5000")
    assert one == again
    counts = dice_counts(one)
    assert sorted(counts) == list(range(2, 13)) and sum(counts.values()) == 5000
    assert dice_counts(other_seed) != counts
    assert one.splitlines()[-1] == f"most common sum: {max(counts, key=counts.get)}"


def load_example(name):
    """The example as a module, without running it (its main is guarded)."""
    spec = importlib.util.spec_from_file_location(name, EXAMPLES / f"{name}.py")
    module = importlib.util.module_from_spec(spec)
    spec.loader.exec_module(module)
    return module


def landscape_frames(output):
    """The map rows of every frame, the status line of each frame left out."""
    frames = [block.splitlines() for block in output.strip("\n").split("\n\n")]
    return [[row for row in frame if not row.startswith("seed ")] for frame in frames]


def test_landscape_flies_over_a_seeded_map():
    landscape = load_example("landscape")
    plain = run_example("landscape.py", "--seconds", "0.5", "--colour", "never")
    assert "\x1b" not in plain
    frames = landscape_frames(plain)
    assert len(frames) >= 2
    for frame in frames:
        assert len(frame) == landscape.HEIGHT
        assert all(
            len(row) == landscape.WIDTH and set(row) <= set(landscape.ALL_GLYPHS) for row in frame
        )
    # Real noise makes varied terrain, and the view moves between frames.
    assert len(set("".join(frames[0]))) >= 4
    assert frames[0] != frames[-1]
    # 0.5 s at 20 frames per second is 10 updates; the 11th ends the flight.
    shown = [int(n) for n in re.findall(r"^seed 7  update (\d+)/10  draw \d+$", plain, re.M)]
    assert len(shown) == len(frames) and shown == sorted(shown) and shown[-1] <= 10

    again = run_example("landscape.py", "--seconds", "0.5", "--colour", "never")
    assert landscape_frames(again)[0] == frames[0]
    other_seed = run_example("landscape.py", "--seconds", "0.1", "--seed", "8", "--colour", "never")
    assert landscape_frames(other_seed)[0] != frames[0]

    # In colour, `close` runs after sys.exit and gives the cursor back.
    coloured = run_example("landscape.py", "--seconds", "0.2", "--colour", "always")
    assert coloured.startswith("\x1b[2J\x1b[?25l") and coloured.endswith("\x1b[0m\x1b[?25h")


def test_frame_clock_shows_catch_up_and_dropped_frames():
    output = run_example("frame_clock.py", "--fps", "30", "--phase-seconds", "0.5")
    lines = output.splitlines()
    assert lines[0] == "30 frames per second, a frame period of 33.333 ms"
    assert lines[-1] == "done"
    rows = {}
    for line in lines[2:-1]:
        match = re.match(r"^\s*[\d.]+ s\s+(\d+)\s+(\d+)\s+(\d+)\s+(steady|slow draw|stalls)$", line)
        assert match, line
        updates, draws, most = map(int, match.groups()[:3])
        # Every draw closes a frame step that made at least one update.
        assert updates >= draws and (draws == 0 or most >= 1)
        rows.setdefault(match.group(4), []).append((updates, draws, most))
    assert list(rows) == ["steady", "slow draw", "stalls"]
    # Slow draws are caught up with extra updates before a draw.
    assert max(most for _, _, most in rows["slow draw"]) >= 2
    assert sum(u for u, _, _ in rows["slow draw"]) > sum(d for _, d, _ in rows["slow draw"])
    # Stalls of more than 100 ms drop frames: fewer updates than while steady.
    assert sum(u for u, _, _ in rows["stalls"]) < sum(u for u, _, _ in rows["steady"])


def test_readme_first_script_runs_as_described():
    readme = (ROOT / "README.md").read_text(encoding="utf-8")
    source = re.search(r"```python\n(.*?)```", readme, re.S).group(1)
    completed = subprocess.run(
        [sys.executable, "-c", source], capture_output=True, text=True, timeout=60
    )
    assert completed.returncode == 0, completed.stderr
    lines = completed.stdout.splitlines()
    assert lines[-1] == "bye"
    draws = lines[:-1]
    assert 1 <= len(draws) <= 90
    assert all(re.fullmatch(r"frame \d+: rolled [1-6]", line) for line in draws)
    # The first draw follows the first update; rndi(1, 6) after rseed(0) is 4.
    assert draws[0] == "frame 1: rolled 4"
