#!/usr/bin/env bash
# The hardening checks, in order: the binding fuzz test at its CI size, the
# sanitized run of the C++ tests and the Python suite, and the million-call
# leak check. Fails on the first failure; prints how long each part took.
#
# Uses the current Python environment (PYTHON, default `python`), into which
# it installs the module and hypothesis as run_tests.sh does. The module
# takes the fast calling convention on 3.10 and later and the tuple
# convention on 3.8 and 3.9; when the current Python takes the fast one, the
# sanitized binding and memory-failure tests and a shorter leak check run
# as well in the environment of the tuple convention that tools/targets.py
# prepares (TUPLE_PYTHON to use another), with the same wheel installed.
#
# Longer runs of the parts:
#   VELMO_FUZZ_EXAMPLES=3000 VELMO_FUZZ_RANDOM=1 python -m pytest -q tests/test_fuzz_binding.py
#   VELMO_FUZZ_EXAMPLES=600 VELMO_FUZZ_RANDOM=1 tools/sanitize.sh tests/test_fuzz_binding.py
#   python tests/leakcheck.py --calls 10000000
set -euo pipefail
source "$(dirname "$0")/lib.sh"
cd "$root"

if ! "$python" -c "import hypothesis" 2>/dev/null; then
    "$python" -m pip install --quiet hypothesis
fi
# One wheel of the tree, for this environment and the tuple convention's.
rm -rf build/hardening-wheel
"$python" -m pip wheel --quiet --no-build-isolation --no-deps . -w build/hardening-wheel
wheel=$(ls build/hardening-wheel/velmo_wrapper-*.whl)
"$python" -m pip install --quiet --force-reinstall --no-deps "$wheel"

timings=()
mkdir -p build
export VELMO_FUZZ_STATS=$PWD/build/fuzz-stats.json
timed_step "fuzz test" "$python" -m pytest -q -p no:cacheprovider -m fuzz
"$python" -c "import json, sys; counts = json.load(open(sys.argv[1])); \
print('calls sent per function:', ', '.join(f'{k} {n}' for k, n in sorted(counts.items())), \
f'(total {sum(counts.values())})')" "$VELMO_FUZZ_STATS"
unset VELMO_FUZZ_STATS
timed_step "sanitizers" env PYTHON="$python" tools/sanitize.sh
timed_step "leak check" "$python" tests/leakcheck.py

convention() { "$1" -c 'import sys; print("fast" if sys.version_info >= (3, 10) else "tuple")'; }
tuple_python=
if [ "$(convention "$python")" = fast ]; then
    tuple_python=${TUPLE_PYTHON:-$("$python" tools/targets.py environment tuple || true)}
fi
if [ -x "$tuple_python" ]; then
    echo "== the tuple convention: $("$tuple_python" --version)"
    "$tuple_python" -m pip install --quiet --force-reinstall --no-deps "$wheel"
    timed_step "sanitizers, tuple convention" env PYTHON="$tuple_python" tools/sanitize.sh -m binding
    timed_step "leak check, tuple convention" "$tuple_python" tests/leakcheck.py --calls 200000
else
    echo "== the tuple convention: no interpreter of it here; not run"
fi

printf '%s\n' "${timings[@]}"
echo "hardening: all passed"
