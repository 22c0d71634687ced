#!/usr/bin/env bash
# The Python suite on the newest CPython releases and on a debug build, from
# Debian's unstable suite: 3.14, 3.15, and 3.15's debug build (Py_DEBUG, whose
# C API checks its callers at run time) under `-X dev -W error::ResourceWarning`
# with the allocator's debug hooks (PYTHONMALLOC=debug). On the debug build the
# binding fuzz test then makes its calls at a larger size.
#
# These interpreters need a newer C library than a stable system has, so they
# run in an unstable root under build/unstable-root, made once with debootstrap
# (installed with apt-get when missing) from the mirror that this machine's
# apt uses, and reused after. The machine's CA bundle and pip configuration
# are copied in, so that pip inside reaches the same package index.
#
# The module comes from the wheel given, or the manylinux x86-64 wheel in the
# dist directory given, else from a wheel that `pip wheel` builds here. Each
# interpreter gets a new environment with that wheel and the test packages.
#
# Ends with one line per interpreter, "python3.15-dbg: N passed, 0 failed, K
# skipped", the fuzz figures and the time of each step.
#
# Usage: tools/unstable_pythons.sh [wheel or dist directory]
# Environment: PYTHON (default python3), VELMO_UNSTABLE_FUZZ_EXAMPLES (3000,
# about 10^5 calls), VELMO_UNSTABLE_MIRROR (a Debian mirror to use instead).
set -euo pipefail
script_name="unstable pythons"
source "$(dirname "${BASH_SOURCE[0]}")/lib.sh"

target=$root/build/unstable-root
work=$root/build/unstable
python=${PYTHON:-python3}
fuzz_examples=${VELMO_UNSTABLE_FUZZ_EXAMPLES:-3000}
interpreters=(python3.14 python3.15 python3.15-dbg)
# The interpreters, and what the suite needs besides the Python packages: a C
# compiler for the preloaded libraries, libfaketime for the wall-clock tests.
packages=(python3.14 python3.14-venv python3.15 python3.15-venv python3.15-dbg gcc libc6-dev libfaketime)
python_packages=(pytest hypothesis mypy)
ready=$target/.velmo-ready

timings=()
summaries=()
# The debug build runs under -X dev with resource warnings as errors. pytest
# reports a resource warning raised while an object is collected as an
# unraisable exception; its option makes that a failure too.
debug_python_options="-X dev -W error::ResourceWarning"
debug_pytest_options="-W error::pytest.PytestUnraisableExceptionWarning"

