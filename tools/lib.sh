# shellcheck shell=bash
# The steps the project's scripts share (sourced, not run): their messages,
# commands as root, Debian packages, interpreters and their environments,
# and GoogleTest programs run under an emulator.
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

# Prepared roots, interpreters and downloads are kept between runs outside the
# clone, so that a second run on the same machine reuses them: $VELMO_CACHE,
# else ~/.cache/velmo.
cache_root=${VELMO_CACHE:-${XDG_CACHE_HOME:-$HOME/.cache}/velmo}

# Prints the cache directory of NAME made from INPUTS (strings, or files,
# which count by their contents): other inputs, another directory. What
# makes it marks it finished with `cache_done DIR`; `cache_ready DIR` tells.
cached_dir() {
    local name=$1 input key
    shift
    key=$(for input; do
        if [ -f "$input" ]; then sha256sum <"$input"; else printf '%s\n' "$input"; fi
    done | sha256sum | cut -c1-12)
    echo "$cache_root/$name-$key"
}
cache_ready() { [ -f "$1/.velmo-complete" ]; }
cache_done() { touch "$1/.velmo-complete"; }

# Messages go to standard error, so that a script's standard output carries
# its result alone (a wheel's path, for instance).
step() { printf '\n== %s\n' "$*" >&2; }
note() { printf '%s: %s\n' "$script_name" "$*" >&2; }
fail() {
    note "$@"
    exit 1
}

# Runs STEP-NAME's command and appends "STEP-NAME: N s" to the caller's
# `timings` array.
timed_step() {
    local name=$1 started=$SECONDS
    shift
    step "$name"
    "$@"
    timings+=("$name: $((SECONDS - started)) s")
}

as_root() {
    if [ "$(id -u)" -eq 0 ]; then "$@"; else sudo "$@"; fi
}

# True where apt-get exists and can be run as root.
can_apt_get() {
    command -v apt-get >/dev/null && { [ "$(id -u)" -eq 0 ] || command -v sudo >/dev/null; }
}

# Installs the Debian packages named, if any, printing only errors. Another
# apt-get holding the package lock is waited for.
apt_install() {
    [ $# -gt 0 ] || return 0
    note "installing $* with apt-get"
    as_root apt-get update -qq
    as_root env DEBIAN_FRONTEND=noninteractive apt-get install -y -qq \
        -o DPkg::Lock::Timeout=600 --no-install-recommends "$@" >/dev/null
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
# release, and fetches its lists; further arguments go to apt-get.
private_apt_sources() {
    local dir=$1 entry=$2 codename
    shift 2
    codename=$(. /etc/os-release && echo "$VERSION_CODENAME")
    mkdir -p "$dir/lists/partial" "$dir/cache/archives/partial"
    echo "$entry $codename main" >"$dir/sources.list"
    : >"$dir/status"
    private_apt "$dir" "$@" update -q >/dev/null
}

in_virtual_environment() {
    [ -n "${VIRTUAL_ENV:-}" ] && python -c 'import sys; sys.exit(sys.prefix == sys.base_prefix)' 2>/dev/null
}

# "MAJOR.MINOR" of the interpreter given.
python_version() {
    "$1" -c 'import sys; print("%d.%d" % sys.version_info[:2])'
}

# An interpreter of Python VERSION (e.g. 3.8), or nothing. Installed
# interpreters come first: a version manager's shim on the path is a shell
# script that starts many other programs.
find_python() {
    local version=$1 candidate
    for candidate in ~/.pyenv/versions/"$version".*/bin/python"$version" "$(command -v "python$version" || true)"; do
        [ -x "$candidate" ] || continue
        if [ "$(python_version "$candidate")" = "$version" ]; then
            echo "$candidate"
            return
        fi
    done
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

# "PASSED FAILED" from the log of one GoogleTest program run with
# --gtest_brief; a program that died before its summary counts as one failure.
gtest_counts() {
    local ok bad
    ok=$(sed -n 's/^\[  PASSED  \] \([0-9]*\) tests\?\.$/\1/p' "$1")
    bad=$(grep -c '^\[  FAILED  \] .* ([0-9]* ms)$' "$1" || true)
    [ -n "$ok" ] || [ "$bad" -gt 0 ] || bad=1
    echo "${ok:-0} $bad"
}

# Builds GoogleTest from Debian's sources (libgtest-dev) for TARGET into
# BUILD/googletest, once, with CONFIGURE (a cmake command line for the target
# that selects Ninja).
#
# Usage: build_googletest BUILD TARGET CONFIGURE...
build_googletest() {
    local build=$1 prefix=$1/googletest
    [ -f "$prefix/lib/cmake/GTest/GTestConfig.cmake" ] && return
    step "building GoogleTest for $2"
    "${@:3}" -S /usr/src/googletest -B "$build/googletest-build" -DBUILD_GMOCK=OFF \
        -DCMAKE_INSTALL_PREFIX="$prefix" -Wno-dev -Wno-deprecated >/dev/null
    ninja -C "$build/googletest-build" -j "$jobs" install >/dev/null
}

# Runs each GoogleTest PROGRAM through RUNNER (an emulator and its options),
# keeping its output in LOGS/<program>.log, and prints "LABEL: P passed, F
# failed" over them all. Fails when any program failed.
#
# Usage: run_gtest_programs LABEL LOGS RUNNER... -- PROGRAM...
run_gtest_programs() {
    local label=$1 logs=$2 runner=() program
    shift 2
    while [ "$1" != -- ]; do
        runner+=("$1")
        shift
    done
    shift
    local status=0 passed=0 failed=0 log ok bad rc
    for program; do
        step "$(basename "${runner[0]}") $(basename "$program")"
        log=$logs/$(basename "$program" .exe).log
        rc=0
        # Windows programs end their lines with CR LF.
        "${runner[@]}" "$program" --gtest_brief=1 </dev/null 2>&1 | tr -d '\r' | tee "$log" || rc=$?
        [ "$rc" -eq 0 ] || status=1
        read -r ok bad < <(gtest_counts "$log")
        passed=$((passed + ok))
        failed=$((failed + bad))
    done
    echo "$label: $passed passed, $failed failed"
    [ "$failed" -eq 0 ] || status=1
    return $status
}
