#!/usr/bin/env bash
# libfaketime for an interpreter whose C library the system's libfaketime is
# not built for (a musl CPython on a glibc machine): Debian's source of it,
# built with the interpreter's own C compiler (sysconfig's CC), kept in the
# cache outside the clone. The wall-clock tests preload it when
# VELMO_LIBFAKETIME names it.
#
# Usage: tools/cross/musl/faketime.sh PYTHON
# Prints the path of libfaketime.so.1.
set -euo pipefail
script_name="musl faketime"
source "$(dirname "${BASH_SOURCE[0]}")/../../lib.sh"

[ $# -eq 1 ] || fail "usage: $0 PYTHON"
interpreter=$1
compiler=$("$interpreter" -c 'import sysconfig; print(sysconfig.get_config_var("CC"))')
# A stable release's source, whose version does not move under the cache key.
suite=bookworm
# shellcheck disable=SC2086  # CC may carry options of its own
prefix=$(cached_dir faketime "$suite" "$debian_archive" "$compiler" "$($compiler --version | head -n 1)")
library=$prefix/libfaketime.so.1
if cache_ready "$prefix"; then
    echo "$library"
    exit 0
fi

step "building libfaketime from Debian $suite's source with $compiler"
work=$(mktemp -d "${TMPDIR:-/tmp}/velmo-faketime.XXXXXX")
trap 'rm -rf "$work"' EXIT
fetch_debian_source "$suite" faketime "$work/source" "$work"
make -C "$work/source/src" CC="$compiler" libfaketime.so.1 >"$work/make.log" 2>&1 ||
    { tail -n 40 "$work/make.log" >&2 && fail "make failed"; }
rm -rf "$prefix" && mkdir -p "$prefix"
cp "$work/source/src/libfaketime.so.1" "$library"
cache_done "$prefix"
echo "$library"
