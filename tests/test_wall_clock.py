"""The run loop under a faked wall clock: the 32-bit tick wrap, a clock set
back by an hour, and a clock before the Unix epoch; and, unfaked, the frame
schedule against the interpreter's own wall clock.

The child interpreter runs with libfaketime preloaded, reading its offset from
a file on every clock call, so a callback can move the clock while the loop
runs. The module reads the wall clock through clock_gettime, which the
library intercepts.
"""

import glob
import os
import time

import pytest
from compat_texts import CLOCK_BEFORE_EPOCH, CLOCK_FAILED_AT, PANIC_NAME, panicked_at
from helpers import MULTIARCH, posix_only, run_script

pytestmark = pytest.mark.faketime

WRAP_MS = 2**32

# A libfaketime of this interpreter's C library: the one VELMO_LIBFAKETIME
# names (built for musl, say), else the system's for its platform triplet.
LIBFAKETIME = os.environ.get("VELMO_LIBFAKETIME") or next(
    iter(
        sorted(
            glob.glob(f"/usr/lib/{MULTIARCH or '*'}/faketime/libfaketime.so.1")
            + glob.glob("/usr/lib/faketime/libfaketime.so.1")
        )
    ),
    None,
)


def faked_clock(test):
    test = pytest.mark.skipif(
        LIBFAKETIME is None, reason=f"libfaketime is not installed for {MULTIARCH}"
    )(test)
    return posix_only("LD_PRELOAD to fake the wall clock")(test)


# Counts draws and the longest gap between two of them, in the (equally
# faked, but never jumping) monotonic time; prints them when `done` says so.
FRAME_PROBE = """
import os
import sys
import time
import velmo_wrapper as v

OFFSET_FILE = sys.argv[1]

def ticks():
    return int(time.time() * 1000) % 2 ** 32

class Probe:
    draws = 0
    updates = 0
    last_draw = None
    longest_gap = 0.0

    def update(self):
        self.updates += 1

    def draw(self):
        now = time.monotonic()
        if self.last_draw is not None:
            self.longest_gap = max(self.longest_gap, now - self.last_draw)
        self.last_draw = now
        self.draws += 1
        self.after_draw()

    def finish(self, **facts):
        print(dict(draws=self.draws, updates=self.updates,
                   longest_gap=self.longest_gap, **facts), flush=True)
        sys.exit(0)
"""


def run_faked(tmp_path, faked_time, body):
    """Runs `body` with the wall clock faked: `faked_time` is an offset in
    seconds ("-3600") or a start time and a speed ("@1970-01-01 00:00:00 x2")."""
    offset_file = tmp_path / "clock_offset"
    offset_file.write_text(f"{faked_time}\n")
    env = {
        "LD_PRELOAD": LIBFAKETIME,
        "FAKETIME_TIMESTAMP_FILE": str(offset_file),
        "FAKETIME_NO_CACHE": "1",
        "TZ": "UTC",
    }
    result = run_script(body, env=env, args=[str(offset_file)], timeout=60)
    assert result.returncode == 0, result
    return eval(result.stdout.strip().splitlines()[-1]), result.stderr


@faked_clock
def test_frames_keep_running_across_the_tick_wrap(tmp_path):
    # Start about 2 seconds before the next instant whose millisecond count
    # since the epoch is a multiple of 2^32.
    now = time.time()
    next_wrap = (int(now * 1000) // WRAP_MS + 1) * WRAP_MS / 1000.0
    offset = int(next_wrap - now) - 2
    facts, _ = run_faked(
        tmp_path,
        f"{offset:+d}",
        FRAME_PROBE
        + """
class WrapProbe(Probe):
    first_tick = ticks()
    wrapped_at = None

    def after_draw(self):
        if self.wrapped_at is None and ticks() < self.first_tick:
            self.wrapped_at = self.draws
            self.wrapped_time = time.monotonic()
        elif self.wrapped_at is not None and time.monotonic() - self.wrapped_time > 1.0:
            self.finish(first_tick=self.first_tick, wrapped_at=self.wrapped_at)

probe = WrapProbe()
v.init(60)
v.run(probe.update, probe.draw, lambda: None)
""",
    )
    assert facts["first_tick"] > WRAP_MS - 4000, facts  # the clock really was faked
    assert facts["draws"] - facts["wrapped_at"] >= 30, facts
    assert facts["longest_gap"] < 0.5, facts
    assert facts["updates"] >= facts["draws"]


@faked_clock
def test_frames_keep_running_when_the_clock_is_set_back_an_hour(tmp_path):
    facts, _ = run_faked(
        tmp_path,
        "+0",
        FRAME_PROBE
        + """
class SetBackProbe(Probe):
    set_back_at = None

    def after_draw(self):
        if self.draws == 20:
            self.wall_before = time.time()
            # Replaced whole: libfaketime rereads the file on every clock
            # call, and newer ones stop on a file caught half written.
            with open(OFFSET_FILE + ".new", "w") as handle:
                handle.write("-3600\\n")
            os.replace(OFFSET_FILE + ".new", OFFSET_FILE)
            self.set_back_at = self.draws
            self.wall_after = time.time()
        elif self.set_back_at is not None and self.draws == self.set_back_at + 60:
            self.finish(jump=self.wall_after - self.wall_before)

probe = SetBackProbe()
v.init(60)
v.run(probe.update, probe.draw, lambda: None)
""",
    )
    assert facts["jump"] < -3590, facts  # the clock really went back
    assert facts["longest_gap"] < 0.5, facts
    assert facts["draws"] == 80


@faked_clock
@pytest.mark.parametrize(
    "faked_time",
    # The last second before the epoch, slowed tenfold to last past the start-up.
    [lambda: f"{-(int(time.time()) + 10):+d}", lambda: "@1969-12-31 23:59:59 x0.1"],
    ids=["ten seconds before", "the last second"],
)
def test_clock_before_the_epoch_is_a_fatal_error_of_the_loop(tmp_path, faked_time):
    facts, stderr = run_faked(
        tmp_path,
        faked_time(),
        """
import time
import velmo_wrapper as v
v.init(30)  # reads no clock
start = time.time()
outcomes = []
for loop in (v.show, lambda: v.run(None, None, None)):
    try:
        loop()
    except BaseException as error:
        outcomes.append((type(error).__name__, str(error)))
print(dict(start=start, now=time.time(), outcomes=outcomes))
""",
    )
    assert facts["now"] < 0
    assert len(facts["outcomes"]) == 2
    for name, message in facts["outcomes"]:
        assert name == PANIC_NAME
        assert message.startswith(CLOCK_BEFORE_EPOCH) and message.endswith("s)")
        seconds_before = float(message[len(CLOCK_BEFORE_EPOCH) : -len("s)")])
        assert -facts["now"] <= seconds_before <= -facts["start"], (message, facts)
    assert stderr.count(panicked_at(CLOCK_FAILED_AT)) == 2


def test_frames_follow_the_wall_clock():
    # 20 frames per second: ticks in any other unit than the wall clock's
    # milliseconds would give several times more frames, or hardly any.
    result = run_script("""
import time
import velmo_wrapper as v
from helpers import run_recording
v.init(20)
run_recording(time.time, lambda times: times[-1] - times[0] >= 1.0)
""")
    assert result.returncode == 0, result
    times = eval(result.stdout)
    updates, seconds = len(times) - 1, times[-1] - times[0]
    expected = seconds * 20
    # Catching up keeps the count; only a stall of more than 100 ms drops frames.
    assert expected / 2 <= updates <= expected + 2, (updates, seconds)
