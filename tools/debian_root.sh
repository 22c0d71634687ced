#!/usr/bin/env bash
# Debian roots made with debootstrap and entered with chroot: unstable's, for
# interpreters that need a newer C library than a stable system has (the
# unstable rows of tools/targets.toml), and tools/bare_machine.sh's Debian 12.
#
#   tools/debian_root.sh prepare SUITE PACKAGE...   prints the root's directory
#   tools/debian_root.sh run ROOT COMMAND...        runs COMMAND in the root
#
# `prepare` makes the root once (debootstrap's minimal one from lib.sh's
# Debian archive, the packages named installed, the machine's CA bundles and
# pip configuration copied in so that pip inside reaches the same index) and
# keeps it in the cache outside the clone. `run` enters it with chroot under a
# clean environment (the machine's pip and CA variables pass, its paths and
# virtual environment do not), /proc mounted for the command's duration.
set -euo pipefail
script_name="debian root"
source "$(dirname "${BASH_SOURCE[0]}")/lib.sh"
python=${PYTHON:-python3}

unmount_proc() {
    if mountpoint -q "$target/proc"; then
        as_root umount "$target/proc" || as_root umount -l "$target/proc"
    fi
}

# Runs a command in the root, /proc mounted for its duration.
in_root() {
    local variables=(HOME=/root PATH=/usr/local/sbin:/usr/local/bin:/usr/sbin:/usr/bin:/sbin:/bin
        LANG=C.UTF-8 TERM=dumb)
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

# The CA bundles pip uses here (local authorities included, which outlive a
# regeneration of the bundle) and the pip configuration files, copied to the
# same paths in the root.
copy_pip_setup() {
    local bundle file
    bundle=${PIP_CERT:-$("$python" -m pip config get global.cert 2>/dev/null || true)}
    if [ -z "$bundle" ]; then
        bundle=$("$python" -c 'import pip._vendor.certifi as c; print(c.where())' 2>/dev/null || true)
    fi
    for file in "$bundle" /etc/ssl/certs/ca-certificates.crt /usr/local/share/ca-certificates/*.crt \
        /etc/pip.conf /etc/xdg/pip/* "${XDG_CONFIG_HOME:-$HOME/.config}"/pip/* "$HOME"/.pip/pip.conf \
        ${PIP_CONFIG_FILE:+"$PIP_CONFIG_FILE"}; do
        [ -n "$file" ] && [ -f "$file" ] || continue
        mkdir -p "$target$(dirname "$file")"
        cp -L "$file" "$target$file"
    done
}

prepare() {
    local suite=$1 packages
    shift
    mapfile -t packages < <(printf '%s\n' "$@" | sort -u)
    target=$(cached_dir "debian-root-$suite" "$debian_archive" "${packages[*]}")
    if cache_ready "$target"; then
        echo "$target"
        return
    fi
    command -v debootstrap >/dev/null || apt_install debootstrap
    note "debootstrap $suite from $debian_archive into $target"
    # A root left half made by an earlier run is made again.
    unmount_proc
    as_root rm -rf --one-file-system "$target"
    mkdir -p "$(dirname "$target")"
    as_root debootstrap --variant=minbase "$suite" "$target" "$debian_archive" >"$target.log" 2>&1 ||
        fail "debootstrap failed; its log: $target.log"
    # The unstable suite's Release files are short-lived; a mirror may hold
    # one past its date.
    if [ "$suite" = unstable ]; then
        printf 'Acquire::Check-Valid-Until "false";\n' >"$target/etc/apt/apt.conf.d/99velmo-valid-until"
    fi
    in_root apt-get update -qq
    in_root env DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends \
        "${packages[@]}" >/dev/null
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
    *) fail "usage: $0 prepare SUITE PACKAGE... | run ROOT COMMAND..." ;;
esac
