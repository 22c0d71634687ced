"""Every check of the project, one session each: the steps of CI (.ci/run runs
them in its order, after ./run_tests.sh) and one session per row of
tools/targets.toml, tagged by the step that runs the row.

    nox -l                                   what runs, and in which step
    nox -s lint                              one step alone
    nox -t release -- --dist build/dist      the release's rows, one by one
    nox -s row-NAME -- --dist DIR            one row, against the artifacts in DIR

A step's session runs in the current Python environment, the one
./run_tests.sh sets up (build/venv), and drives the scripts under tools/
(venv_backend "none"). A row of this machine's interpreters (reach "host")
and the tuple calling convention's interpreter get environments that nox
makes and keeps (.nox/); the other reaches make their own. Plain `nox` runs
the test command and lint.
"""

import argparse
import json
import os
import pathlib
import shlex
import shutil
import sys
import time

import nox
from nox.command import CommandFailed

ROOT = pathlib.Path(__file__).resolve().parent
sys.path[:0] = [str(ROOT / "tools"), str(ROOT / "tests")]
from helpers import find_python  # noqa: E402
from targets import load_table, test_packages  # noqa: E402

nox.options.sessions = ["tests", "lint"]
# A row whose interpreter is missing fails, rather than being skipped.
nox.options.error_on_missing_interpreters = True
TABLE, ROWS = load_table()
# The session of each step that runs rows of the table, by the step's name there.
ROW_STEPS = {
    "release": "release",
    "unstable pythons": "unstable-pythons",
    "source pythons": "source-pythons",
    "aarch64 check": "aarch64-check",
}
AARCH64_BUILD = ROOT / "build" / "aarch64"
DEFAULT_DIST = {"aarch64 check": AARCH64_BUILD / "dist"}
AARCH64_ROW = next(row for row in ROWS.values() if row["reach"] == "qemu-aarch64")
# The rows that take a wheel of their own (PyPy's, free-threaded CPython's),
# whichever step runs them: the release builds them all.
OWN_WHEEL_ROWS = [name for name, row in ROWS.items() if row["wheel"]]
# The settings of the table that the cross scripts take.
CROSS_SETTINGS = {
    "VELMO_PYTHON_SOURCE_PACKAGE": TABLE["sources"]["windows_headers"],
    "VELMO_ARM_PYTHON_VERSION": AARCH64_ROW["interpreter"],
}
# The calling convention the installed module took, as the tests tell it.
CONVENTION_PROBE = (
    "import sys; sys.path[:0] = ['tests']; import helpers; print(helpers.calling_convention())"
)
TUPLE_ROW = ROWS[TABLE["environments"]["tuple"]]


def host_environment(row):
    """The options of the session of a host row's environment, which nox
    makes once and keeps: the interpreter of the row's version (MAJOR.MINOR), else
    its command (pypy3), which nox looks up itself. The interpreter's own
    venv makes it: virtualenv no longer seeds the oldest versions."""
    wanted = row["interpreter"]
    python = (wanted.replace(".", "").isdigit() and find_python(wanted)) or wanted
    return {"python": python, "venv_backend": "venv", "reuse_venv": True}


def install_test_packages(session, row):
    # The pip that an interpreter's ensurepip brings may be too old for the
    # test packages' wheels (PyPy's is).
    session.install("--quiet", "--upgrade", "pip")
    session.install("--quiet", *test_packages(row))


def ci_step(**options):
    """A session of a CI step that plain `nox` leaves out (it takes minutes)."""
    return nox.session(venv_backend="none", default=False, **options)


def dist_of(session, row_step="release"):
    """The directory of the artifacts the rows install from: the session's
    `--dist DIR`, else its step's default."""
    parser = argparse.ArgumentParser(prog=f"nox -s {session.name} --")
    parser.add_argument("--dist", default=DEFAULT_DIST.get(row_step, ROOT / "build" / "dist"))
    return str(pathlib.Path(parser.parse_args(session.posargs).dist).resolve())


def targets(session, *arguments, **options):
    # The tools' interpreter, nox's own, also from a row's environment.
    return session.run(sys.executable, "tools/targets.py", *arguments, **options)


def succeeded(session, *command, **options):
    try:
        session.run(*command, **options)
    except CommandFailed:
        return False
    return True


def tuple_environment(session):
    """The python of the environment of the tuple convention (TUPLE_PYTHON,
    else the one the tuple-environment session makes), or None where this
    machine has no interpreter of it."""
    if os.environ.get("TUPLE_PYTHON"):
        return os.environ["TUPLE_PYTHON"]
    if not find_python(TUPLE_ROW["interpreter"]):
        return None
    session.run(sys.executable, "-m", "nox", "-s", "tuple-environment")
    return str(ROOT / ".nox" / "tuple-environment" / "bin" / "python")


@nox.session(venv_backend="none")
def tests(session):
    """The README's test command: the C++ tests, then the Python suite."""
    session.run("./run_tests.sh", *session.posargs)


