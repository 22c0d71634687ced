"""Runs the C++ tests, then the Python suite, against one-line mutants of each layer.

A list (a JSON file under tools/mutants/, one per layer) holds edits that each
replace one exact piece of one source line: {"file": ..., "old": ..., "new":
..., "why": ...}. The text `old` must occur exactly once in the file; where two
lines are equal, the edit names an "after" text, which must occur once, and
its first `old` after that text is edited. An edit of code that only one
calling convention runs names it ("convention": "fast" or "tuple") and is
tried only under an interpreter whose module takes that convention.

The mutants are written into a git worktree in build/mutants-tree, checked
out at the working tree's state (committed and uncommitted changes of
tracked files) and kept, with its builds, for the next run. For each edit the
driver applies it there, builds and runs the C++ tests (CMakePresets.json's
mutants-cpp; edits of the module's own sources skip them), and only when they
pass builds the module (mutants-module) and runs the Python suite, stopping at
the first failing test; then it restores the file. A mutant that fails to
build or fails a test is killed (a test counts only when it fails again on its
own, as a timing test may fail once on a loaded machine); one that passes
every test survived, and the list's "equivalent" entry, if any, says why that
is no fault.

A list may instead be an object, {"platform": "windows", "note": ...,
"mutants": [...]}: its C++ tests are the Windows build's (mutants-windows),
run by ctest under wine in a private prefix for the whole run
(tools/cross/windows/setup.sh), and no Python suite runs for it.

    python tools/mutants.py [tools/mutants/engine.json ...] [-k EXPRESSION] [--only TEXT]
    python tools/mutants.py --check [LISTS...]

--check only confirms, in a fraction of a second, that every edit of the
lists still applies to the working tree: lint runs it. Without a list, every
list runs, in the current Python environment. Progress goes to standard
error; standard output gets the report, whose first line counts each layer's
mutants (killed / equivalent / survived), then a table per layer. Exits 1
when a mutant without an "equivalent" reason survived.
"""

import argparse
import collections
import functools
import json
import os
import pathlib
import re
import shutil
import subprocess
import sys
import time

ROOT = pathlib.Path(__file__).resolve().parent.parent
LISTS = ROOT / "tools" / "mutants"
# The copy of the tree that the mutants are written into, and its builds
# (CMakePresets.json's binary directories).
TREE = ROOT / "build" / "mutants-tree"
CPP_BUILD = TREE / "build" / "mutants-cpp"
MODULE_BUILD = TREE / "build" / "mutants-module"
WINDOWS_BUILD = TREE / "build" / "mutants-windows"
WINDOWS_SETUP = ROOT / "tools" / "cross" / "windows" / "setup.sh"
WHOLE_SUITE = "module"
# Code the C++ tests do not build.
MODULE_ONLY = "velmo-wrapper/"
# A test fails a mutant only when it fails twice: timing tests can fail once
# on a loaded machine.
CTEST = ["ctest", "-j", "2", "--stop-on-failure", "--repeat", "until-pass:2"]
# A mutant that turns a wait into an endless one is killed by these limits.
CTEST_TIMEOUT_S = 120
PYTEST_TIMEOUT_S = 1800


@functools.lru_cache(maxsize=None)
def calling_convention():
    """The calling convention this interpreter's module takes, as the tests
    tell it (tests/helpers.py), from the module installed here."""
    probe = [sys.executable, "-c", "import helpers; print(helpers.calling_convention())"]
    tests = ROOT / "tests"
    return subprocess.run(
        probe, cwd=tests, check=True, stdout=subprocess.PIPE, text=True
    ).stdout.strip()


def git(*arguments, cwd=ROOT):
    return subprocess.run(
        ["git", *arguments], cwd=cwd, check=True, stdout=subprocess.PIPE, text=True
    ).stdout.strip()


def prepare_tree():
    """TREE, a git worktree holding what the working tree holds now (tracked
    files; `git stash create` commits them without touching the working tree
    or the stash list)."""
    state = git("stash", "create") or git("rev-parse", "HEAD")
    if not (TREE / ".git").exists():
        shutil.rmtree(TREE, ignore_errors=True)
        git("worktree", "prune")
        git("worktree", "add", "--detach", "--quiet", str(TREE), state)
    else:
        git("checkout", "--detach", "--force", "--quiet", state, cwd=TREE)


def configure(preset, *options):
    """Configures TREE's build of the preset PRESET."""
    generator = ["-G", "Ninja"] if shutil.which("ninja") else []
    subprocess.run(
        ["cmake", "--preset", preset, *generator, *options],
        cwd=TREE,
        check=True,
        stdout=subprocess.DEVNULL,
    )


def windows_setup(task):
    """What tools/cross/windows/setup.sh prints for TASK, for WINDOWS_BUILD."""
    command = ["bash", str(WINDOWS_SETUP), str(WINDOWS_BUILD), task]
    env = {**os.environ, "PYTHON": sys.executable}
    return subprocess.run(command, check=True, stdout=subprocess.PIPE, text=True, env=env).stdout


