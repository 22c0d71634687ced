"""Every function under failing allocations, in child interpreters.

Each call runs with its k-th allocation failing, and with every allocation
from the k-th on failing, for every k the call reaches (tests/oom_child.py).
The outcome must be the normal result, MemoryError, or the documented
PanicException compat_texts.PYTHON_API_FAILED; the process must not abort or hang,
no message may change, and a failed call must leave the random sequence, the
noise table and the absence of an Engine as they were.
"""

import json
import os
import subprocess
import sys

import pytest
from compat_texts import PANIC_NAME, PYTHON_API_FAILED

pytest.importorskip("_testcapi", reason="set_nomemory comes with CPython's _testcapi")

CHILD = os.path.join(os.path.dirname(os.path.abspath(__file__)), "oom_child.py")
# A whole child takes about a second; a hang inside the interpreter ends here.
TIMEOUT = 120


def run_child(*args, stdin=None):
    completed = subprocess.run(
        [sys.executable, CHILD, *args], input=stdin, capture_output=True, text=True, timeout=TIMEOUT
    )
    assert completed.returncode == 0, (args, completed.returncode, completed.stderr[-3000:])
    return completed.stdout


def report(*args, stdin=None):
    found = json.loads(run_child(*args, stdin=stdin).splitlines()[-1])
    assert found["faults"] == [], "\n".join(found["faults"])
    # The count of (function, path, k) cases, for `pytest -s`.
    print(args, found["counted"], sum(found["counted"].values()))
    return found["counted"]


@pytest.mark.parametrize("before_or_after", ["before", "after"])
def test_calls_under_failing_allocations(before_or_after):
    normal = run_child("reference", before_or_after)
    counted = report("hooked", before_or_after, stdin=normal)
    # Every function was reached, error paths and (after init) success paths.
    assert len(counted) == 18 and min(counted.values()) > 0


# init's own steps: the binding, the imports and the start of the statement it
# runs, up to its call of inspect.stack(). The allocations after that are the
# interpreter's own (it loops forever unwinding on 3.11 and crashes on 3.13
# when they fail), so the last k is one where init completes untouched.
ACCEPTED = (["ok", "None"], ["MemoryError", ""], [PANIC_NAME, PYTHON_API_FAILED])


@pytest.mark.parametrize("form", ["positional", "keyword"])
@pytest.mark.parametrize("failing", ["one", "all"])
def test_init_under_failing_allocations(form, failing):
    # A child ends after the attempt that created the Engine; the next one
    # goes on from the following k.
    own_steps = int(run_child("init-own-steps", "-"))
    assert own_steps > 5
    left, attempts = [*range(own_steps), 10**6], []
    while left:
        lines = run_child("init", form, failing, stdin=json.dumps(left)).splitlines()
        attempts += [json.loads(line) for line in lines]
        left = [k for k in left if k > attempts[-1][0]]
    for k, got, _probe_succeeded, engine, builtins_kept in attempts:
        assert got in ACCEPTED, (k, got)
        # An Engine exists exactly when init succeeded.
        assert engine == (got == ["ok", "None"]) and builtins_kept, (k, got)
    assert attempts[-1][1:3] == [["ok", "None"], True]
    print(form, failing, len(attempts), "cases")