@ci_step(name="bare-machine")
def bare_machine(session):
    """The README's first commands in a bare Debian 12 root (-- COUNT: the first COUNT only)."""
    session.run("bash", "tools/bare_machine.sh", *session.posargs)


@ci_step(name="sigint-ignored")
def sigint_ignored(session):
    """The Ctrl+C test as a non-interactive shell's background job, SIGINT ignored."""
    # The shell starts its background job with SIGINT ignored, as cron and
    # nohup-style wrappers do: the test must give its child the interrupt back.
    test = "tests/test_run_loop.py::TestRealKeyboardInterrupt"
    session.run("bash", "-c", f"python -m pytest -q -p no:cacheprovider {test} & wait $!")


@nox.session(venv_backend="none")
def lint(session):
    """clang-format, clang-tidy, ruff, ShellCheck, shfmt, the version guard, the mutant lists."""
    session.run("bash", "tools/lint.sh")


@ci_step()
def docs(session):
    """The documentation site built, its code examples run, its pages checked in Chromium."""
    session.run("bash", "tools/docs.sh")


@ci_step()
def hardening(session):
    """The binding fuzz test, the sanitized runs and the leak check, in each calling convention."""
    # Longer runs of the parts:
    #   VELMO_FUZZ_EXAMPLES=3000 VELMO_FUZZ_RANDOM=1 python -m pytest -q tests/test_fuzz_binding.py
    #   VELMO_FUZZ_EXAMPLES=600 VELMO_FUZZ_RANDOM=1 tools/sanitize.sh tests/test_fuzz_binding.py
    #   python tests/leakcheck.py --calls 10000000
    if not succeeded(session, "python", "-c", "import hypothesis", silent=True):
        session.run("python", "-m", "pip", "install", "--quiet", "hypothesis")
    # One wheel of the tree, for this environment and the tuple convention's.
    wheels = ROOT / "build" / "hardening-wheel"
    shutil.rmtree(wheels, ignore_errors=True)
    build = ["-m", "pip", "wheel", "--quiet", "--no-build-isolation", "--no-deps", "."]
    session.run("python", *build, "-w", str(wheels))
    wheel = str(next(wheels.glob("velmo_wrapper-*.whl")))
    install = ["-m", "pip", "install", "--quiet", "--force-reinstall", "--no-deps", wheel]
    session.run("python", *install)

    timings = []

    def timed(name, *command, **options):
        started = time.monotonic()
        session.run(*command, **options)
        timings.append(f"{name}: {time.monotonic() - started:.0f} s")

    stats = ROOT / "build" / "fuzz-stats.json"
    fuzz = ["-m", "pytest", "-q", "-p", "no:cacheprovider", "-m", "fuzz"]
    timed("fuzz test", "python", *fuzz, env={"VELMO_FUZZ_STATS": str(stats)})
    calls = json.loads(stats.read_text())
    each = ", ".join(f"{name} {count}" for name, count in sorted(calls.items()))
    print(f"calls sent per function: {each} (total {sum(calls.values())})")
    timed("sanitizers", "bash", "tools/sanitize.sh", env={"PYTHON": "python"})
    timed("leak check", "python", "tests/leakcheck.py")
    # Each convention's entry points run only under their own interpreters:
    # where this one takes the fast convention, the sanitized binding tests
    # and a shorter leak check run again in the tuple convention's.
    if session.run("python", "-c", CONVENTION_PROBE, silent=True).strip() == "fast":
        tuple_python = tuple_environment(session)
        if tuple_python:
            print(f"== the tuple convention: {tuple_python}")
            session.run(tuple_python, *install)
            sanitize = ["bash", "tools/sanitize.sh", "-m", "binding"]
            timed("sanitizers, tuple convention", *sanitize, env={"PYTHON": tuple_python})
            leaks = [tuple_python, "tests/leakcheck.py", "--calls", "200000"]
            timed("leak check, tuple convention", *leaks)
        else:
            print("== the tuple convention: no interpreter of it here; not run")
    print("\n".join(timings))
    print("hardening: all passed")


@ci_step(name="windows-check")
def windows_check(session):
    """The Windows build's C++ tests under wine, the module's import and export tables."""
    session.run("bash", "tools/cross/windows/check.sh", "build/windows", env=CROSS_SETTINGS)


@ci_step(name="aarch64-check")
def aarch64_check(session):
    """The aarch64 build's C++ tests under qemu, the FMA check, then the arm64 row."""
    build = succeeded(
        session, "bash", "tools/cross/aarch64/check.sh", str(AARCH64_BUILD), env=CROSS_SETTINGS
    )
    rows = succeeded(
        session,
        *run_rows("aarch64 check", dist_of(session, "aarch64 check")),
        env=row_environment("aarch64 check"),
    )
    if not (build and rows):
        session.error("aarch64 check: FAILED")
    print("aarch64 check: passed")


