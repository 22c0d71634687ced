#!/usr/bin/env bash
# Runs every test: the C++ tests of the platform and engine layers, then the
# Python tests of the module, installed into the current Python environment.
set -euo pipefail
cd "$(dirname "$0")"

generator=()
if command -v ninja >/dev/null 2>&1; then generator=(-G Ninja); fi

cmake -S . -B build/tests "${generator[@]}" \
  -DCMAKE_BUILD_TYPE=Release -DVELMO_BUILD_TESTS=ON -DVELMO_BUILD_MODULE=OFF >/dev/null
cmake --build build/tests -j "$(nproc)"
ctest --test-dir build/tests --output-on-failure -j "$(nproc)"

python -m pip install --quiet -r requirements-test.txt
python -m pip install --quiet --no-build-isolation .
python -m pytest -q "$@"