# The Debian archive this machine's apt uses: its first suite without a dash
# (not -updates, not -security).
host_mirror() {
    local uri
    # shellcheck disable=SC2016 # apt's own placeholders
    uri=$(apt-get indextargets --format '$(REPO_URI) $(RELEASE)' 2>/dev/null |
        awk '$2 !~ /-/ { print $1; exit }')
    if [ -z "$uri" ]; then
        uri=$(cat /etc/apt/sources.list /etc/apt/sources.list.d/*.list \
            /etc/apt/sources.list.d/*.sources 2>/dev/null |
            awk '/^URIs:/ { print $2 } /^deb / { for (i = 2; i <= NF; i++) if ($i ~ /:\/\//) { print $i; break } }' |
            grep -E '/debian/?$' | head -n 1 || true)
    fi
    [ -n "$uri" ] || fail "no Debian mirror in this machine's apt sources; set VELMO_UNSTABLE_MIRROR"
    echo "$uri"
}

mounted=0
mount_proc() {
    mount -t proc proc "$target/proc"
    mounted=1
}
unmount_proc() {
    if [ "$mounted" -eq 1 ]; then
        umount "$target/proc" || umount -l "$target/proc"
        mounted=0
    fi
}
trap unmount_proc EXIT

# Runs a command in the root with a clean environment: the machine's pip
# settings and CA variables pass, its paths and virtual environment do not.
in_root() {
    local variables=(HOME=/root PATH=/usr/local/sbin:/usr/local/bin:/usr/sbin:/usr/bin:/sbin:/bin
        LANG=C.UTF-8 DEBIAN_FRONTEND=noninteractive)
    local name
    while IFS= read -r name; do
        variables+=("$name=${!name}")
    done < <(compgen -e | grep -E '^(PIP_|SSL_CERT_FILE$|REQUESTS_CA_BUNDLE$|CURL_CA_BUNDLE$)' || true)
    chroot "$target" env -i "${variables[@]}" "$@"
}

# The CA bundle pip uses here and the pip configuration files, copied to the
# same paths in the root.
copy_pip_setup() {
    local bundle file
    bundle=${PIP_CERT:-$("$python" -m pip config get global.cert 2>/dev/null || true)}
    if [ -z "$bundle" ]; then
        bundle=$("$python" -c 'import pip._vendor.certifi as c; print(c.where())' 2>/dev/null || true)
    fi
    for file in "$bundle" /etc/ssl/certs/ca-certificates.crt /etc/pip.conf /etc/xdg/pip/* \
        "${XDG_CONFIG_HOME:-$HOME/.config}"/pip/* "$HOME"/.pip/pip.conf ${PIP_CONFIG_FILE:+"$PIP_CONFIG_FILE"}; do
        [ -n "$file" ] && [ -f "$file" ] || continue
        mkdir -p "$target$(dirname "$file")"
        cp -L "$file" "$target$file"
    done
}

make_root() {
    if [ -f "$ready" ]; then
        echo "reusing $target"
        return
    fi
    command -v debootstrap >/dev/null || apt_install debootstrap
    local mirror=${VELMO_UNSTABLE_MIRROR:-$(host_mirror)}
    echo "debootstrap unstable from $mirror"
    # A root left half made by an earlier run is made again.
    if mountpoint -q "$target/proc"; then umount "$target/proc"; fi
    rm -rf "$target"
    debootstrap --variant=minbase unstable "$target" "$mirror" >"$root/build/debootstrap.log" 2>&1 ||
        fail "debootstrap failed; its log: build/debootstrap.log"
    # The unstable suite's Release files are short-lived; a mirror may hold
    # one past its date.
    printf 'Acquire::Check-Valid-Until "false";\n' >"$target/etc/apt/apt.conf.d/99velmo-valid-until"
    mount_proc
    in_root apt-get update -qq
    in_root apt-get install -y -qq --no-install-recommends "${packages[@]}" >/dev/null
    unmount_proc
    touch "$ready"
}

# The wheel to test: the one given, the manylinux x86-64 wheel of the dist
# directory given, or one built here.
find_wheel() {
    local given=${1:-}
    if [ -f "$given" ]; then
        wheel=$(realpath "$given")
    elif [ -d "$given" ]; then
        wheel=$(find "$given" -maxdepth 1 -name 'velmo_wrapper-*-manylinux_2_17_x86_64.whl' | head -n 1)
        [ -n "$wheel" ] || fail "no manylinux x86-64 wheel in $given"
    else
        rm -rf "$work/wheel"
        pip_quietly "$python" -m pip wheel --quiet --no-build-isolation --no-deps "$root" -w "$work/wheel"
        wheel=$(find "$work/wheel" -maxdepth 1 -name 'velmo_wrapper-*.whl' | head -n 1)
    fi
    echo "wheel: $wheel"
}

# The tracked files of the work tree (the tests read the docs, the examples,
# the stubs and the sources), and the wheel, under /velmo in the root.
copy_tree_and_wheel() {
    rm -rf "$target/velmo"
    mkdir -p "$target/velmo/src" "$target/velmo/wheel"
    git -C "$root" ls-files -z --cached --others --exclude-standard |
        (cd "$root" && xargs -0 tar --ignore-failed-read -cf - 2>/dev/null) |
        tar -xf - -C "$target/velmo/src"
    cp "$wheel" "$target/velmo/wheel/"
    copy_pip_setup
}

install_into_new_environment() {
    local interpreter=$1 environment=/velmo/env-$1
    in_root "$interpreter" -m venv "$environment"
    pip_quietly in_root "$environment/bin/python" -m pip install --quiet "${python_packages[@]}" \
        "/velmo/wheel/$(basename "$wheel")"
    in_root "$environment/bin/python" -c 'import sys, velmo_wrapper; print(sys.version, velmo_wrapper.__file__)'
}

# The whole suite but the wheel's own checks, which build a wheel from the
# sources (twine, abi3audit and auditwheel check the release's wheel under
# test in tools/release.sh); its summary line goes to summaries.
run_suite() {
    local interpreter=$1 log=$work/suite-$1.log line
    shift
    local status=0 options=() more=()
    if [[ $interpreter == *-dbg ]]; then
        read -r -a options <<<"$debug_python_options"
        read -r -a more <<<"$debug_pytest_options"
    fi
    in_root env "$@" sh -c "$from_the_tree" "/velmo/env-$interpreter/bin/python" \
        "${options[@]}" -m pytest -q -p no:cacheprovider -rs "${more[@]}" -m "not builds_wheel" \
        >"$log" 2>&1 || status=$?
    # One left for the interpreter's exit, after the summary, fails the run as well.
    if [ -n "${options[*]}" ] && grep -q ResourceWarning "$log"; then
        grep -B2 -A2 ResourceWarning "$log"
        status=1
    fi
    grep -E '^SKIPPED|^FAILED|^ERROR' "$log" || true
    line=$(tail -n 1 "$log")
    echo "$interpreter: $line"
    summaries+=("$interpreter: $(counts "$line")")
    [ "$status" -eq 0 ] || {
        tail -n 60 "$log"
        suite_failed=1
    }
}

# "3 failed, 120 passed, 5 skipped in 9.1s" -> "120 passed, 3 failed, 5 skipped"
counts() {
    local n kind passed=0 failed=0 skipped=0
    for kind in passed failed error errors skipped; do
        n=$(grep -oE "[0-9]+ $kind\b" <<<"$1" | cut -d' ' -f1 || true)
        case $kind in
            passed) passed=${n:-0} ;;
            failed | error | errors) failed=$((failed + ${n:-0})) ;;
            skipped) skipped=${n:-0} ;;
        esac
    done
    echo "$passed passed, $failed failed, $skipped skipped"
}

# The binding fuzz test with its calls made in the debug build under -X dev
# and the allocator's debug hooks; the generator and the model run in the
# release build of the same version, at its speed.
run_fuzz() {
    local log=$work/fuzz.log status=0
    in_root env VELMO_FUZZ_EXAMPLES="$fuzz_examples" VELMO_FUZZ_RANDOM=1 \
        VELMO_FUZZ_STATS=/velmo/fuzz-stats.json \
        VELMO_FUZZ_CHILD_PYTHON="env PYTHONMALLOC=debug /velmo/env-python3.15-dbg/bin/python $debug_python_options" \
        sh -c "$from_the_tree" /velmo/env-python3.15/bin/python \
        -m pytest -q -p no:cacheprovider tests/test_fuzz_binding.py >"$log" 2>&1 || status=$?
    tail -n 1 "$log"
    fuzz_figures=$(python3 -c 'import json, sys
counts = json.load(open(sys.argv[1]))
print(f"{sum(counts.values())} calls to {len(counts)} functions")' "$target/velmo/fuzz-stats.json" 2>/dev/null ||
        echo "no counts")
    fuzz_figures+=", $(counts "$(tail -n 1 "$log")")"
    echo "fuzz on python3.15-dbg -X dev: $fuzz_figures"
    [ "$status" -eq 0 ] || {
        tail -n 60 "$log"
        suite_failed=1
    }
}

# Runs its arguments in the copy of the work tree.
# shellcheck disable=SC2016 # expanded by that shell
from_the_tree='cd /velmo/src && exec "$0" "$@"'
suite_failed=0
mkdir -p "$work"
timed_step "unstable root" make_root
timed_step "wheel" find_wheel "${1:-}"
copy_tree_and_wheel
mount_proc
for interpreter in "${interpreters[@]}"; do
    timed_step "$interpreter environment" install_into_new_environment "$interpreter"
done
timed_step "suite on python3.14" run_suite python3.14
timed_step "suite on python3.15" run_suite python3.15
timed_step "suite on python3.15-dbg -X dev, PYTHONMALLOC=debug" run_suite python3.15-dbg PYTHONMALLOC=debug
timed_step "fuzz test on python3.15-dbg" run_fuzz
unmount_proc

# The wheel's row of the release's table, with these runs as its tests.
printf '\n%-62s %9s  %-24s %s\n' artifact bytes tag tests
printf '%-62s %9s  %-24s %s\n' "$(basename "$wheel")" "$(stat -c %s "$wheel")" \
    "$(basename "$wheel" .whl | cut -d- -f5)" "$(printf '%s; ' "${summaries[@]}")fuzz $fuzz_figures"
printf '\n'
printf 'unstable pythons: %s\n' "${summaries[@]}"
echo "unstable pythons: fuzz on python3.15-dbg -X dev: $fuzz_figures"
printf 'time: %s\n' "${timings[@]}"
echo "time: all: $SECONDS s"
[ "$suite_failed" -eq 0 ] || fail "some tests failed"
