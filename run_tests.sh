#!/usr/bin/env bash
# Runs every test: the C++ tests of the platform and engine layers, then the
# Python tests of the module, installed into the current Python environment.
# Needs GoogleTest (Debian: libgtest-dev); installs the Python packages itself.
set -euo pipefail
cd "$(dirname "$0")"

python -m pip install --quiet -r requirements-test.txt
# The pip-installed cmake and ninja live beside this Python.
PATH="$(python -c 'import sysconfig; print(sysconfig.get_path("scripts"))'):$PATH"

generator=()
if command -v ninja >/dev/null 2>&1; then generator=(-G Ninja); fi

cmake -S . -B build/tests "${generator[@]}" \
  -DCMAKE_BUILD_TYPE=Release -DVELMO_BUILD_TESTS=ON -DVELMO_BUILD_MODULE=OFF >/dev/null
cmake --build build/tests -j "$(nproc)"
ctest --test-dir build/tests --output-on-failure -j "$(nproc)"

python -m pip install --quiet --no-build-isolation .
python -m pytest -q "$@"