def configure_windows():
    googletest = windows_setup("googletest").strip()
    configure("mutants-windows", f"-DGTest_DIR={googletest}")


def start_wine():
    """A private wine prefix for the run: its settings go into this process's
    environment, which ctest and the programs it starts under wine inherit."""
    settings = windows_setup("start-wine").splitlines()
    os.environ.update(setting.split("=", 1) for setting in settings)


def build(build_dir, *target):
    command = ["cmake", "--build", str(build_dir), "-j", "2"]
    if target:
        command += ["--target", *target]
    return subprocess.run(command, capture_output=True, text=True).returncode == 0


def run_ctest(build_dir):
    """(status, the first failing test or the summary line)."""
    try:
        completed = subprocess.run(
            [*CTEST, "--test-dir", str(build_dir), "--timeout", str(CTEST_TIMEOUT_S)],
            capture_output=True,
            text=True,
            timeout=CTEST_TIMEOUT_S * 4,
        )
    except subprocess.TimeoutExpired:
        return 1, "ctest did not end"
    results = re.findall(r"Test +#\d+: (\S+) \.+\**(\w+)", completed.stdout)
    failed = [result for result in results if result[1] != "Passed"]
    if failed:
        return completed.returncode, " ".join(failed[0])
    summary = [line for line in completed.stdout.splitlines() if "tests passed" in line]
    return completed.returncode, (summary or [""])[0]


def run_pytest(markers, selection, deselected=(), tests=("tests",)):
    env = dict(os.environ)
    module_dir = str(MODULE_BUILD / "velmo-wrapper")
    env["PYTHONPATH"] = os.pathsep.join(filter(None, [module_dir, env.get("PYTHONPATH")]))
    command = [sys.executable, "-m", "pytest", "-q", "-x", "-p", "no:cacheprovider"]
    command += ["-m", markers, *tests]
    command += [f"--deselect={test}" for test in deselected]
    if selection:
        command += ["-k", selection]
    try:
        completed = subprocess.run(
            command, cwd=TREE, env=env, capture_output=True, text=True, timeout=PYTEST_TIMEOUT_S
        )
    except subprocess.TimeoutExpired:
        return 1, "the suite did not end", None
    lines = completed.stdout.strip().splitlines()
    failed = [line for line in lines if line.startswith("FAILED")]
    # "FAILED <test id> - <message>"; parametrized ids may hold spaces.
    test = failed[0].removeprefix("FAILED ").split(" - ", 1)[0] if failed else None
    return completed.returncode, (failed[0] if failed else lines[-1] if lines else ""), test


def run_confirmed(markers, selection):
    """run_pytest, where a failure counts only when the failing test fails
    again on its own: timing tests can fail once on a loaded machine. A test
    that passes the second time is left out and the rest run on."""
    deselected = []
    while True:
        status, summary, test = run_pytest(markers, selection, deselected)
        if status == 0 or test is None or run_pytest(markers, None, tests=[test])[0] != 0:
            if deselected:
                summary += f" (passed when run again: {', '.join(deselected)})"
            return status, summary
        deselected.append(test)


def run_python_suite(selection):
    """The binding's own tests first, so that a binder mutant dies within
    seconds, then the whole suite."""
    status, summary = run_confirmed("binding", selection)
    if status != 0:
        return status, summary
    return run_confirmed(WHOLE_SUITE, selection)


def run_cpp_side(build_dir=CPP_BUILD):
    """(outcome, detail): None when the C++ tests pass."""
    if not build(build_dir):
        return "build", "the C++ tests do not build"
    status, detail = run_ctest(build_dir)
    return ("C++", detail) if status != 0 else (None, detail)


def run_python_side(selection):
    if not build(MODULE_BUILD, "velmo_wrapper"):
        return "build", "the module does not build"
    status, detail = run_python_suite(selection)
    return ("Python", detail) if status != 0 else (None, detail)


def try_mutant(edit, selection, windows):
    """(who killed it, or None when it survived; a detail)."""
    if windows:
        return run_cpp_side(WINDOWS_BUILD)
    if not edit["file"].startswith(MODULE_ONLY):
        killer, detail = run_cpp_side()
        if killer:
            return killer, detail
    return run_python_side(selection)


def locate(edit, text):
    """(where in `text` the edit's old text starts, or None; what is wrong)."""
    anchor = edit.get("after")
    unique = anchor if anchor is not None else edit["old"]
    count = text.count(unique)
    if count != 1:
        return None, f"{edit['file']}: {unique!r} occurs {count} times, not once"
    at = text.find(edit["old"], text.index(unique))
    if at < 0:
        return None, f"{edit['file']}: {edit['old']!r} does not occur after {anchor!r}"
    return at, None


def apply(edit):
    """Writes the mutant into TREE; (its path, the original text)."""
    path = TREE / edit["file"]
    original = path.read_text()
    at, problem = locate(edit, original)
    if problem:
        raise SystemExit(problem)
    path.write_text(original[:at] + edit["new"] + original[at + len(edit["old"]) :])
    return path, original


