#!/usr/bin/env bash
# Builds the Windows wheel on Linux: velmo_wrapper-<version>-cp38-abi3-win_amd64.whl.
# The project's own build backend (scikit-build-core) runs as for the Linux
# wheel, with the mingw-w64 cross toolchain, and _PYTHON_HOST_PLATFORM names
# the target for the wheel's tag; so the metadata, the stubs and RECORD come
# as they do there.
#
# Usage: tools/cross/windows/wheel.sh OUTDIR   (prints the wheel's path as its last line)
set -euo pipefail

[ $# -eq 1 ] || {
    echo "usage: $0 OUTDIR" >&2
    exit 2
}
outdir=$(realpath -m "$1")
build=
source "$(dirname "${BASH_SOURCE[0]}")/common.sh"

ensure_build_backend() {
    "$python" -c 'import scikit_build_core' 2>/dev/null && return
    step "installing scikit-build-core"
    "$python" -m pip install --quiet "scikit-build-core>=0.11"
}

build_wheel() {
    step "building the Windows wheel"
    local staging
    staging=$(mktemp -d "$build/wheel-out.XXXXXX")
    env _PYTHON_HOST_PLATFORM=win-amd64 CMAKE_GENERATOR=Ninja CMAKE_BUILD_PARALLEL_LEVEL="$jobs" \
        "$python" -m pip wheel --quiet --no-build-isolation --no-deps --no-cache-dir "$root" -w "$staging" \
        -C build-dir="$build/wheel" \
        -C cmake.define.CMAKE_TOOLCHAIN_FILE="$toolchain" \
        -C cmake.define.VELMO_PYTHON_INCLUDE_DIRS="$python_source/include" \
        -C cmake.define.VELMO_PYTHON3_LIBRARY="$python_source/libpython3.a"
    local wheels=("$staging"/velmo_wrapper-*-cp38-abi3-win_amd64.whl)
    [ -f "${wheels[0]}" ] || fail "no win_amd64 wheel was built: $(ls "$staging")"
    mkdir -p "$outdir"
    wheel=$outdir/$(basename "${wheels[0]}")
    mv -f "${wheels[0]}" "$wheel"
    rm -rf "$staging"
}

prepare_python_build
ensure_build_backend
build_wheel
echo "$wheel"
