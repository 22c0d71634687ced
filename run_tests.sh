#!/usr/bin/env bash
# Runs every test: the C++ tests of the platform and engine layers, then the
# Python tests of the module.
#
# Sets up what it needs: a virtual environment (the active one, else
# build/venv, made here) with the module and pyproject.toml's `test` group of
# packages, and GoogleTest (with libfaketime, for the wall-clock tests) from
# the system's packages, installed with apt-get where it exists (through sudo
# when not root). Elsewhere it names what to install and stops.
set -euo pipefail
source "$(dirname "$0")/tools/lib.sh"
cd "$root"

have_gtest() {
    local prefix
    for prefix in /usr /usr/local ${GTEST_ROOT:+"$GTEST_ROOT"}; do
        [ -f "$prefix/include/gtest/gtest.h" ] && return 0
    done
    return 1
}

have_faketime() {
    compgen -G "/usr/lib/*/faketime/libfaketime.so.1" >/dev/null ||
        [ -f /usr/lib/faketime/libfaketime.so.1 ]
}

install_system_packages() {
    local missing=()
    have_gtest || missing+=(libgtest-dev)
    have_faketime || missing+=(libfaketime)
    [ ${#missing[@]} -gt 0 ] || return 0
    if can_apt_get; then
        apt_install "${missing[@]}"
    elif ! have_gtest; then
        note "GoogleTest is missing. Install your system's GoogleTest development"
        echo "package (Debian and Ubuntu: libgtest-dev; Fedora: gtest-devel; Arch: gtest)" >&2
        echo "or point GTEST_ROOT at an installed GoogleTest, then run this again." >&2
        exit 1
    fi
}

install_system_packages
if ! in_virtual_environment; then
    [ -x build/venv/bin/python ] || python3 -m venv build/venv
    # shellcheck source=/dev/null
    source build/venv/bin/activate
fi
pip_install_group python test

generator=()
if command -v ninja >/dev/null 2>&1; then generator=(-G Ninja); fi

# CMakePresets.json's `tests`: the C++ tests into build/tests, ctest's
# JUnit report into build/tests/ctest.xml.
cmake --preset tests "${generator[@]}" >/dev/null
cmake --build --preset tests -j "$(nproc)"
ctest --preset tests -j "$(nproc)"

python -m pip install --quiet --no-build-isolation .
python -m pytest -q "$@"
