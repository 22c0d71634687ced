#!/usr/bin/env bash
# Writes a release into dist/ (or the directory given), checks it and tests it:
#
#   velmo_wrapper-V.tar.gz                                 the source distribution
#   velmo_wrapper-V-cp38-abi3-manylinux_2_17_x86_64.whl    built from that sdist with zig
#   velmo_wrapper-V-cp38-abi3-manylinux_2_17_aarch64.whl   tools/cross/aarch64/wheel.sh
#   velmo_wrapper-V-cp38-abi3-win_amd64.whl                tools/cross/windows/wheel.sh
#   SHA256SUMS
#
# Every artifact passes `twine check --strict` and carries LICENSE; every
# wheel `abi3audit --strict`; each Linux wheel `auditwheel show` with its
# manylinux tag. Then
# each Linux artifact that runs here is installed into a new virtual
# environment of CPython 3.8 and of 3.13 (from pyenv or PATH; a missing one is
# named and skipped) and the portable tests (golden values, the module's
# surface, the process list) run against it.
# The Windows wheel is installed by pip into Windows CPython 3.8 and 3.13
# under wine, and the whole Python suite runs there (tools/cross/windows/python_tests.sh).
# The aarch64 wheel's tests run under qemu in tools/cross/aarch64/check.sh.
# Ends with a table of the artifacts and their test counts.
#
# The release tools go into a virtual environment of their own under
# build/release; nothing is installed into the calling Python.
#
# Usage: tools/release.sh [dist directory]
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/lib.sh"

dist=$(realpath -m "${1:-$root/dist}")
work=$root/build/release
python=${PYTHON:-python3}
tested_pythons=(3.8 3.13)
release_tools=(build twine auditwheel abi3audit wheel ziglang "scikit-build-core>=0.11" "cmake>=3.26" ninja)

declare -A tag_of=() results_of=()

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
    tag_of[$sdist]=sdist
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
    manylinux_wheel=$(ls "$dist"/velmo_wrapper-*-manylinux_2_17_x86_64.whl)
    tag_of[$manylinux_wheel]=manylinux_2_17_x86_64
}

# Wheels for the platforms this machine cross-builds; each script prints the
# wheel's path last. Their tests run under an emulator, by the script named.
build_cross_wheel() {
    local tag=$1 tested_by=$2 wheel
    shift 2
    step "$tag wheel ($1)"
    wheel=$(bash "$root/$1" "$dist" "${@:2}" | tail -n 1)
    [ -f "$wheel" ] || fail "$1 wrote no wheel"
    tag_of[$wheel]=$tag
    results_of[$wheel]="tested by $tested_by"
}

check_artifacts() {
    step "twine check, abi3audit, auditwheel show"
    twine check --strict "$dist"/velmo_wrapper-*.tar.gz "$dist"/velmo_wrapper-*.whl
    local wheel
    for wheel in "$dist"/velmo_wrapper-*.whl; do
        abi3audit --strict --summary "$wheel"
    done
    for wheel in "$dist"/velmo_wrapper-*manylinux*.whl; do
        local expected=${tag_of[$wheel]} report
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

# Installs `artifact` into a new environment of `interpreter` and runs the
# portable tests there; records "passed/failed" or the reason
# it was skipped.
test_artifact() {
    local artifact=$1 version=$2 interpreter=$3 venv summary passed failed
    venv=$work/venv-$version-${tag_of[$artifact]}
    rm -rf "$venv"
    "$interpreter" -m venv "$venv"
    pip_quietly "$venv/bin/python" -m pip install --quiet pytest "$artifact"
    summary=$(cd "$root" && "$venv/bin/python" -m pytest -q -p no:cacheprovider -m portable 2>&1 | tail -n 1) || true
    echo "python $version, $(basename "$artifact"): $summary"
    passed=$(grep -oE '[0-9]+ passed' <<<"$summary" | cut -d' ' -f1 || true)
    failed=$(grep -oE '[0-9]+ (failed|errors?)' <<<"$summary" | awk '{n += $1} END {print n + 0}' || true)
    results_of[$artifact]+="${results_of[$artifact]:+, }py$version ${passed:-0} passed ${failed} failed"
    [ -n "$passed" ] && [ "$failed" -eq 0 ] || release_failed=1
}

test_linux_artifacts() {
    local version interpreter artifact
    for version in "${tested_pythons[@]}"; do
        interpreter=$(find_python "$version")
        if [ -z "$interpreter" ]; then
            echo "no Python $version on this machine: its tests are skipped"
            for artifact in "$sdist" "$manylinux_wheel"; do
                results_of[$artifact]+="${results_of[$artifact]:+, }py$version missing"
            done
            continue
        fi
        for artifact in "$sdist" "$manylinux_wheel"; do
            step "python $version: $(basename "$artifact")"
            test_artifact "$artifact" "$version" "$interpreter"
        done
    done
}

# The whole Python suite in Windows CPython 3.8 and 3.13 under wine, from the
# wheel installed by each interpreter's own pip.
test_windows_wheel() {
    local wheel log=$work/windows-python-tests.log
    wheel=$(ls "$dist"/velmo_wrapper-*-win_amd64.whl)
    step "Windows Python under wine: $(basename "$wheel")"
    bash "$root/tools/cross/windows/python_tests.sh" "$wheel" 2>&1 | tee "$log" || release_failed=1
    # "windows python 3.8.10: 116 passed, 0 failed, 10 skipped"
    results_of[$wheel]=$(sed -n 's/^windows python \([0-9.]*\): \(.*\)$/py\1 \2/p' "$log" |
        paste -sd ';' | sed 's/;/; /g')
    [ -n "${results_of[$wheel]}" ] || {
        results_of[$wheel]="no results"
        release_failed=1
    }
}

write_checksums() {
    (cd "$dist" && sha256sum -- velmo_wrapper-*.tar.gz velmo_wrapper-*.whl >SHA256SUMS)
}

print_table() {
    step "release in $dist"
    local artifact
    printf '%-62s %9s  %-24s %s\n' artifact bytes tag tests
    for artifact in "$dist"/velmo_wrapper-*.tar.gz "$dist"/velmo_wrapper-*.whl; do
        printf '%-62s %9s  %-24s %s\n' "$(basename "$artifact")" "$(stat -c %s "$artifact")" \
            "${tag_of[$artifact]:-?}" "${results_of[$artifact]:-not run here}"
    done
}

release_failed=0
# Only this project's artifacts are replaced; anything else in the directory stays.
rm -f "$dist"/velmo_wrapper-* "$dist"/SHA256SUMS
mkdir -p "$dist" "$work"
setup_tools
build_sdist
build_manylinux_wheel
build_cross_wheel manylinux_2_17_aarch64 "tools/cross/aarch64/check.sh (qemu)" \
    tools/cross/aarch64/wheel.sh "$root/build/aarch64"
build_cross_wheel win_amd64 "tools/cross/windows/python_tests.sh" tools/cross/windows/wheel.sh
check_artifacts
check_licences
test_linux_artifacts
test_windows_wheel
write_checksums
print_table
[ "$release_failed" -eq 0 ] || fail "some tests failed"
