"""The tests' shared helpers: child interpreters for every state that needs an Engine.

Only one Engine can exist per process, so tests of the states before `init`,
after `init` and after a second `init`, and of the run loop, run small scripts
in fresh interpreters. Those scripts import this module too (run_script puts
the tests directory on their PYTHONPATH), so it imports pytest only where a
test uses it: a child's interpreter may have none.
"""

import functools
import glob
import os
import random
import re
import shlex
import shutil
import subprocess
import sys
import sysconfig
import textwrap

WINDOWS = sys.platform == "win32"
PYPY = sys.implementation.name == "pypy"
# PyPy 8 reads an argument's type name as it hands the object to C code: an
# object whose type cannot be named fails there, before the module sees it.
NAMES_TYPES_ON_ENTRY = PYPY and sys.pypy_version_info >= (8,)
# A CPython built without the GIL (3.13t): no stable ABI, and an allocator of
# its own (mimalloc) that PYTHONMALLOC=malloc cannot replace.
FREE_THREADED = bool(sysconfig.get_config_var("Py_GIL_DISABLED"))
# The allocator under which a freed object's memory is reused or poisoned at
# once: the C library's, or on a free-threaded build mimalloc with its debug hooks.
FREEING_ALLOCATOR = "mimalloc_debug" if FREE_THREADED else "malloc"
TESTS_DIRECTORY = os.path.dirname(os.path.abspath(__file__))


def calling_convention():
    """The calling convention the module's functions were registered with, as a
    script can tell them apart: only the tuple convention lets a keyword that
    is not a `str` reach the module's own binder, whose message names the
    key's type; in the fast one the interpreter refuses it first."""
    import velmo_wrapper

    try:
        velmo_wrapper.ceil(**{1: 2})
    except TypeError as error:
        return "fast" if str(error) == "keywords must be strings" else "tuple"
    raise AssertionError("a keyword that is not a str was accepted")


def posix_only(gap):
    """Skips a test on Windows, whose lack of `gap` the reason names."""
    import pytest

    return pytest.mark.skipif(WINDOWS, reason=f"Windows has no {gap}")


def gil_enabled():
    """Whether this interpreter runs with a GIL now (a free-threaded build may,
    with PYTHON_GIL=1); its child scripts run as it does."""
    return getattr(sys, "_is_gil_enabled", lambda: True)()


def not_free_threaded(why):
    """Skips a test on a free-threaded CPython, which lacks what `why` names."""
    import pytest

    return pytest.mark.skipif(FREE_THREADED, reason=f"a free-threaded CPython {why}")


def windows_only(what):
    import pytest

    return pytest.mark.skipif(not WINDOWS, reason=f"checks Windows' {what}")


# The command that starts this interpreter again for a child script. An
# interpreter of another architecture, run under an emulator with no binfmt
# handler, names the emulator here (VELMO_TEST_INTERPRETER_PREFIX="qemu-aarch64").
THIS_INTERPRETER = [
    *shlex.split(os.environ.get("VELMO_TEST_INTERPRETER_PREFIX", "")),
    sys.executable,
]


class ScriptResult:
    def __init__(self, completed):
        self.returncode = completed.returncode
        self.stdout = completed.stdout
        self.stderr = completed.stderr

    def __repr__(self):
        return (
            f"ScriptResult(returncode={self.returncode!r},\n"
            f"stdout={self.stdout!r},\nstderr={self.stderr!r})"
        )


def child_environment(env=None):
    """This process's environment with `env`, where child scripts can import
    the shared modules of the tests directory."""
    full_env = dict(os.environ)
    full_env.setdefault("PYTHONIOENCODING", "utf-8")
    if env:
        full_env.update(env)
    full_env["PYTHONPATH"] = os.pathsep.join(
        filter(None, [TESTS_DIRECTORY, full_env.get("PYTHONPATH")])
    )
    return full_env