@ci_step(name="musl-check")
def musl_check(session):
    """The musl build's C++ tests, the musllinux wheel's FMA check."""
    session.run("bash", "tools/cross/musl/check.sh", "build/musl")


@ci_step()
def release(session):
    """The sdist and every wheel into DIST (-- --dist DIR), checked, and the release's rows run."""
    dist = dist_of(session)
    host_interpreters(session)
    session.run("bash", "tools/release.sh", "build", dist, env=CROSS_SETTINGS)
    targets(session, "wheels", *OWN_WHEEL_ROWS, "--dist", dist)
    session.run("bash", "tools/release.sh", "check", dist)
    # The host rows run next, each in its own session; the table after them.
    for row in ROWS.values():
        if row["step"] == "release" and row["reach"] == "host":
            session.notify(f"row-{row['name']}", ["--dist", dist])
    session.notify("table", ["--dist", dist])
    others = [
        name for name, row in ROWS.items() if row["step"] == "release" and row["reach"] != "host"
    ]
    targets(session, "run", *others, "--dist", dist)


@ci_step(name="host-interpreters")
def host_interpreters(session):
    """Installs the Debian packages of the host rows' interpreters missing here (PyPy)."""
    for row in ROWS.values():
        if row["reach"] == "host" and row["packages"] and not shutil.which(row["interpreter"]):
            session.run("bash", "tools/apt_install.sh", *shlex.split(row["packages"]))


@ci_step(name="unstable-pythons")
def unstable_pythons(session):
    """The rows of Debian unstable's interpreters, from the release's index."""
    session.run(*run_rows("unstable pythons", dist_of(session)))


@ci_step(name="source-interpreters")
def source_interpreters(session):
    """Builds the interpreters of the source rows into the cache (CI does it in the background)."""
    targets(session, "interpreters", "--step", "source pythons")


@ci_step(name="source-pythons")
def source_pythons(session):
    """The rows of the interpreters built from Debian's CPython sources."""
    session.run(*run_rows("source pythons", dist_of(session)))


@ci_step()
def table(session):
    """The release table: DIST's artifacts and every release row's result against them."""
    targets(session, "table", "--dist", dist_of(session))


@ci_step()
def coverage(session):
    """Line and branch coverage of the three layers by all the tests, held above its floors."""
    tuple_python = tuple_environment(session)
    session.run("bash", "tools/coverage.sh", env={"TUPLE_PYTHON": tuple_python or ""})


@ci_step()
def mutants(session):
    """The one-line mutants of tools/mutants/ against the tests (-- LISTS, -k, --only)."""
    session.run("python", "tools/mutants.py", *session.posargs, env=CROSS_SETTINGS)


@ci_step()
def benchmarks(session):
    """The engine's C++ benchmarks, then each function's cost against the floors."""
    session.run("cmake", "--preset", "bench", silent=True)
    session.run("cmake", "--build", "build/bench", "-j", "2")
    for program in sorted((ROOT / "build" / "bench").glob("velmo-*/*_bench")):
        session.run(str(program))
    for script in sorted((ROOT / "bench").glob("bench_*.py")):
        session.run("python", str(script))


# ------------------------------------------------------- the interpreter rows


def run_rows(row_step, dist, *names):
    """The command that runs the rows named (every row of ROW_STEP when none
    is), from one index of DIST's artifacts."""
    chosen = list(names) or ["--step", row_step]
    return [sys.executable, "tools/targets.py", "run", *chosen, "--dist", dist]


def row_environment(row_step):
    """The rows under qemu find the arm64 sysroot where the aarch64 check left it."""
    if row_step != "aarch64 check" or "QEMU_LD_PREFIX" in os.environ:
        return {}
    return {"QEMU_LD_PREFIX": os.path.realpath(AARCH64_BUILD / "sysroot")}


def describe(row):
    own = f", built by {row['wheel']}" if row["wheel"] else ""
    return f"{row['reach']} {row['interpreter']}: {row['artifact']}{own}"


def row_session(row):
    host = row["reach"] == "host"

    def session(session):
        dist = dist_of(session, row["step"])
        command = run_rows(row["step"], dist, row["name"])
        if host:
            install_test_packages(session, row)
            command += ["--python", str(pathlib.Path(session.bin) / "python")]
        session.run(*command, env=row_environment(row["step"]), external=True)

    session.__doc__ = describe(row)
    options = host_environment(row) if host else {"venv_backend": "none"}
    tags = [ROW_STEPS[row["step"]]]
    name = f"row-{row['name']}"
    return nox.session(name=name, default=False, tags=tags, **options)(session)


for _row in ROWS.values():
    row_session(_row)


@nox.session(name="tuple-environment", **host_environment(TUPLE_ROW), default=False)
def tuple_environment_session(session):
    """The tuple calling convention's environment, for hardening and coverage."""
    install_test_packages(session, TUPLE_ROW)
