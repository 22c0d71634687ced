#!/usr/bin/env bash
# A CPython that Debian does not ship as a package (free-threaded, under
# ThreadSanitizer, for musl), built from Debian's own source package of it.
#
# Usage: tools/source_python.sh SUITE PACKAGE=VERSION COMPILER [CONFIGURE...]
#   SUITE      the Debian suite whose deb-src lists the package (e.g. sid)
#   PACKAGE=VERSION   the source package, pinned: the archive lists newer
#              versions than it serves
#   COMPILER   gcc, or clang-N (Debian's clang-N, installed when missing)
#   CONFIGURE  CPython's configure options (--disable-gil, say)
# Prints the interpreter's path. The build is kept in the cache outside the
# clone (lib.sh's cached_dir), keyed by the suite, the package and its
# version, the compiler and its version, the options and `recipe` (raised
# whenever the steps below change what they build), so a second run or
# another clone on the machine takes it as it is. The
# interpreter's own test suite is left out of the installation.
set -euo pipefail
script_name="source python"
source "$(dirname "${BASH_SOURCE[0]}")/lib.sh"

[ $# -ge 3 ] || fail "usage: $0 SUITE PACKAGE=VERSION COMPILER [CONFIGURE...]"
suite=$1 pinned=$2 compiler=$3
shift 3
package=${pinned%%=*} version=${pinned#*=}
[ "$package" != "$pinned" ] || fail "$pinned: the version must be pinned (PACKAGE=VERSION)"

# The compiler: CC and CXX for configure, and the packages it comes in.
compiler_packages=()
case $compiler in
gcc) cc=gcc cxx=g++ ;;
clang-*)
    cc=$compiler cxx=clang++-${compiler#clang-}
    # The sanitizers' runtimes come apart from the compiler.
    compiler_packages=("$compiler" "libclang-rt-${compiler#clang-}-dev")
    ;;
*) fail "unknown compiler $compiler (gcc or clang-N)" ;;
esac
missing=()
for tool in "$cc" make; do command -v "$tool" >/dev/null || missing+=("$tool"); done
[ ${#missing[@]} -eq 0 ] || apt_install "${compiler_packages[@]}" make
# What CPython's configure looks for: without libffi, ctypes is left out.
for header in ffi.h zlib.h; do
    [ -f "/usr/include/$header" ] || [ -f "/usr/include/x86_64-linux-gnu/$header" ] ||
        apt_install libffi-dev zlib1g-dev
done

recipe=1
prefix=$(cached_dir "python-$package-$version" "$recipe" "$suite" "$debian_archive" "$compiler" \
    "$("$cc" --version | head -n 1)" "$@")
if cache_ready "$prefix"; then
    cat "$prefix/interpreter"
    exit 0
fi

work=$(mktemp -d "${TMPDIR:-/tmp}/velmo-source-python.XXXXXX")
trap 'rm -rf "$work"' EXIT
step "fetching $package $version from Debian $suite's sources"
VELMO_APT_SUITE=$suite private_apt_sources "$work/apt" "deb-src $debian_archive"
(cd "$work" && private_apt "$work/apt" source --download-only -q "$pinned" >/dev/null)
tarball=$(find "$work" -maxdepth 1 -name '*.orig.tar.*' | head -n 1)
[ -n "$tarball" ] || fail "no source tarball for $pinned"
mkdir -p "$work/source" "$work/build"
tar -xf "$tarball" -C "$work/source" --strip-components=1

step "building $package $version with $compiler ($*) into $prefix"
rm -rf "$prefix"
started=$SECONDS
(cd "$work/build" && CC=$cc CXX=$cxx "$work/source/configure" --prefix="$prefix" \
    --with-ensurepip=install "$@" >configure.log 2>&1) ||
    { tail -n 40 "$work/build/configure.log" >&2 && fail "configure failed"; }
note "configure: $((SECONDS - started)) s"
started=$SECONDS
make -C "$work/build" -j "$jobs" >"$work/build/make.log" 2>&1 ||
    { tail -n 40 "$work/build/make.log" >&2 && fail "make failed"; }
note "make: $((SECONDS - started)) s"
started=$SECONDS
make -C "$work/build" install >"$work/build/install.log" 2>&1 ||
    { tail -n 40 "$work/build/install.log" >&2 && fail "make install failed"; }
note "make install: $((SECONDS - started)) s"
rm -rf "$prefix"/lib/python3.*/test
# ThreadSanitizer's suppressions for the interpreter's own internals, which
# its runs read (TSAN_OPTIONS=suppressions=...).
cp "$work/source/Tools/tsan/"*.txt "$prefix/" 2>/dev/null || true
# A free-threaded build names its interpreter python3.Nt.
interpreter=$(ls "$prefix"/bin/python3.[0-9]* | grep -v -- '-config$' | sort | tail -n 1)
"$interpreter" -c 'import sys; print(sys.version)' >&2
echo "$interpreter" >"$prefix/interpreter"
cache_done "$prefix"
echo "$interpreter"