def all_edits(list_path):
    listed = json.loads(list_path.read_text())
    return listed["mutants"] if isinstance(listed, dict) else listed


def check_lists(lists):
    """Exits 1 when an edit of the lists no longer applies to the working tree."""
    problems, count = [], 0
    for list_path in lists:
        for edit in all_edits(list_path):
            count += 1
            path = ROOT / edit["file"]
            text = path.read_text() if path.is_file() else ""
            problem = locate(edit, text)[1] if text else f"{edit['file']}: no such file"
            if problem:
                problems.append(f"{list_path.name}: {problem}")
    print("\n".join(problems) or f"mutant lists: {count} edits in {len(lists)} lists all apply")
    sys.exit(1 if problems else 0)


def load(list_path, only):
    """(the list's mutants, whether its C++ tests are the Windows build's)."""
    listed = json.loads(list_path.read_text())
    windows = isinstance(listed, dict) and listed.get("platform") == "windows"
    convention = calling_convention()
    edits = [
        edit for edit in all_edits(list_path) if edit.get("convention", convention) == convention
    ]
    return [edit for edit in edits if not only or only in edit["why"]], windows


def check_unmutated(layers, selection):
    """Every side a list uses must pass before a mutant can mean anything."""
    if any(windows for _, windows in layers.values()):
        killer, detail = run_cpp_side(WINDOWS_BUILD)
        if killer:
            raise SystemExit(f"the Windows C++ tests fail without a mutant: {detail}")
    linux = [edits for edits, windows in layers.values() if not windows]
    if not linux:
        return
    if any(not e["file"].startswith(MODULE_ONLY) for edits in linux for e in edits):
        killer, detail = run_cpp_side()
        if killer:
            raise SystemExit(f"the C++ tests fail without a mutant: {detail}")
    killer, detail = run_python_side(selection)
    if killer:
        raise SystemExit(f"the Python suite fails without a mutant: {detail}")


def run_layer(name, edits, windows, selection):
    rows = []
    for number, edit in enumerate(edits, 1):
        started = time.monotonic()
        path, original = apply(edit)
        try:
            killer, detail = try_mutant(edit, selection, windows)
        finally:
            path.write_text(original)
        if killer:
            outcome = "killed"
        elif edit.get("equivalent"):
            outcome, detail = "equivalent", edit["equivalent"]
        else:
            outcome = "survived"
        row = {
            "number": number,
            "file": edit["file"].split("/")[-1],
            "why": edit["why"],
            "outcome": outcome,
            "by": killer or "-",
            "detail": detail,
            "seconds": time.monotonic() - started,
        }
        rows.append(row)
        print(
            f"{name} {number:3} {outcome:10} {row['by']:6} {row['seconds']:5.0f} s  "
            f"{edit['why']}: {detail}",
            file=sys.stderr,
            flush=True,
        )
    return rows


def counts(rows):
    return collections.Counter(row["outcome"] for row in rows)


def report(results):
    heading = []
    for name, rows in results.items():
        tally = counts(rows)
        outcomes = ("killed", "equivalent", "survived")
        heading.append(f"{name} " + " / ".join(f"{tally[kind]} {kind}" for kind in outcomes))
    print("; ".join(heading))
    for name, rows in results.items():
        print(f"\n{name}:")
        print(f"{'#':>3}  {'file':24} {'outcome':10} {'by':6} {'time':>6}  mutant: detail")
        for row in rows:
            reason = row["detail"] if row["outcome"] != "killed" else row["detail"][:90]
            print(
                f"{row['number']:3}  {row['file']:24} {row['outcome']:10} {row['by']:6} "
                f"{row['seconds']:5.0f}s  {row['why']}: {reason}"
            )


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("lists", type=pathlib.Path, nargs="*")
    parser.add_argument("-k", dest="selection", help="pytest -k expression for a shorter run")
    parser.add_argument("--only", help="only the mutants whose 'why' contains this text")
    parser.add_argument("--check", action="store_true", help="only check that every edit applies")
    options = parser.parse_args()
    lists = options.lists or sorted(LISTS.glob("*.json"))
    if options.check:
        check_lists(lists)
    layers = {path.stem: load(path, options.only) for path in lists}
    total = sum(len(edits) for edits, _ in layers.values())
    print(
        f"Python {sys.version.split()[0]}, {calling_convention()} convention: {total} mutants",
        file=sys.stderr,
    )

    windows = any(on_windows for _, on_windows in layers.values())
    linux = not all(on_windows for _, on_windows in layers.values())
    prepare_tree()
    if linux:
        configure("mutants-cpp")
        configure("mutants-module", f"-DPython_EXECUTABLE={sys.executable}")
    if windows:
        configure_windows()
        start_wine()
    try:
        check_unmutated(layers, options.selection)
        results = {
            name: run_layer(name, edits, on_windows, options.selection)
            for name, (edits, on_windows) in layers.items()
        }
    finally:
        if windows:
            windows_setup("stop-wine")

    report(results)
    survived = sum(counts(rows)["survived"] for rows in results.values())
    sys.exit(1 if survived else 0)


if __name__ == "__main__":
    main()
