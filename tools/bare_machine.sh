#!/usr/bin/env bash
# The README's first commands on a bare machine: a minimal Debian 12 root
# (debootstrap --variant=minbase) holding python3, git and certificates and
# nothing else, into which the repository's HEAD is cloned with that root's
# git; then the commands of the README's first block run there verbatim, as
# root, through chroot, each timed, with a clean environment.
#
# This machine's CA bundle and pip configuration are copied in, so that pip
# inside reaches the package index as it does here. Needs root (through sudo
# when not root) and debootstrap, which is installed with apt-get when
# missing. debootstrap's result is kept outside the clone (tools/lib.sh's
# cache) and only read: each run works in a copy of it under build/, which it
# removes, with everything it mounted there, however it ends.
#
# Usage: tools/bare_machine.sh [COUNT]   (the first COUNT commands; default: all)
set -euo pipefail
source "$(dirname "$0")/lib.sh"
cd "$root"

count=${1:-0}
bare=$PWD/build/bare-machine
clean_path=/usr/local/sbin:/usr/local/bin:/usr/sbin:/usr/bin:/sbin:/bin
suite=bookworm
packages=python3,git,ca-certificates
# The untouched root, in DIR/root (root's files in a directory of the caller,
# who marks it finished).
pristine=$(cached_dir bare-root "$suite" minbase "$packages" "$debian_archive")

# The commands of the README's first ```sh block, comments dropped.
readme_commands() {
    # shellcheck disable=SC2016  # Markdown's backticks, not a command
    awk '/^```sh$/ {inside = 1; next} inside && /^```$/ {exit}
         inside {sub(/[ \t]*#.*$/, ""); if (NF) print}' README.md |
        if [ "$count" -gt 0 ]; then head -n "$count"; else cat; fi
}

# Every mount under the root, deepest first, so that nothing of this machine
# is under it when it is removed.
unmount_all() {
    [ -d "$bare" ] || return 0
    findmnt -rn -o TARGET | grep "^$bare/" | sort -r | while read -r target; do
        as_root umount -l "$target"
    done
}

remove_root() {
    unmount_all
    if findmnt -rn -o TARGET | grep -q "^$bare/"; then fail "still mounted under $bare"; fi
    as_root rm -rf --one-file-system "$bare"
}

make_pristine_root() {
    cache_ready "$pristine" && return
    command -v debootstrap >/dev/null || apt_install debootstrap
    step "debootstrap --variant=minbase --include=$packages $suite into $pristine"
    as_root rm -rf --one-file-system "$pristine"
    mkdir -p "$pristine"
    as_root debootstrap --variant=minbase --include="$packages" \
        "$suite" "$pristine/root" "$debian_archive" >"$PWD/build/bare-debootstrap.log" 2>&1 ||
        fail "debootstrap failed; see build/bare-debootstrap.log"
    cache_done "$pristine"
}

make_root() {
    make_pristine_root
    step "copying the Debian root to $bare"
    as_root cp -a "$pristine/root" "$bare"
}

copy_machine_settings() {
    local file
    as_root cp /etc/ssl/certs/ca-certificates.crt "$bare/etc/ssl/certs/"
    # Local certificate authorities outlive a regeneration of the bundle.
    for file in /usr/local/share/ca-certificates/*.crt; do
        if [ -f "$file" ]; then as_root cp "$file" "$bare/usr/local/share/ca-certificates/"; fi
    done
    if [ -f /etc/pip.conf ]; then as_root cp /etc/pip.conf "$bare/etc/"; fi
    if [ -d /etc/xdg/pip ]; then as_root cp -r /etc/xdg/pip "$bare/etc/xdg/"; fi
    if [ -d "$HOME/.config/pip" ]; then
        as_root mkdir -p "$bare/root/.config" && as_root cp -r "$HOME/.config/pip" "$bare/root/.config/"
    fi
    as_root cp /etc/resolv.conf "$bare/etc/resolv.conf"
}

mount_system() {
    as_root mount -t proc proc "$bare/proc"
    as_root mount -t sysfs sysfs "$bare/sys"
    as_root mount --rbind /dev "$bare/dev"
    as_root mount --make-rslave "$bare/dev"
}

# HEAD, as a repository inside the root that its git clones from (made here
# by the caller, who owns this checkout, then copied in by root).
offer_head() {
    local repository=$PWD/build/bare-machine-head.git
    rm -rf "$repository"
    git init -q --bare "$repository"
    git push -q "$repository" HEAD:refs/heads/main
    git -C "$repository" symbolic-ref HEAD refs/heads/main
    as_root mkdir -p "$bare/srv"
    as_root cp -r "$repository" "$bare/srv/velmo_wrapper.git"
    rm -rf "$repository"
}

in_root() {
    as_root chroot "$bare" /usr/bin/env -i HOME=/root TERM=dumb LANG=C.UTF-8 PATH=$clean_path \
        /bin/bash -c "$1"
}

run_commands() {
    local command started status output=$PWD/build/bare-commands.log
    : >"$output"
    step "git clone /srv/velmo_wrapper.git velmo_wrapper"
    in_root 'cd /root && git clone -q /srv/velmo_wrapper.git velmo_wrapper && git -C velmo_wrapper log --oneline -1'
    while read -r command; do
        step "$command"
        started=$SECONDS
        status=0
        in_root "cd /root/velmo_wrapper && $command" </dev/null 2>&1 | tee -a "$output" || status=$?
        echo "bare_machine: '$command' took $((SECONDS - started)) s, exit status $status"
        [ "$status" -eq 0 ] || fail "'$command' failed on the bare machine"
    done < <(readme_commands)
}

trap remove_root EXIT
# A signal ends the script through its exit, and so through the clean-up.
trap 'exit 130' INT
trap 'exit 143' TERM
trap 'exit 129' HUP
mkdir -p build
remove_root
started=$SECONDS
make_root
note "the Debian root was ready in $((SECONDS - started)) s"
copy_machine_settings
mount_system
offer_head
run_commands
