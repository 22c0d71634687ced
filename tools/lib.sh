# shellcheck shell=bash
# The steps the project's scripts share (sourced, not run): their messages,
# commands as root, Debian packages, interpreters and their environments,
# a cache outside the clone, and GoogleTest built and run for cross targets.
#
# Needs bash and coreutils alone: run_tests.sh and install_and_run.sh source
# it on a machine that has only python3 and git.
#
# A script may set `script_name` before sourcing, the prefix of its notes and
# failures (default: its file name without .sh).

# shellcheck disable=SC2034  # the sourcing scripts' to use
{
    # The repository's top directory.
    root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
    # The interpreter that runs the tools (and whose environment they install into).
    python=${PYTHON:-python}
    debian_archive=${VELMO_DEBIAN_ARCHIVE:-http://deb.debian.org/debian}
    # Parallel jobs of the cross builds.
    jobs=${VELMO_JOBS:-2}
}
script_name=${script_name:-$(basename "$0" .sh)}

# The wheels and the sdist carry the last commit's time rather than the
# build's, so that two builds of one commit are the same bytes (the aarch64
# check's wheel and the release's, say).
if [ -z "${SOURCE_DATE_EPOCH:-}" ] && command -v git >/dev/null; then
    SOURCE_DATE_EPOCH=$(git -C "$root" log -1 --format=%ct 2>/dev/null || true)
    if [ -n "$SOURCE_DATE_EPOCH" ]; then export SOURCE_DATE_EPOCH; else unset SOURCE_DATE_EPOCH; fi
fi

# Prepared roots, interpreters and downloads are kept between runs outside the
# clone, so that a second run on the same machine reuses them: $VELMO_CACHE,
# else ~/.cache/velmo.
cache_root=${VELMO_CACHE:-${XDG_CACHE_HOME:-$HOME/.cache}/velmo}

# Prints the cache directory of NAME made from INPUTS (strings, or files,
# which count by their contents). What makes it marks it finished with
# `cache_done DIR`; `cache_ready DIR` tells, and when it answers no keeps
# DIR's lock until `cache_done` (or the script's end): runs that share the
# cache (two clones on one machine) never make one directory at once.
cached_dir() {
    local name=$1 input key
    shift
    key=$(for input; do
        if [ -f "$input" ]; then sha256sum <"$input"; else printf '%s\n' "$input"; fi
    done | sha256sum | cut -c1-12)
    echo "$cache_root/$name-$key"
}
cache_ready() {
    cache_unlock
    mkdir -p "$(dirname "$1")"
    exec {cache_lock}>"$1.lock"
    flock "$cache_lock"
    [ -f "$1/.velmo-complete" ] || return 1
    cache_unlock
}
cache_done() {
    touch "$1/.velmo-complete"
    cache_unlock
}
cache_unlock() {
    if [ -n "${cache_lock:-}" ]; then
        exec {cache_lock}>&-
        cache_lock=
    fi
}

# Messages go to standard error, so that a script's standard output carries
# its result alone (a wheel's path, for instance).
step() { printf '\n== %s\n' "$*" >&2; }
note() { printf '%s: %s\n' "$script_name" "$*" >&2; }
fail() {
    note "$@"
    exit 1
}

as_root() {
    if [ "$(id -u)" -eq 0 ]; then "$@"; else sudo "$@"; fi
}

# True where apt-get exists and can be run as root.
can_apt_get() {
    command -v apt-get >/dev/null && { [ "$(id -u)" -eq 0 ] || command -v sudo >/dev/null; }
}

# Installs the Debian packages named, if any, printing only errors. Another
# apt-get holding the package lock is waited for, and the project's own
# installs take turns (steps run side by side in CI), updates included.
apt_install() {
    [ $# -gt 0 ] || return 0
    note "installing $* with apt-get"
    as_root flock "${TMPDIR:-/tmp}/velmo-apt.lock" sh -c 'apt-get update -qq &&
        DEBIAN_FRONTEND=noninteractive apt-get install -y -qq \
        -o DPkg::Lock::Timeout=600 --no-install-recommends "$@" >/dev/null' sh "$@"
}

# apt-get under a configuration of its own in DIR, as private_apt_sources
# made it: its own sources, lists, package state and cache, so that the
# system's sources and package state stay untouched.
private_apt() {
    local dir=$1
    shift
    as_root apt-get -o "Dir::Etc::SourceList=$dir/sources.list" \
        -o "Dir::Etc::SourceParts=/nonexistent" -o "Dir::State::Lists=$dir/lists" \
        -o "Dir::State::status=$dir/status" -o "Dir::Cache=$dir/cache" \
        -o "APT::Sandbox::User=root" "$@"
}

# Makes DIR a private apt configuration whose one source is ENTRY (a sources
# line without its suite, e.g. "deb-src URL") for this machine's Debian
# release, or for the suite in VELMO_APT_SUITE, and fetches its lists;
# further arguments go to apt-get.
private_apt_sources() {
    local dir=$1 entry=$2 codename
    shift 2
    codename=${VELMO_APT_SUITE:-$(. /etc/os-release && echo "$VERSION_CODENAME")}
    mkdir -p "$dir/lists/partial" "$dir/cache/archives/partial"
    echo "$entry $codename main" >"$dir/sources.list"
    : >"$dir/status"
    private_apt "$dir" "$@" update -q >/dev/null
}

# Unpacks the source of Debian's package PINNED (PACKAGE=VERSION, or PACKAGE
# for the suite's own version) of SUITE into DIR, fetched through a private
# apt configuration and a download directory under WORK, kept for the next
# package of that suite. TAR-ARGUMENTs choose what to unpack.
#
# Usage: fetch_debian_source SUITE PINNED DIR WORK [TAR-ARGUMENT...]
fetch_debian_source() {
    local suite=$1 pinned=$2 dir=$3 apt=$4/apt-$1 downloads=$4/downloads-$1 tarball
    [ -d "$apt" ] || VELMO_APT_SUITE=$suite private_apt_sources "$apt" "deb-src $debian_archive"
    mkdir -p "$downloads" "$dir"
    (cd "$downloads" && private_apt "$apt" source --download-only -q "$pinned" >/dev/null)
    tarball=$(find "$downloads" -maxdepth 1 -name "${pinned%%=*}_*.orig.tar.*" | head -n 1)
    [ -n "$tarball" ] || fail "no source tarball for $pinned in $suite"
    tar -xf "$tarball" -C "$dir" --strip-components=1 "${@:5}"
}

in_virtual_environment() {
    [ -n "${VIRTUAL_ENV:-}" ] && python -c 'import sys; sys.exit(sys.prefix == sys.base_prefix)' 2>/dev/null
}

# "MAJOR.MINOR" of the interpreter given.
python_version() {
    "$1" -c 'import sys; print("%d.%d" % sys.version_info[:2])'
}

# Installs pyproject.toml's dependency GROUP into the environment of PYTHON
# (dependency groups need pip 25.1 or later).
pip_install_group() {
    "$1" -m pip install --quiet --upgrade "pip>=25.1"
    "$1" -m pip install --quiet --group "$2"
}

# Runs a command with pip's warnings about package locations configured on
# the machine but absent left out of its standard error.
pip_quietly() { "$@" 2> >(grep -v "^WARNING: Location '" >&2 || true); }

# A virtual environment of PYTHON at VENV with PACKAGEs, made once and kept
# while the modules IMPORTS names (a comma-separated list) import there.
#
# Usage: tools_venv VENV PYTHON IMPORTS PACKAGE...
tools_venv() {
    local venv=$1 python=$2 imports=$3
    shift 3
    "$venv/bin/python" -c "import $imports" 2>/dev/null && return
    step "installing $* into $venv"
    rm -rf "$venv"
    "$python" -m venv "$venv"
    # The pip that an interpreter's ensurepip brings (PyPy's) may be too old for -C.
    pip_quietly "$venv/bin/python" -m pip install --quiet --upgrade pip
    pip_quietly "$venv/bin/python" -m pip install --quiet "$@"
}

# Builds GoogleTest from Debian's sources (libgtest-dev) for TARGET with
# CONFIGURE (a cmake command line for TOOLCHAIN's target that selects Ninja)
# into the cache, once per TARGET, TOOLCHAIN file, COMPILER version,
# CONFIGURE's options (paths inside the clone counted without it, so that
# every clone shares the build) and GoogleTest's version; sets `googletest`
# to the installed package's directory (GTest_DIR).
#
# Usage: build_googletest TARGET TOOLCHAIN COMPILER CONFIGURE...
build_googletest() {
    local target=$1 configure=${*:4} prefix
    prefix=$(cached_dir "googletest-$target" "$2" "$3" \
        "$(dpkg-query -W -f '${Version}' libgtest-dev)" "${configure//"$root"/}")
    googletest=$prefix/lib/cmake/GTest
    cache_ready "$prefix" && return
    step "building GoogleTest for $target into $prefix"
    local work
    work=$(mktemp -d "${TMPDIR:-/tmp}/velmo-googletest.XXXXXX")
    rm -rf "$prefix"
    "${@:4}" -S /usr/src/googletest -B "$work" -DBUILD_GMOCK=OFF \
        -DCMAKE_INSTALL_PREFIX="$prefix" -Wno-dev -Wno-deprecated >/dev/null
    ninja -C "$work" -j "$jobs" install >/dev/null
    rm -rf "$work"
    cache_done "$prefix"
}

# The C++ tests of the platform and engine layers cross-built with the Zig
# toolchain for ZIG-TARGET through the CMake preset PRESET into BUILD/project,
# against GoogleTest built the same way (cached), and run with run_ctest
# (labelled PRESET). ZIG-PYTHON has ziglang; CMAKE-OPTIONs go to both builds.
#
# Usage: zig_ctest PRESET ZIG-TARGET BUILD ZIG-PYTHON [CMAKE-OPTION...]
zig_ctest() {
    local preset=$1 target=$2 build=$3 zig_python=$4
    local toolchain=$root/cmake/toolchains/zig.cmake
    local options=(-DVELMO_ZIG_TARGET="$target" -DVELMO_ZIG_PYTHON="$zig_python" "${@:5}")
    build_googletest "$target" "$toolchain" "$("$zig_python" -m ziglang version)" cmake -G Ninja \
        -DCMAKE_TOOLCHAIN_FILE="$toolchain" -DCMAKE_BUILD_TYPE=Release "${options[@]}"
    step "building the platform and engine layers and their tests for $target"
    (cd "$root" && cmake --preset "$preset" -B "$build/project" "${options[@]}" \
        -DGTest_DIR="$googletest" >/dev/null)
    ninja -C "$build/project" -j "$jobs" >/dev/null
    run_ctest "$preset" "$build/project"
}

# Fails when the module of WHEEL (unpacked into BUILD/module) or the engine
# library its build left in BUILD/wheel-build holds a fused multiply-add,
# as OBJDUMP disassembles them.
check_wheel_for_fma() {
    local wheel=$1 build=$2 objdump=$3
    step "checking the module and the engine for fused multiply-add"
    rm -rf "$build/module" && mkdir -p "$build/module"
    "$python" -m zipfile -e "$wheel" "$build/module"
    "$root/cmake/check_no_fma.sh" "$objdump" "$build/module/velmo_wrapper.abi3.so" \
        "$build/wheel-build/velmo-engine/libvelmo_engine.a"
}

# Runs the C++ tests built in BUILD with ctest, cross-built ones through the
# emulator that their toolchain file names. Prints the counts of ctest's JUnit
# report (BUILD/ctest.xml) as "LABEL C++: N passed, N failed, N skipped",
# read by tools/junit.py as pytest's are, and the tests skipped; when a test
# failed, all of ctest's output first. That output stays in BUILD/ctest.log.
# Fails when a test failed. CTEST-OPTIONs go to ctest; with --repeat
# until-pass:2 the tests that passed only when run again are named.
#
# Usage: run_ctest LABEL BUILD [CTEST-OPTION...]
run_ctest() {
    local label=$1 build=$2 status=0
    step "ctest: the $label C++ tests"
    ctest --test-dir "$build" --output-on-failure --output-junit "$build/ctest.xml" -j "$jobs" \
        "${@:3}" </dev/null >"$build/ctest.log" 2>&1 || status=$?
    # Windows programs end their lines with CR LF.
    sed -i 's/\r$//' "$build/ctest.log"
    [ "$status" -eq 0 ] || cat "$build/ctest.log"
    report_second_runs "$label" "$build/ctest.log"
    "$python" "$root/tools/junit.py" "$label C++" "$build/ctest.xml" || status=1
    return $status
}

# The tests that failed a run ("***Failed", "***Exception", "***Timeout"; a
# skip is "***Skipped") but are not in ctest's closing list of failures
# passed when run again.
report_second_runs() {
    local passed_again
    passed_again=$(awk '/^The following tests FAILED:/ {closing = 1; next}
                        closing && / - / {failed[$3] = 1; next}
                        /Test +#[0-9]+: .*\*\*\*(Failed|Exception|Timeout)/ {for (i = 1; i < NF; i++) if ($i ~ /^#[0-9]+:$/) seen[$(i + 1)] = 1}
                        END {for (t in seen) if (!(t in failed)) print t}' "$2" | sort | tr '\n' ' ')
    [ -z "$passed_again" ] || echo "$1 C++: failed once, passed when run again: $passed_again"
}

# Retags the one wheel in STAGING for PLATFORM, a manylinux or musllinux tag (pip names a
# wheel after the machine that built it), has auditwheel confirm that tag,
# moves the wheel to OUT and prints its path. PYTHON has the `wheel` package,
# AUDIT_PYTHON auditwheel.
#
# Usage: publish_manylinux_wheel STAGING PLATFORM OUT PYTHON AUDIT_PYTHON
publish_manylinux_wheel() {
    local staging=$1 platform=$2 out=$3 wheel report
    "$4" -m wheel tags --platform-tag "$platform" --remove "$staging"/*.whl >&2
    wheel=$(ls "$staging"/*-"$platform".whl) || fail "no $platform wheel was made"
    report=$("$5" -m auditwheel show "$wheel")
    echo "$report" >&2
    grep -q "\"$platform\"" <<<"$report" || fail "auditwheel does not confirm $platform"
    rm -f "$out/$(basename "$wheel")"
    mv "$wheel" "$out/"
    echo "$out/$(basename "$wheel")"
}
