# shellcheck shell=bash disable=SC2034,SC2154
# (The variables set here are the sourcing scripts' to use; `build` is theirs to set.)
# Shared by tools/cross/aarch64/check.sh and tools/cross/aarch64/wheel.sh (sourced, not run).
#
# The arm64 side of a cross build on an x86-64 Debian machine: a sysroot of
# Debian's arm64 packages (C library, CPython and its headers), fetched with
# a private apt configuration that leaves the system's untouched, and the Zig
# toolchain that builds for it; both kept in the cache outside the clone.

script_name=aarch64
source "$(dirname "${BASH_SOURCE[0]}")/../../lib.sh"
python=${VELMO_PYTHON:-python}
# The arm64 CPython: the version of tools/targets.toml's qemu-aarch64 row,
# which the noxfile passes.
arm_python_version=${VELMO_ARM_PYTHON_VERSION:?the arm64 CPython version of tools/targets.toml: run through nox (nox -s aarch64-check)}
zig_target=${VELMO_ZIG_TARGET:-aarch64-linux-gnu.2.17}

# What an arm64 CPython needs to start, import ctypes and decimal (hypothesis),
# and build a module against (its headers).
arm_packages=(
    libc6 libgcc-s1 zlib1g libexpat1 libffi8 libbz2-1.0 liblzma5 libuuid1 libcrypt1
    libssl3 libsqlite3-0 libtinfo6 libncursesw6 libreadline8
    "python$arm_python_version-minimal" "libpython$arm_python_version-minimal"
    "libpython$arm_python_version-stdlib" "libpython$arm_python_version-dev"
)

# The sysroot, one per package list, archive and Debian release. The runs
# only read it: the interpreter is started with PYTHONDONTWRITEBYTECODE.
sysroot=$(cached_dir arm64-sysroot "${arm_packages[@]}" "$debian_archive" \
    "$(. /etc/os-release && echo "$VERSION_CODENAME")")
# zig's cache keys its entries by their own inputs, so one directory serves
# every zig version and target.
export ZIG_GLOBAL_CACHE_DIR=$cache_root/zig

fetch_sysroot() {
    cache_ready "$sysroot" && return
    step "fetching Debian's arm64 packages into $sysroot"
    local work arm64=(-o APT::Architecture=arm64 -o APT::Architectures::=arm64)
    work=$(mktemp -d "${TMPDIR:-/tmp}/velmo-arm64.XXXXXX")
    private_apt_sources "$work/apt" "deb [arch=arm64] $debian_archive" "${arm64[@]}"
    mkdir -p "$work/debs"
    (cd "$work/debs" && private_apt "$work/apt" "${arm64[@]}" download -q "${arm_packages[@]}" >/dev/null)
    rm -rf "$sysroot" && mkdir -p "$sysroot"
    for deb in "$work"/debs/*_arm64.deb; do dpkg-deb -x "$deb" "$sysroot"; done
    as_root rm -rf "$work"
    cache_done "$sysroot"
}

arm_python() { echo "$sysroot/usr/bin/python$arm_python_version"; }

# Python.h with the arm64 pyconfig.h beside it: Debian's own pyconfig.h picks
# the architecture's file from the multiarch include directory, which cannot
# be put on the include path without the rest of that glibc's headers.
python_headers() {
    local include=$build/python-include
    local source=$sysroot/usr/include/python$arm_python_version
    if [ ! -f "$include/Python.h" ]; then
        rm -rf "$include" && cp -r "$source" "$include"
        cp "$sysroot/usr/include/aarch64-linux-gnu/python$arm_python_version/pyconfig.h" "$include/"
    fi
    echo "$include"
}

ensure_build_tools() {
    # cmake and ninja from pip live beside that Python.
    PATH="$("$python" -c 'import sysconfig; print(sysconfig.get_path("scripts"))'):$PATH"
    "$python" -c 'import ziglang, wheel, auditwheel, scikit_build_core' 2>/dev/null && return
    step "installing ziglang, wheel, auditwheel and scikit-build-core into $("$python" -c 'import sys; print(sys.prefix)')"
    "$python" -m pip install --quiet ziglang wheel auditwheel scikit-build-core cmake ninja
}
