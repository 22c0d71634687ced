#!/usr/bin/env bash
# aarch64 Linux check: cross-builds the platform and engine layers with their
# C++ tests and the wheel with the Zig toolchain, runs the tests with ctest
# under qemu-aarch64 (the toolchain file names it as the emulator), checks
# the engine and the module for fused multiply-add instructions. The wheel
# goes to BUILD/dist and the sysroot is linked as BUILD/sysroot, for the
# qemu-aarch64 row of tools/targets.toml, which the noxfile's aarch64-check
# session runs next: the module's golden-value and surface tests from that
# very wheel, installed by name from a local index, in Debian's arm64
# CPython, also under qemu-aarch64.
#
# Needs Debian's qemu-user, binutils-aarch64-linux-gnu (objdump), libgtest-dev
# (sources in /usr/src/googletest) and ninja-build; missing packages are
# installed with apt-get (through sudo when not root). The arm64 C library
# and CPython are unpacked from Debian's arm64 packages into a private
# sysroot; ziglang, pytest, hypothesis, pypiserver and twine come from PyPI.
# The sysroot, zig's cache and the GoogleTest build are kept outside the
# clone, the other builds in the build directory, and reused.
#
# Usage: tools/cross/aarch64/check.sh [build directory]   (default: build/aarch64)
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/common.sh"

build=$(realpath -m "${1:-$root/build/aarch64}")
toolchain=$root/cmake/toolchains/zig.cmake
objdump=aarch64-linux-gnu-objdump
# The emulator finds the arm64 loader and libraries in the sysroot, and so do
# the child interpreters that the Python tests start through it.
export QEMU_LD_PREFIX=$sysroot

ensure_packages() {
    local missing=()
    command -v qemu-aarch64 >/dev/null || missing+=(qemu-user)
    command -v $objdump >/dev/null || missing+=(binutils-aarch64-linux-gnu)
    [ -f /usr/src/googletest/CMakeLists.txt ] || missing+=(libgtest-dev)
    command -v ninja >/dev/null || missing+=(ninja-build)
    apt_install "${missing[@]}"
}

# The configure command of the GoogleTest build (build_googletest runs it).
# shellcheck disable=SC2329  # run through build_googletest
zig_configure() {
    cmake -G Ninja -DCMAKE_TOOLCHAIN_FILE="$toolchain" -DVELMO_ZIG_TARGET="$zig_target" \
        -DVELMO_ZIG_PYTHON="$(command -v "$python")" -DVELMO_TARGET_SYSROOT="$sysroot" \
        -DCMAKE_BUILD_TYPE=Release "$@" >/dev/null
}

build_tests() {
    step "building the platform and engine layers and their tests"
    (cd "$root" && cmake --preset aarch64 -B "$build/project" -DVELMO_ZIG_TARGET="$zig_target" \
        -DVELMO_ZIG_PYTHON="$(command -v "$python")" -DVELMO_TARGET_SYSROOT="$sysroot" \
        -DGTest_DIR="$googletest" >/dev/null)
    ninja -C "$build/project" -j "$jobs" >/dev/null
}

unpack_wheel() {
    local wheel=$1
    rm -rf "$build/module" && mkdir -p "$build/module"
    "$python" -m zipfile -e "$wheel" "$build/module"
}

check_no_fma() {
    step "checking the module and the engine for fused multiply-add"
    "$root/cmake/check_no_fma.sh" "$objdump" "$build/module/velmo_wrapper.abi3.so" \
        "$build/wheel-build/velmo-engine/libvelmo_engine.a"
}

ensure_packages
mkdir -p "$build"
ensure_build_tools
fetch_sysroot
ln -sfn "$sysroot" "$build/sysroot"
build_googletest "$zig_target" "$toolchain" "$("$python" -m ziglang version)" -- zig_configure
build_tests
status=0
run_ctest aarch64 "$build/project" || status=1

step "building the wheel"
wheel=$("$root/tools/cross/aarch64/wheel.sh" "$build/dist" "$build" | tail -n 1)
echo "wheel: $wheel"
unpack_wheel "$wheel"
check_no_fma || status=1
[ "$status" -eq 0 ] && echo "aarch64 build: passed" || echo "aarch64 build: FAILED" >&2
exit $status
