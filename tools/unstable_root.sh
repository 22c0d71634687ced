#!/usr/bin/env bash
# A root of Debian's unstable suite, for interpreters that need a newer C
# library than a stable system has (tools/targets.py runs its rows there).
#
#   tools/unstable_root.sh prepare PACKAGE...   prints the root's directory
#   tools/unstable_root.sh run ROOT COMMAND...  runs COMMAND in the root
#
# `prepare` makes the root once with debootstrap (installed with apt-get when
# missing) from the mirror this machine's apt uses, with the packages named,
# and keeps it outside the clone, keyed by the mirror and the packages
# (lib.sh's cached_dir): a second run, or another clone, reuses it. The
# machine's CA bundle and pip configuration are copied in, so that pip inside
# reaches the same package index.
#
# `run` mounts the root's /proc, enters it with chroot under a clean
# environment (the machine's pip settings and CA variables pass, its paths and
# virtual environment do not) and unmounts /proc on every exit, failures
# included.
#
# Environment: VELMO_UNSTABLE_MIRROR (a Debian mirror to use instead).
set -euo pipefail
script_name="unstable root"
source "$(dirname "${BASH_SOURCE[0]}")/lib.sh"
python=${PYTHON:-python3}

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

unmount_proc() {
    if mountpoint -q "$target/proc"; then
        as_root umount "$target/proc" || as_root umount -l "$target/proc"
    fi
}

# Runs a command in the root, /proc mounted for its duration.
in_root() {
    local variables=(HOME=/root PATH=/usr/local/sbin:/usr/local/bin:/usr/sbin:/usr/bin:/sbin:/bin
        LANG=C.UTF-8 DEBIAN_FRONTEND=noninteractive)
    local name
    while IFS= read -r name; do
        variables+=("$name=${!name}")
    done < <(compgen -e | grep -E '^(PIP_|SSL_CERT_FILE$|REQUESTS_CA_BUNDLE$|CURL_CA_BUNDLE$)' || true)
    trap unmount_proc EXIT
    mountpoint -q "$target/proc" || as_root mount -t proc proc "$target/proc"
    local status=0
    as_root chroot "$target" env -i "${variables[@]}" "$@" || status=$?
    unmount_proc
    trap - EXIT
    return $status
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

prepare() {
    local mirror packages
    mirror=${VELMO_UNSTABLE_MIRROR:-$(host_mirror)}
    mapfile -t packages < <(printf '%s\n' "$@" | sort -u)
    target=$(cached_dir unstable-root "$mirror" "${packages[*]}")
    if cache_ready "$target"; then
        echo "$target"
        return
    fi
    command -v debootstrap >/dev/null || apt_install debootstrap
    note "debootstrap unstable from $mirror into $target"
    # A root left half made by an earlier run is made again.
    unmount_proc
    rm -rf "$target"
    mkdir -p "$(dirname "$target")"
    as_root debootstrap --variant=minbase unstable "$target" "$mirror" >"$target.log" 2>&1 ||
        fail "debootstrap failed; its log: $target.log"
    # The unstable suite's Release files are short-lived; a mirror may hold
    # one past its date.
    printf 'Acquire::Check-Valid-Until "false";\n' >"$target/etc/apt/apt.conf.d/99velmo-valid-until"
    in_root apt-get update -qq
    in_root apt-get install -y -qq --no-install-recommends "${packages[@]}" >/dev/null
    copy_pip_setup
    cache_done "$target"
    echo "$target"
}

case ${1:-} in
    prepare)
        shift
        prepare "$@"
        ;;
    run)
        target=$2
        shift 2
        in_root "$@"
        ;;
    *) fail "usage: $0 prepare PACKAGE... | run ROOT COMMAND..." ;;
esac
