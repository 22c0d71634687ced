#!/usr/bin/env bash
# Runs the Python tests against the wheel installed on the oldest interpreter
# the wheel supports (3.8), when this machine has one: the one abi3 wheel is
# built once, with the current Python, exactly as it ships.
#
# The stub and wheel checks are left out: they run the type checker and the
# ABI audit, which the main run covers.
set -euo pipefail
cd "$(dirname "$0")/.."
python=${PYTHON:-python}

oldest=
for candidate in ~/.pyenv/versions/3.8*/bin/python3.8; do
    if [ -x "$candidate" ]; then oldest=$candidate; break; fi
done
if [ -z "$oldest" ]; then
    oldest=$(command -v python3.8 || true)
fi
if [ -z "$oldest" ]; then
    echo "oldest python: no Python 3.8 on this machine; skipped"
    exit 0
fi

rm -rf build/wheel build/py38
"$python" -m pip wheel --quiet --no-build-isolation --no-deps . -w build/wheel
"$oldest" -m venv build/py38
build/py38/bin/python -m pip install --quiet pytest hypothesis build/wheel/velmo_wrapper-*.whl
build/py38/bin/python -m pytest -q -p no:cacheprovider tests \
    --ignore=tests/test_stubs.py --ignore=tests/test_wheel.py
