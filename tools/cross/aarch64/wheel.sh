#!/usr/bin/env bash
# The aarch64 Linux wheel, cross-built on x86-64 with the Zig toolchain for
# glibc 2.17 (the oldest glibc that has an aarch64 port, so also the lowest
# manylinux floor there is), against the headers of Debian's arm64 CPython.
#
# Usage: tools/cross/aarch64/wheel.sh OUTDIR [build directory]   (default: build/aarch64)
# Prints the wheel's path as the last line of standard output.
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/common.sh"

[ $# -ge 1 ] || fail "usage: $0 OUTDIR [build directory]"
out=$(realpath -m "$1")
build=$(realpath -m "${2:-$root/build/aarch64}")
platform_tag=manylinux_2_17_aarch64

mkdir -p "$build" "$out"
ensure_build_tools >&2
fetch_sysroot >&2
include=$(python_headers)

step "building the wheel for $zig_target"
staging=$build/wheel-staging
rm -rf "$staging" && mkdir -p "$staging"
(cd "$root" && VELMO_ZIG_TARGET=$zig_target \
    "$python" -m pip wheel . --no-build-isolation --no-deps --quiet -w "$staging" \
    -C cmake.define.CMAKE_TOOLCHAIN_FILE="$root/cmake/toolchains/zig.cmake" \
    -C cmake.define.Python_INCLUDE_DIR="$include" \
    -C build-dir="$build/wheel-build") >&2

# The module inside is aarch64 code linked against glibc 2.17, which
# auditwheel confirms.
publish_manylinux_wheel "$staging" "$platform_tag" "$out" "$python" "$python"
