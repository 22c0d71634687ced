#!/usr/bin/env bash
# aarch64 Linux check: cross-builds the platform and engine layers with their
# C++ tests and the wheel with the Zig toolchain, runs the tests with ctest
# under qemu-aarch64 (the toolchain file names it as the emulator), checks
# the engine and the module for fused multiply-add instructions. The wheel
# goes to BUILD/dist and the sysroot is linked as BUILD/sysroot, for the
# qemu-aarch64 row of tools/targets.toml, which the noxfile's aarch64-check
# session runs next from that very wheel. Missing Debian packages are
# installed with apt-get; the sysroot, zig's cache and the GoogleTest build
# are kept outside the clone.
#
# Usage: tools/cross/aarch64/check.sh [build directory]   (default: build/aarch64)
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/common.sh"

build=$(realpath -m "${1:-$root/build/aarch64}")
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

ensure_packages
mkdir -p "$build"
ensure_build_tools
fetch_sysroot
ln -sfn "$sysroot" "$build/sysroot"
status=0
zig_ctest aarch64 "$zig_target" "$build" "$(command -v "$python")" \
    -DVELMO_TARGET_SYSROOT="$sysroot" || status=1

step "building the wheel"
wheel=$("$root/tools/cross/aarch64/wheel.sh" "$build/dist" "$build" | tail -n 1)
echo "wheel: $wheel"
check_wheel_for_fma "$wheel" "$build" "$objdump" || status=1
[ "$status" -eq 0 ] && echo "aarch64 build: passed" || echo "aarch64 build: FAILED" >&2
exit $status
