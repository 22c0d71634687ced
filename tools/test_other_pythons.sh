#!/usr/bin/env bash
# Runs the Python tests against the wheel installed on the oldest interpreter
# the wheel supports (3.8) and on the newest this machine has, when it has
# them: the one abi3 wheel is built once, with the current Python, exactly as
# it ships. Each interpreter gets its own environment, build/py<version>.
#
# The stub and wheel checks are left out: they run the type checker and the
# ABI audit, which the main run covers.
set -euo pipefail
cd "$(dirname "$0")/.."
python=${PYTHON:-python}

# Installed interpreters first: a version manager's shim on the path is a
# shell script that starts many other programs.
shopt -s nullglob
installed_oldest=(~/.pyenv/versions/3.8*/bin/python3.8)
oldest=${installed_oldest[0]:-$(command -v python3.8 || true)}
installed=(~/.pyenv/versions/3.*)
newest=
if [ ${#installed[@]} -gt 0 ]; then
    newest=$(printf '%s\n' "${installed[@]}" | sort -V | tail -n 1)/bin/python3
fi
current=$("$python" -c 'import sys; print("%d.%d" % sys.version_info[:2])')

interpreters=()
for candidate in "$oldest" "$newest"; do
    [ -n "$candidate" ] && [ -x "$candidate" ] || continue
    version=$("$candidate" -c 'import sys; print("%d.%d" % sys.version_info[:2])')
    # The main run covers the current interpreter.
    [ "$version" != "$current" ] && interpreters+=("$candidate")
done
if [ ${#interpreters[@]} -eq 0 ]; then
    echo "other pythons: no Python 3.8 or newer interpreter on this machine; skipped"
    exit 0
fi

rm -rf build/wheel
"$python" -m pip wheel --quiet --no-build-isolation --no-deps . -w build/wheel
for interpreter in "${interpreters[@]}"; do
    version=$("$interpreter" -c 'import sys; print("%d%d" % sys.version_info[:2])')
    environment=build/py$version
    echo "other pythons: $("$interpreter" --version)"
    rm -rf "$environment"
    "$interpreter" -m venv "$environment"
    "$environment/bin/python" -m pip install --quiet pytest hypothesis build/wheel/velmo_wrapper-*.whl
    "$environment/bin/python" -m pytest -q -p no:cacheprovider tests \
        --ignore=tests/test_stubs.py --ignore=tests/test_wheel.py
done
