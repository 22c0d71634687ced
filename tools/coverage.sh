#!/usr/bin/env bash
# Line and branch coverage of the platform, engine and wrapper sources by the
# C++ tests and the Python suite together, built with gcov counters into
# build/coverage: prints gcovr's table per file and fails when a total falls
# below its floor. Installs gcovr into the current Python environment.
set -euo pipefail
cd "$(dirname "$0")/.."
python=$("${PYTHON:-python}" -c "import sys; print(sys.executable)")
build=build/coverage
# Raised as the covered share grows. What stays uncovered cannot be reached
# from a test: failures of interpreter calls that only memory can fail in
# ways the tests can bring about without crashing the interpreter first, and
# the abort when an exception cannot be raised at all.
line_floor=${VELMO_LINE_FLOOR:-97}
branch_floor=${VELMO_BRANCH_FLOOR:-88}

if ! "$python" -m gcovr --version >/dev/null 2>&1; then
    "$python" -m pip install --quiet gcovr
fi

generator=()
if command -v ninja >/dev/null 2>&1; then generator=(-G Ninja); fi
# CMakePresets.json's `coverage`: unoptimised, so that every line and branch
# of the source keeps its counter; VELMO_COVERAGE makes the immediate process
# exit write the counters first.
cmake --preset coverage "${generator[@]}" -DPython_EXECUTABLE="$python" >/dev/null
cmake --build "$build" -j 2
find "$build" -name '*.gcda' -delete

status=0
ctest --test-dir "$build" --output-on-failure -j 2 || status=$?
# The module's tests: the package's checks need files a build tree lacks.
module_dir=$PWD/$build/velmo-wrapper
suite=(-m pytest -q -p no:cacheprovider -m module)
PYTHONPATH="$module_dir${PYTHONPATH:+:$PYTHONPATH}" "$python" "${suite[@]}" || status=$?
# The module takes the tuple calling convention on 3.8 and 3.9 and the fast
# one from 3.10 on: each convention's entry points run only under their own
# interpreters, so the suite runs again in the environment of the tuple
# convention, TUPLE_PYTHON (the noxfile's coverage session prepares it).
tuple_python=${TUPLE_PYTHON:-}
if [ -x "$tuple_python" ]; then
    PYTHONPATH="$module_dir${PYTHONPATH:+:$PYTHONPATH}" "$tuple_python" "${suite[@]}" || status=$?
else
    echo "coverage: no interpreter of the tuple convention here; that convention is not counted"
fi
if [ "$status" -ne 0 ]; then
    echo "coverage: tests failed"
    exit "$status"
fi

# Branches the compiler adds for exceptions it cannot reach from the source
# (every call that may throw) are left out; the source's own branches count.
"$python" -m gcovr --root . \
    --filter 'velmo-(platform|engine|wrapper)/src/' \
    --exclude-throw-branches --exclude-unreachable-branches \
    --txt - --print-summary \
    --fail-under-line "$line_floor" --fail-under-branch "$branch_floor" \
    "$build/velmo-platform" "$build/velmo-engine" "$build/velmo-wrapper"