class RunningChild:
    """A script in a new interpreter that the test reads from while it runs.

    Leaving the `with` block kills it if it still runs, then keeps the rest of
    its output in `stdout` and `stderr` and its status in `returncode`.
    """

    def __init__(self, source, *, text=True):
        self.process = subprocess.Popen(
            [*THIS_INTERPRETER, "-c", textwrap.dedent(source)],
            stdout=subprocess.PIPE,
            stderr=subprocess.PIPE,
            text=text,
            env=child_environment(),
        )

    def __enter__(self):
        return self

    def __exit__(self, *exception):
        self.process.kill()
        self.stdout, self.stderr = self.process.communicate()
        self.returncode = self.process.returncode


def run_script(source, *, cwd=None, timeout=60, env=None, args=(), path=None, interpreter=None):
    """Runs `source` in a new interpreter and returns its status and output.

    With `path`, the script is written to that file and run from it, so that it
    has a file name of its own (as a script started from a shell has). With
    `interpreter`, another Python runs it instead of this one.
    """
    source = textwrap.dedent(source)
    full_env = child_environment(env)
    interpreter_command = [interpreter] if interpreter else THIS_INTERPRETER
    if path is not None:
        with open(path, "w", encoding="utf-8") as handle:
            handle.write(source)
        command = [*interpreter_command, str(path), *args]
    else:
        command = [*interpreter_command, "-c", source, *args]
    completed = subprocess.run(
        command, cwd=cwd, env=full_env, capture_output=True, text=True, timeout=timeout
    )
    return ScriptResult(completed)


def assert_prints_no_failures(result):
    """For a child script that checks many cases and prints the list of those
    that failed: it ran to its end and that list is empty."""
    assert result.returncode == 0, result
    assert result.stdout == "[]\n", result.stdout


def run_python(*args, cwd=None, timeout=300, stdin=None, env=None):
    """Runs this interpreter with `args`, its output captured; a failure shows
    in its status, not as an exception. With `env`, in child_environment(env)."""
    return subprocess.run(
        [sys.executable, *map(str, args)],
        cwd=cwd,
        input=stdin,
        capture_output=True,
        text=True,
        timeout=timeout,
        env=None if env is None else child_environment(env),
    )


def run_module(module, *args, cwd=None, timeout=300):
    """Runs `python -m module args` in this interpreter (run_python)."""
    return run_python("-m", module, *args, cwd=cwd, timeout=timeout)


# This interpreter's platform triplet ("x86_64-linux-gnu", "x86_64-linux-musl"):
# its C library, which the libraries it loads must share.
MULTIARCH = sysconfig.get_config_var("MULTIARCH")
_PROBE = (
    "import sys, sysconfig; "
    "print('%d.%d' % sys.version_info[:2], sysconfig.get_config_var('MULTIARCH'))"
)


def _oldest_version():
    """The oldest version the wheel supports, as pyproject.toml requires it
    ("MAJOR.MINOR"), or None where the tests run without the project's tree."""
    pyproject = os.path.join(os.path.dirname(TESTS_DIRECTORY), "pyproject.toml")
    if not os.path.exists(pyproject):
        return None
    with open(pyproject, encoding="utf-8") as file:
        found = re.search(r'^requires-python = ">=(\d+\.\d+)"', file.read(), re.M)
    return found.group(1) if found else None


def oldest_python():
    """An interpreter of the oldest version the wheel supports, if this machine
    has one of this interpreter's C library (the module built for musl does
    not load into a glibc interpreter) and the module installed here is that
    wheel's (not PyPy's own, nor a free-threaded CPython's)."""
    version = _oldest_version()
    if PYPY or FREE_THREADED or version is None:
        return None
    return find_python(version)


