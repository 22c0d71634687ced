#!/usr/bin/env bash
# Writes a release into dist/ (or the directory given) and checks it: the
# sdist, the wheels this machine builds from it and cross-builds (x86-64 with
# zig, aarch64, Windows, musl: the scripts under tools/cross/), and SHA256SUMS.
#
# `build` writes the sdist and those wheels; the wheels of the rows that take
# their own (PyPy, free-threaded CPython) come next (tools/targets.py wheels).
# `check` then has every artifact pass `twine check --strict` and carry
# LICENSE, every stable-ABI wheel `abi3audit --strict`, each Linux wheel
# `auditwheel show` with its manylinux or musllinux tag, and writes
# SHA256SUMS. The noxfile's `release` session runs them, then the release's
# rows against these artifacts. The release tools get a virtual environment
# of their own under build/release.
#
# Usage: tools/release.sh build|check [dist directory]
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/lib.sh"

mode=${1:-}
dist=$(realpath -m "${2:-$root/dist}")
work=$root/build/release
python=${PYTHON:-python3}
release_tools=(build twine auditwheel abi3audit wheel ziglang "scikit-build-core>=0.11" "cmake>=3.26" ninja)

setup_tools() {
    step "release tools"
    [ -x "$work/tools/bin/python" ] || "$python" -m venv "$work/tools"
    pip_quietly "$work/tools/bin/python" -m pip install --quiet --upgrade pip
    pip_quietly "$work/tools/bin/python" -m pip install --quiet "${release_tools[@]}"
    PATH="$work/tools/bin:$PATH"
}

version() {
    "$work/tools/bin/python" -c \
        'import sys, tomllib; print(tomllib.load(open(sys.argv[1], "rb"))["project"]["version"])' \
        "$root/pyproject.toml"
}

build_sdist() {
    step "source distribution"
    python -m build --sdist --no-isolation --outdir "$dist" "$root" >/dev/null
    sdist=$dist/velmo_wrapper-$(version).tar.gz
    [ -f "$sdist" ] || fail "no $sdist"
    tar -tzf "$sdist" | sed 's|^[^/]*/||' | awk -F/ 'NF > 1 {print $1} NF == 1 {print}' | sort | uniq -c
}

# The x86-64 wheel is built from the sdist, which proves that the sdist holds
# what a build needs. zig links against glibc 2.17; the tag says so.
build_manylinux_wheel() {
    step "manylinux x86-64 wheel (zig, glibc 2.17)"
    local out=$work/wheel-x86_64
    rm -rf "$out"
    VELMO_ZIG_TARGET=x86_64-linux-gnu.2.17 pip_quietly python -m pip wheel --quiet --no-build-isolation --no-deps \
        -C cmake.define.CMAKE_TOOLCHAIN_FILE="$root/cmake/toolchains/zig.cmake" \
        -C build-dir="$work/zig-x86_64" -w "$out" "$sdist"
    python -m wheel tags --remove --platform-tag manylinux_2_17_x86_64 "$out"/*.whl >/dev/null
    mv "$out"/*manylinux_2_17_x86_64.whl "$dist/"
}

# Wheels for the platforms this machine cross-builds; each script prints the
# wheel's path last.
build_cross_wheel() {
    local wheel
    step "wheel of $1"
    wheel=$(bash "$root/$1" "$dist" "${@:2}" | tail -n 1)
    [ -f "$wheel" ] || fail "$1 wrote no wheel"
}

check_artifacts() {
    step "twine check, abi3audit, auditwheel show"
    twine check --strict "$dist"/velmo_wrapper-*.tar.gz "$dist"/velmo_wrapper-*.whl
    local wheel
    for wheel in "$dist"/velmo_wrapper-*-abi3-*.whl; do
        abi3audit --strict --summary "$wheel"
    done
    for wheel in "$dist"/velmo_wrapper-*linux_*.whl; do
        local expected report
        expected=$(basename "$wheel" .whl | cut -d- -f5)
        report=$(auditwheel show "$wheel" 2>&1) || fail "auditwheel show failed on $wheel: $report"
        # auditwheel wraps its lines; the tag sits on the line after "consistent".
        grep -q "\"$expected\"" <<<"$report" || fail "auditwheel does not report $expected for $wheel: $report"
        echo "$(basename "$wheel"): auditwheel reports $expected"
    done
}

# Every artifact carries LICENSE as it stands in the repository, and its
# metadata names it with the licence expression.
check_licences() {
    step "licence text and metadata"
    python - "$root/LICENSE" "$dist"/velmo_wrapper-*.tar.gz "$dist"/velmo_wrapper-*.whl <<'PYTHON'
import pathlib, sys, tarfile, zipfile

def licence_and_metadata(path):
    stem = "-".join(path.name.split("-")[:2]).removesuffix(".tar.gz")  # velmo_wrapper-V
    if path.name.endswith(".tar.gz"):
        with tarfile.open(path) as sdist:
            return [sdist.extractfile(f"{stem}/{name}").read() for name in ("LICENSE", "PKG-INFO")]
    with zipfile.ZipFile(path) as wheel:
        return [wheel.read(f"{stem}.dist-info/{name}") for name in ("licenses/LICENSE", "METADATA")]


licence = pathlib.Path(sys.argv[1]).read_bytes()
for path in map(pathlib.Path, sys.argv[2:]):
    try:
        text, metadata = licence_and_metadata(path)
    except KeyError:  # a member missing from the archive
        text, metadata = b"", b""
    headers = metadata.decode().split("\n\n")[0].splitlines()
    if text != licence or not {"License-Expression: MIT", "License-File: LICENSE"} <= set(headers):
        sys.exit(f"release: {path.name} lacks the licence text or its metadata fields")
    print(f"{path.name}: LICENSE ({len(text)} bytes), License-Expression: MIT")
PYTHON
}

write_checksums() {
    (cd "$dist" && sha256sum -- velmo_wrapper-*.tar.gz velmo_wrapper-*.whl >SHA256SUMS)
}

mkdir -p "$dist" "$work"
setup_tools
case $mode in
    build)
        # Only this project's artifacts are replaced; anything else in the directory stays.
        rm -f "$dist"/velmo_wrapper-* "$dist"/SHA256SUMS
        build_sdist
        build_manylinux_wheel
        build_cross_wheel tools/cross/aarch64/wheel.sh "$root/build/aarch64"
        build_cross_wheel tools/cross/windows/wheel.sh
        build_cross_wheel tools/cross/musl/wheel.sh "$root/build/musl"
        ;;
    check)
        check_artifacts
        check_licences
        write_checksums
        ;;
    *) fail "usage: $0 build|check [dist directory]" ;;
esac
