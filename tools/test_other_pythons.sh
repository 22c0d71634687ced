#!/usr/bin/env bash
# Runs the Python tests against the wheel installed on the oldest interpreter
# the wheel supports (3.8) and on the newest this machine has, when it has
# them: the one abi3 wheel is built once, with the current Python, exactly as
# it ships. Each interpreter gets its own environment, build/py<version>.
#
# The stub and wheel checks are left out: they run the type checker and the
# ABI audit, which the main run covers.
set -euo pipefail
source "$(dirname "$0")/lib.sh"
cd "$root"

oldest=$(find_python 3.8)
# The newest of pyenv's interpreters.
shopt -s nullglob
installed=(~/.pyenv/versions/3.*)
newest=
if [ ${#installed[@]} -gt 0 ]; then
    newest=$(printf '%s\n' "${installed[@]}" | sort -V | tail -n 1)/bin/python3
fi
current=$(python_version "$python")

interpreters=()
for candidate in "$oldest" "$newest"; do
    [ -n "$candidate" ] && [ -x "$candidate" ] || continue
    # The main run covers the current interpreter.
    [ "$(python_version "$candidate")" != "$current" ] && interpreters+=("$candidate")
done
if [ ${#interpreters[@]} -eq 0 ]; then
    echo "other pythons: no Python 3.8 or newer interpreter on this machine; skipped"
    exit 0
fi

rm -rf build/wheel
"$python" -m pip wheel --quiet --no-build-isolation --no-deps . -w build/wheel
for interpreter in "${interpreters[@]}"; do
    version=$(python_version "$interpreter")
    environment=build/py${version/./}
    echo "other pythons: $("$interpreter" --version)"
    rm -rf "$environment"
    "$interpreter" -m venv "$environment"
    "$environment/bin/python" -m pip install --quiet pytest hypothesis build/wheel/velmo_wrapper-*.whl
    "$environment/bin/python" -m pytest -q -p no:cacheprovider -m "not type_check and not builds_wheel"
done
