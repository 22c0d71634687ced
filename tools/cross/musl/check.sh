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
toolchain=$root/cmake/toolchains/zig.cmake
zig_target=x86_64-linux-musl
mkdir -p "$build"

# The wheel first: its script makes the environment with zig and the build
# tools that the tests' build borrows.
step "building the wheel"
wheel=$(bash "$root/tools/cross/musl/wheel.sh" "$build/dist" "$build" | tail -n 1)
python=$build/venv/bin/python
PATH="$build/venv/bin:$PATH"
export ZIG_GLOBAL_CACHE_DIR=$cache_root/zig

[ -f /usr/src/googletest/CMakeLists.txt ] || apt_install libgtest-dev
# shellcheck disable=SC2329  # run through build_googletest
zig_configure() {
    cmake -G Ninja -DCMAKE_TOOLCHAIN_FILE="$toolchain" -DVELMO_ZIG_TARGET="$zig_target" \
        -DVELMO_ZIG_PYTHON="$python" -DCMAKE_BUILD_TYPE=Release "$@" >/dev/null
}
build_googletest "$zig_target" "$toolchain" "$("$python" -m ziglang version)" -- zig_configure

step "building the platform and engine layers and their tests for $zig_target"
(cd "$root" && cmake --preset musl -B "$build/project" -DVELMO_ZIG_PYTHON="$python" \
    -DGTest_DIR="$googletest" >/dev/null)
ninja -C "$build/project" -j "$jobs" >/dev/null
status=0
run_ctest musl "$build/project" || status=1

step "checking the module and the engine for fused multiply-add"
rm -rf "$build/module" && mkdir -p "$build/module"
"$python" -m zipfile -e "$wheel" "$build/module"
"$root/cmake/check_no_fma.sh" objdump "$build/module/velmo_wrapper.abi3.so" \
    "$build/wheel-build/velmo-engine/libvelmo_engine.a" || status=1
[ "$status" -eq 0 ] && echo "musl check: passed" || echo "musl check: FAILED" >&2
exit $status
