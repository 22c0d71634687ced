#!/usr/bin/env bash
# The manylinux x86-64 wheel for an interpreter without the stable ABI (a
# PyPy, a free-threaded CPython): its own extension, built with the Zig
# toolchain for glibc 2.17 as the cp38-abi3 wheel is, against the headers of
# the interpreter given, and tagged for it (pp39-pypy39_pp73, cp313-cp313t).
#
# Usage: tools/cross/full_api/wheel.sh PYTHON OUTDIR [SOURCE [build directory]]
#   PYTHON  the interpreter, e.g. pypy3 (with its headers: Debian's pypy3-dev)
#   SOURCE  an sdist or a source tree (default: this checkout)
# Prints the wheel's path as the last line of standard output. The build
# tools live in environments under the build directory (default:
# build/full_api/<its tag>).
set -euo pipefail
script_name="full-API wheel"
source "$(dirname "${BASH_SOURCE[0]}")/../../lib.sh"

[ $# -ge 2 ] || fail "usage: $0 PYTHON OUTDIR [SOURCE [build directory]]"
interpreter=$(command -v "$1") || fail "no interpreter $1"
out=$(realpath -m "$2")
source_path=$(realpath -m "${3:-$root}")
platform_tag=manylinux_2_17_x86_64

# pip's tags for it: pp<language version>-<SOABI with underscores> for a
# PyPy, cp<version>-cp<version><ABI flags> for a CPython.
interpreter_tag=$("$interpreter" -c '
import sys, sysconfig
version = "%d%d" % sys.version_info[:2]
if sys.implementation.name == "pypy":
    print("pp%s-%s" % (version, sysconfig.get_config_var("SOABI").replace("-", "_")))
elif sysconfig.get_config_var("Py_GIL_DISABLED"):
    print("cp%s-cp%s%s" % (version, version, sys.abiflags))
else:
    sys.exit("%s has the stable ABI: its wheel is the cp38-abi3 one" % sys.executable)
') || fail "no wheel of its own for $interpreter"
build=$(realpath -m "${4:-$root/build/full_api/$interpreter_tag}")
mkdir -p "$build" "$out"

# The build tools, in an environment of this interpreter. auditwheel does not
# run on PyPy (its zlib lacks constants auditwheel reads): it runs from an
# environment of the host's CPython.
venv=$build/venv audit_venv=$build/audit-venv
tools_venv "$venv" "$interpreter" ziglang,wheel,scikit_build_core ziglang wheel scikit-build-core cmake ninja
tools_venv "$audit_venv" "${VELMO_PYTHON:-python3}" auditwheel auditwheel

python=$venv/bin/python
PATH="$venv/bin:$PATH"

step "building the $interpreter_tag wheel with zig for glibc 2.17"
staging=$build/wheel-staging
rm -rf "$staging" && mkdir -p "$staging"
VELMO_ZIG_TARGET=x86_64-linux-gnu.2.17 ZIG_GLOBAL_CACHE_DIR=$build/zig-cache \
    pip_quietly "$python" -m pip wheel "$source_path" --no-build-isolation --no-deps --quiet -w "$staging" \
    -C cmake.define.CMAKE_TOOLCHAIN_FILE="$root/cmake/toolchains/zig.cmake" \
    -C build-dir="$build/wheel-build" >&2

# The module inside is linked against glibc 2.17, which auditwheel confirms.
publish_manylinux_wheel "$staging" "$platform_tag" "$out" "$python" "$audit_venv/bin/python"
