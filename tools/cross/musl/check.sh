#!/usr/bin/env bash
# The source build for musl, checked here: the platform and engine layers and
# their C++ tests built with the Zig toolchain for x86_64-linux-musl and run
# by ctest on this machine (zig links musl's programs statically), and the
# musllinux wheel's module checked for fused multiply-add.
#
# Usage: tools/cross/musl/check.sh [build directory]   (default: build/musl)
set -euo pipefail
script_name="musl check"
source "$(dirname "${BASH_SOURCE[0]}")/../../lib.sh"

build=$(realpath -m "${1:-$root/build/musl}")
mkdir -p "$build"

# The wheel first: its script makes the environment with zig and the build
# tools that the tests' build borrows.
step "building the wheel"
wheel=$(bash "$root/tools/cross/musl/wheel.sh" "$build/dist" "$build" | tail -n 1)
PATH="$build/venv/bin:$PATH"
export ZIG_GLOBAL_CACHE_DIR=$cache_root/zig

[ -f /usr/src/googletest/CMakeLists.txt ] || apt_install libgtest-dev
status=0
zig_ctest musl x86_64-linux-musl "$build" "$build/venv/bin/python" || status=1
check_wheel_for_fma "$wheel" "$build" objdump || status=1
[ "$status" -eq 0 ] && echo "musl check: passed" || echo "musl check: FAILED" >&2
exit $status
