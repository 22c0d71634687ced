"""A headless fixed-time-step engine with degree-based math, a seeded random
generator, seeded 3-D gradient noise and a process query.

Call `init` once, then `run(update, draw, close)`; every function except
`init` and `process_exists` raises `PanicException` ("Velmo not
initialized") before `init`.
"""

from typing import Callable, NoReturn, SupportsFloat, SupportsIndex

__all__ = [
    "atan2",
    "ceil",
    "cos",
    "floor",
    "init",
    "noise",
    "nseed",
    "process_exists",
    "quit",
    "rndf",
    "rndi",
    "rseed",
    "run",
    "sgn",
    "show",
    "sin",
    "sqrt",
    "title",
]

# Anything `float()` takes from a number: float, int, bool, or an object with
# `__float__` or `__index__`.
_Real = SupportsFloat | SupportsIndex
# An int, a bool or an object with `__index__`; floats are refused.
_Integer = SupportsIndex

# Engine
def init(fps: _Integer | None = None) -> None:
    """Creates the Engine at `fps` frames per second (30 when omitted or
    None) and moves the working directory to the calling script's directory."""

def run(
    update: Callable[[], object], draw: Callable[[], object], close: Callable[[], object]
) -> NoReturn:
    """Calls `update` and `draw` on the frame schedule for the rest of the
    process; leave it with `sys.exit` from a callback."""

def show() -> NoReturn:
    """Runs the frame loop with nothing to call; never returns."""

def quit() -> None:
    """Checks that the Engine exists and does nothing else."""

def title(title: str) -> None:
    """Checks the title and that the Engine exists; there is no window."""

def process_exists(pid: _Integer) -> bool:
    """Whether the system lists a process with id `pid` right now."""

# Math (angles in degrees)
def ceil(x: _Real) -> int: ...
def floor(x: _Real) -> int: ...
def sgn(x: _Real) -> float: ...
def sqrt(x: _Real) -> float: ...
def sin(deg: _Real) -> float: ...
def cos(deg: _Real) -> float: ...
def atan2(y: _Real, x: _Real) -> float: ...

# Seeded random numbers
def rseed(seed: _Integer) -> None: ...
def rndi(a: _Integer, b: _Integer) -> int: ...
def rndf(a: _Real, b: _Real) -> float: ...

# Seeded gradient noise
def nseed(seed: _Integer) -> None: ...
def noise(x: _Real, y: _Real | None = None, z: _Real | None = None) -> float: ...