@functools.lru_cache(maxsize=None)
def find_python(version):
    """An interpreter of VERSION ("MAJOR.MINOR") and of this interpreter's C
    library, or None (noxfile.py finds the rows' interpreters with it too).
    Installed interpreters first: a version manager's shim on the path is a
    shell script that starts many other programs, and answers only for the
    versions made active."""
    pyenv = f"~/.pyenv/versions/{version}.*/bin/python{version}"
    candidates = sorted(glob.glob(os.path.expanduser(pyenv)))
    candidates.append(shutil.which(f"python{version}"))
    for candidate in filter(None, candidates):
        probe = subprocess.run([candidate, "-c", _PROBE], capture_output=True, text=True)
        if probe.returncode == 0 and probe.stdout.strip() == f"{version} {MULTIARCH}":
            return candidate
    return None


def c_compiler():
    """The C compiler of this interpreter's own extension modules, which builds
    for its C library (musl's, say, where cc is glibc's), else cc."""
    configured = shlex.split(sysconfig.get_config_var("CC") or "")
    return configured if configured and shutil.which(configured[0]) else ["cc"]


def preload_library(directory, source, *compiler_flags):
    """The LD_PRELOAD environment entry that adds the shared library built
    from the C file `source` to what this run preloads already; skips the test
    without a C compiler, and fails it when the file does not compile."""
    import pytest

    library = os.path.join(directory, os.path.basename(source) + ".so")
    # The compiler runs without whatever this run preloads (a sanitizer's runtime).
    compiler_env = {k: v for k, v in os.environ.items() if k != "LD_PRELOAD"}
    compiler = c_compiler()
    if not shutil.which(compiler[0]):
        pytest.skip(f"no C compiler ({compiler[0]})")
    built = subprocess.run(
        [*compiler, "-shared", "-fPIC", "-O1", *compiler_flags, str(source), "-o", library, "-ldl"],
        capture_output=True,
        text=True,
        env=compiler_env,
    )
    assert built.returncode == 0, built.stderr
    return {"LD_PRELOAD": " ".join(filter(None, [os.environ.get("LD_PRELOAD"), library]))}


def error_name(kind):
    """A built-in exception's bare name, any other one's "module.name"."""
    if kind.__module__ == "builtins":
        return kind.__qualname__
    return f"{kind.__module__}.{kind.__qualname__}"


def outcome(call):
    """("ok", the result's repr) or (the error's name, its text), for any error."""
    try:
        return ("ok", repr(call()))
    except BaseException as error:  # noqa: BLE001 - every outcome is recorded
        return (error_name(type(error)), str(error))


def failures_over_random_cases(check, seed, count=3000):
    """What `check(pick)` yields over `count` calls that share one
    random.Random(seed): each call draws a case from `pick` and yields a
    description of every failure it finds."""
    pick = random.Random(seed)
    return [failure for _ in range(count) for failure in check(pick)]


def type_whose_name_calls(action):
    """A metaclass whose classes call `action()` whenever their `__qualname__`
    is read: with an `action` that raises, a type that cannot be named."""

    class NameCalls(type):
        def __getattribute__(cls, name):
            if name == "__qualname__":
                action()
            return super().__getattribute__(name)

    return NameCalls


def panic_type():
    """The module's PanicException type, which it does not export: the type
    of the error quit() raises before init."""
    import velmo_wrapper

    try:
        velmo_wrapper.quit()
    except BaseException as error:  # noqa: BLE001 - the type is what is wanted
        return type(error)
    raise AssertionError("quit() before init did not fail")


def run_recording(record, enough):
    """Runs the loop of an initialized module with an update that appends
    `record()` to a list each frame; once `enough(list)`, prints the list and
    ends the process through sys.exit(0)."""
    # Imported here and in panic_type: the other helpers serve scripts that
    # import the module later, or not at all.
    import velmo_wrapper

    records = []

    def update():
        records.append(record())
        if enough(records):
            print(records)
            sys.exit(0)

    velmo_wrapper.run(update, lambda: None, lambda: None)
