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
import sys

import pytest
import velmo_wrapper
from compat_texts import APPEND_TO_ALL_FAILED, PANIC_TYPE_NAME, PYTHON_API_FAILED
from helpers import FREE_THREADED, TESTS_DIRECTORY, posix_only, preload_library, run_python
from module_functions import check_rows

pytestmark = pytest.mark.binding

# Debian's PyPy has a _testcapi of its own, whose import fails looking for its C source.
if sys.implementation.name != "cpython":
    pytest.skip("needs CPython's _testcapi.set_nomemory", allow_module_level=True)
pytest.importorskip("_testcapi", reason="set_nomemory comes with CPython's _testcapi")
if FREE_THREADED:
    # A script that calls set_nomemory without the module crashes 3.13t too.
    pytest.skip(
        "_testcapi.set_nomemory crashes a free-threaded CPython (in mimalloc)",
        allow_module_level=True,
    )

CHILD = os.path.join(os.path.dirname(os.path.abspath(__file__)), "oom_child.py")
# A whole child takes about a second; a hang inside the interpreter ends here.
TIMEOUT = 120


def run_child(*args, stdin=None, env=None):
    completed = run_python(CHILD, *args, stdin=stdin, env=env or {}, timeout=TIMEOUT)
    assert completed.returncode == 0, (args, completed.returncode, completed.stderr[-3000:])
    return completed.stdout


def report(*args, stdin=None, env=None):
    found = json.loads(run_child(*args, stdin=stdin, env=env).splitlines()[-1])
    assert found["faults"] == [], "\n".join(found["faults"])
    # Every function was reached, error paths and (after init) success paths.
    check_rows(found["counted"], f"calls under failing allocations {args}")
    # The count of (function, path, k) cases, for `pytest -s`.
    print(args, found["counted"], sum(found["counted"].values()))


def attempts(*args, ks, until_settled=False, env=None):
    """The child's attempts (k, outcome, probe succeeded, ...) for each of
    `ks`. A child ends after a successful attempt, and the next one goes on
    from the following k; with `until_settled`, the first success whose probe
    also succeeded ends it all: from there on the call no longer reaches the
    failing allocations."""
    left, found = list(ks), []
    while left:
        lines = run_child(*args, stdin=json.dumps(left), env=env).splitlines()
        found += [json.loads(line) for line in lines]
        if until_settled and found[-1][1][0] == "ok" and found[-1][2]:
            break
        left = [k for k in left if k > found[-1][0]]
    return found


@pytest.fixture
def module_allocations_fail(tmp_path):
    """The environment in which the module's own allocations fail on request."""
    source = os.path.join(TESTS_DIRECTORY, "native", "module_malloc_fails.c")
    return {"FAILING": "module", **preload_library(tmp_path, source)}


@pytest.mark.parametrize("before_or_after", ["before", "after"])
def test_calls_under_failing_allocations(before_or_after):
    normal = run_child("reference", before_or_after)
    report("hooked", before_or_after, stdin=normal)


@posix_only("LD_PRELOAD to replace malloc")
@pytest.mark.parametrize("before_or_after", ["before", "after"])
def test_calls_under_failing_module_allocations(before_or_after, module_allocations_fail):
    normal = run_child("reference", before_or_after)
    report("hooked", before_or_after, stdin=normal, env=module_allocations_fail)
    if before_or_after == "before":
        found = attempts(
            "init",
            "positional",
            "all",
            ks=range(100),
            until_settled=True,
            env=module_allocations_fail,
        )
        assert all(got in ACCEPTED for _, got, *_ in found), found
        assert found[-1][1:3] == [["ok", "None"], True]


# init's own steps: the binding, the imports and the start of the statement it
# runs, up to its call of inspect.stack(). The allocations after that are the
# interpreter's own (it loops forever unwinding on 3.11 and crashes on 3.13
# when they fail), so the last k is one where init completes untouched.
ACCEPTED = (["ok", "None"], ["MemoryError", ""], [PANIC_TYPE_NAME, PYTHON_API_FAILED])


@pytest.mark.parametrize("form", ["positional", "keyword"])
@pytest.mark.parametrize("failing", ["one", "all"])
def test_init_under_failing_allocations(form, failing):
    own_steps = int(run_child("init-own-steps", "-"))
    assert own_steps > 5
    found = attempts("init", form, failing, ks=[*range(own_steps), 10**6])
    for k, got, _probe_succeeded, engine, builtins_kept in found:
        assert got in ACCEPTED, (k, got)
        # An Engine exists exactly when init succeeded.
        assert engine == (got == ["ok", "None"]) and builtins_kept, (k, got)
    assert found[-1][1:3] == [["ok", "None"], True]
    print(form, failing, len(found), "cases")


# Compiles init's statement, as creating the module does, with allocations
# failing from the k-th on; exits with 0 when it compiled. The compilers of
# 3.11 and 3.13 crash on some of those failures: each try is a process of its
# own, which a sanitized run lets crash without a report of its own.
COMPILE_UNDER_FAILING_ALLOCATIONS = """
import _testcapi, ctypes, sys
compile_string = ctypes.pythonapi.Py_CompileStringExFlags
compile_string.argtypes = [ctypes.c_char_p, ctypes.c_char_p, ctypes.c_int]
compile_string.argtypes += [ctypes.c_void_p, ctypes.c_int]
compile_string.restype = ctypes.py_object
def compiles(k):
    _testcapi.set_nomemory(k, 0)
    try:
        compile_string(b"os.chdir(os.path.dirname(inspect.stack()[1].filename) or '.')",
                       b"<string>", 257, None, -1)
        return True
    except BaseException:
        return False
    finally:
        _testcapi.remove_mem_hooks()
sys.exit(0 if compiles(int(sys.argv[1])) else 1)
"""


def compile_allocations():
    """How many allocations compiling init's statement makes: the smallest k
    at which it completes with allocations failing from the k-th on."""
    sanitizer = os.environ.get("ASAN_OPTIONS", "")
    env = {"ASAN_OPTIONS": f"{sanitizer}:handle_segv=0:detect_leaks=0"}
    low, high = 0, 2000
    while low < high:
        k = (low + high) // 2
        probe = run_python("-c", COMPILE_UNDER_FAILING_ALLOCATIONS, k, env=env)
        if probe.returncode == 0:
            high = k
        else:
            low = k + 1
    return low


def test_import_under_failing_allocations():
    """Creating the module: it fails with MemoryError or the documented fatal
    errors, or succeeds with all its functions."""
    # Past the compiler's allocations, and those of the call that leads to it.
    primed = str(compile_allocations() + 32)
    names = repr(velmo_wrapper.__all__)
    settled = attempts("import", "all", primed, ks=range(2000), until_settled=True)
    one_failing = attempts("import", "one", primed, ks=range(settled[-1][0] + 1))
    for k, got, _probe_succeeded in settled + one_failing:
        failed_append = got[0] == PANIC_TYPE_NAME and got[1].startswith(APPEND_TO_ALL_FAILED)
        assert got in (
            ["ok", names],
            ["MemoryError", ""],
            [PANIC_TYPE_NAME, PYTHON_API_FAILED],
        ) or (failed_append and "MemoryError" in got[1]), (k, got)
    assert settled[-1][1] == ["ok", names]
    print("import", len(settled) + len(one_failing), "cases")
