#!/usr/bin/env bash
# The README's first commands on a bare machine: a minimal Debian 12 root
# (tools/debian_root.sh) holding python3, git and certificates and nothing
# else, into which the repository's HEAD is cloned with that root's git; then
# the commands of the README's first block run there verbatim, as root,
# through chroot, each timed, with a clean environment.
#
# Needs root (through sudo when not root). The prepared root is kept outside
# the clone and only read: each run works in a copy of it under build/, which
# it removes, with everything it mounted there, however it ends.
#
# Usage: tools/bare_machine.sh [COUNT]   (the first COUNT commands; default: all)
set -euo pipefail
source "$(dirname "$0")/lib.sh"
cd "$root"

count=${1:-0}
bare=$PWD/build/bare-machine

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

make_root() {
    local pristine
    pristine=$(bash "$root/tools/debian_root.sh" prepare bookworm python3 git ca-certificates)
    step "copying the Debian root to $bare"
    as_root cp -a "$pristine" "$bare"
}

# /proc comes with each command (debian_root.sh run).
mount_system() {
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

in_root() { bash "$root/tools/debian_root.sh" run "$bare" /bin/bash -c "$1"; }

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
mount_system
offer_head
run_commands
