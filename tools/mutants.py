"""Runs the Python suite against one-line mutants of the module.

Each edit of the list (a JSON file) replaces one exact piece of one source
line: {"file": ..., "old": ..., "new": ..., "why": ...}. The text `old` must
occur exactly once in the file. An edit of code that only one calling
convention runs names it ("convention": "fast" or "tuple") and is tried only
under an interpreter that takes that convention (3.10 or later: fast). For
each edit in turn the driver applies it, builds the module into
build/mutants, runs the suite against that build (stopping at the first
failing test) and restores the file. A mutant that fails to build, or that
fails a test, is killed; one that passes every test survived, and the list's
"equivalent" entry, when there is one, says why that is no fault.

    python tools/mutants.py tools/mutants/binder.json [-k EXPRESSION]

Uses the current Python environment, into which run_tests.sh installed the
test packages. Ends with a table and exits 1 when a mutant without an
"equivalent" reason survived.
"""

import argparse
import json
import os
import pathlib
import shutil
import subprocess
import sys
import time

ROOT = pathlib.Path(__file__).resolve().parent.parent
BUILD = ROOT / "build" / "mutants"
# The stub and wheel checks read the installed package, not the module's code.
WHOLE_SUITE = "not type_check and not builds_wheel"
# Only interpreters of 3.10 or later are given the fast calling convention.
CONVENTION = "fast" if sys.version_info >= (3, 10) else "tuple"


def configure():
    generator = ["-G", "Ninja"] if shutil.which("ninja") else []
    subprocess.run(
        [
            "cmake",
            "-S",
            str(ROOT),
            "-B",
            str(BUILD),
            *generator,
            "-DCMAKE_BUILD_TYPE=Release",
            "-DVELMO_BUILD_TESTS=OFF",
            "-DVELMO_BUILD_MODULE=ON",
            f"-DPython_EXECUTABLE={sys.executable}",
        ],
        check=True,
        stdout=subprocess.DEVNULL,
    )


def build():
    completed = subprocess.run(
        ["cmake", "--build", str(BUILD), "--target", "velmo_wrapper"],
        capture_output=True,
        text=True,
    )
    return completed.returncode == 0


def run_pytest(markers, selection):
    env = dict(os.environ)
    module_dir = str(BUILD / "velmo-wrapper")
    env["PYTHONPATH"] = os.pathsep.join(filter(None, [module_dir, env.get("PYTHONPATH")]))
    command = [
        sys.executable,
        "-m",
        "pytest",
        "-q",
        "-x",
        "-p",
        "no:cacheprovider",
        "-m",
        markers,
        "tests",
    ]
    if selection:
        command += ["-k", selection]
    completed = subprocess.run(command, cwd=ROOT, env=env, capture_output=True, text=True)
    lines = completed.stdout.strip().splitlines()
    failed = [line for line in lines if line.startswith("FAILED")]
    return completed.returncode, (failed[0] if failed else lines[-1] if lines else "")


def run_suite(selection):
    """The binding's own tests first, so that most mutants die within
    seconds, then the whole suite."""
    status, summary = run_pytest("binding", selection)
    if status != 0:
        return status, summary
    return run_pytest(WHOLE_SUITE, selection)


def apply(edit):
    path = ROOT / edit["file"]
    original = path.read_text()
    count = original.count(edit["old"])
    if count != 1:
        raise SystemExit(f"{edit['file']}: {edit['old']!r} occurs {count} times, not once")
    path.write_text(original.replace(edit["old"], edit["new"]))
    return path, original


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("edits", type=pathlib.Path)
    parser.add_argument("-k", dest="selection", help="pytest -k expression for a shorter run")
    options = parser.parse_args()
    edits = [
        edit
        for edit in json.loads(options.edits.read_text())
        if edit.get("convention", CONVENTION) == CONVENTION
    ]
    print(f"Python {sys.version.split()[0]}, {CONVENTION} convention: {len(edits)} mutants")

    configure()
    if not build():
        raise SystemExit("the unmutated module does not build")
    status, summary = run_suite(options.selection)
    if status != 0:
        raise SystemExit(f"the suite fails without a mutant: {summary}")

    rows, unexplained = [], 0
    for number, edit in enumerate(edits, 1):
        started = time.monotonic()
        path, original = apply(edit)
        try:
            if not build():
                outcome, detail = "killed", "does not build"
            else:
                status, detail = run_suite(options.selection)
                outcome = "killed" if status != 0 else "survived"
        finally:
            path.write_text(original)
        if outcome == "survived":
            if edit.get("equivalent"):
                detail = "equivalent: " + edit["equivalent"]
            else:
                unexplained += 1
        seconds = time.monotonic() - started
        rows.append((number, edit["file"].split("/")[-1], edit["why"], outcome, detail, seconds))
        print(f"{number:3} {outcome:8} {seconds:5.0f} s  {edit['why']}: {detail}", flush=True)
    build()  # the build directory holds the unmutated module again

    killed = sum(1 for row in rows if row[3] == "killed")
    print(
        f"\n{len(rows)} mutants: {killed} killed, {len(rows) - killed} survived "
        f"({unexplained} without a reason)"
    )
    sys.exit(1 if unexplained else 0)


if __name__ == "__main__":
    main()
