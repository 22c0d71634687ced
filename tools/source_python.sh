#!/usr/bin/env bash
# A CPython that Debian does not ship as a package (free-threaded, under
# ThreadSanitizer, for musl), built from Debian's own source package of it.
#
# Usage: tools/source_python.sh SUITE PACKAGE=VERSION COMPILER [CONFIGURE...]
#   SUITE      the Debian suite whose deb-src lists the package (e.g. sid)
#   PACKAGE=VERSION   the source package, pinned: the archive lists newer
#              versions than it serves
#   COMPILER   gcc, clang-N (installed when missing), or musl: Debian's
#              musl-gcc, with zlib and libffi built for musl into the prefix
#   CONFIGURE  CPython's configure options (--disable-gil, say)
# Prints the interpreter's path. The build is kept in the cache, keyed by all
# of the above, the compiler's version and `recipe` (raised whenever the
# steps below change what they build). The interpreter's own test suite is
# left out of the installation.
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
    musl) cc=musl-gcc cxx='' compiler_packages=(musl-tools linux-libc-dev) ;;
    *) fail "unknown compiler $compiler (gcc, clang-N or musl)" ;;
esac
missing=()
for tool in "$cc" make; do command -v "$tool" >/dev/null || missing+=("$tool"); done
[ ${#missing[@]} -eq 0 ] || apt_install "${compiler_packages[@]}" make
# What CPython's configure looks for: without libffi, ctypes is left out.
# A musl build brings its own.
if [ "$compiler" != musl ]; then
    for header in ffi.h zlib.h; do
        [ -f "/usr/include/$header" ] || [ -f "/usr/include/x86_64-linux-gnu/$header" ] ||
            apt_install libffi-dev zlib1g-dev
    done
fi

# Raised whenever the musl steps below change what they build.
musl_recipe=1
# What a musl build adds to the key: the C library, the kernel's headers and
# the suite of the two libraries' sources (nothing for gcc and clang).
musl_inputs=()
musl_library_suite=bookworm
if [ "$compiler" = musl ]; then
    musl_inputs=("$(dpkg-query -W -f '${Version}' musl-dev)" "$(dpkg-query -W -f '${Version}' linux-libc-dev)"
    "$musl_library_suite zlib libffi" "$musl_recipe")
fi

recipe=1
prefix=$(cached_dir "python-$package-$version" "$recipe" "$suite" "$debian_archive" "$compiler" \
    "$("$cc" --version | head -n 1)" "${musl_inputs[@]}" "$@")
if cache_ready "$prefix"; then
    cat "$prefix/interpreter"
    exit 0
fi

# Runs CONFIGURE (a command with its arguments), make and make install in
# DIR, their output in DIR/build.log, and notes the time NAME took.
#
# Usage: build_in NAME DIR CONFIGURE...
build_in() {
    local name=$1 dir=$2 started=$SECONDS
    shift 2
    (cd "$dir" && "$@" >build.log 2>&1 && make -j "$jobs" >>build.log 2>&1 &&
        make install >>build.log 2>&1) || { tail -n 40 "$dir/build.log" >&2 && fail "$name failed"; }
    note "$name: $((SECONDS - started)) s"
}

# A C toolchain for musl in DIR: Debian's musl-gcc behind a wrapper that
# adds the kernel's headers (musl's own include directory has none, and
# CPython's modules include <linux/...>) and DIR's libraries, and that
# answers --print-multiarch as a musl toolchain does (musl-gcc answers with
# the host's glibc triplet, which CPython's configure refuses beside musl's
# x86_64-linux-musl). Then zlib and libffi, static and position-independent
# so that the modules using them carry them, built with it into DIR.
# bookworm's libffi (3.4.4) is taken: the tarball of later ones has no
# configure script.
build_musl_toolchain() {
    local dir=$1 wrapper=$1/bin/x86_64-linux-musl-gcc
    mkdir -p "$dir/bin" "$dir/include" "$dir/lib"
    cp -r /usr/include/linux /usr/include/asm-generic "$dir/include/"
    cp -r "/usr/include/$(gcc -print-multiarch)/asm" "$dir/include/"
    cat >"$wrapper" <<WRAPPER
#!/bin/sh
for argument; do
    if [ "\$argument" = --print-multiarch ]; then echo x86_64-linux-musl; exit 0; fi
done
exec musl-gcc -isystem "$dir/include" -L"$dir/lib" "\$@"
WRAPPER
    chmod +x "$wrapper"
    fetch_debian_source "$musl_library_suite" zlib "$work/zlib" "$work"
    build_in zlib "$work/zlib" env CC="$wrapper" CFLAGS="-O2 -fPIC" ./configure --static --prefix="$dir"
    fetch_debian_source "$musl_library_suite" libffi "$work/libffi" "$work"
    build_in libffi "$work/libffi" env CC="$wrapper" CFLAGS="-O2" ./configure --prefix="$dir" \
        --libdir="$dir/lib" --disable-shared --enable-static --with-pic --disable-docs
    # Only these libraries: pkg-config must not hand configure the host's.
    export PKG_CONFIG_LIBDIR=$dir/lib/pkgconfig
}

work=$(mktemp -d "${TMPDIR:-/tmp}/velmo-source-python.XXXXXX")
trap 'rm -rf "$work"' EXIT
step "fetching $package $version from Debian $suite's sources"
fetch_debian_source "$suite" "$pinned" "$work/source" "$work"

step "building $package $version with $compiler ($*) into $prefix"
rm -rf "$prefix"
if [ "$compiler" = musl ]; then
    build_musl_toolchain "$prefix/musl"
    cc=$prefix/musl/bin/x86_64-linux-musl-gcc
fi
mkdir -p "$work/build"
build_in "$package $version" "$work/build" env CC="$cc" CXX="$cxx" "$work/source/configure" \
    --prefix="$prefix" --with-ensurepip=install "$@"
rm -rf "$prefix"/lib/python3.*/test
# ThreadSanitizer's suppressions for the interpreter's own internals, which
# its runs read (TSAN_OPTIONS=suppressions=...).
cp "$work/source/Tools/tsan/"*.txt "$prefix/" 2>/dev/null || true
# A free-threaded build names its interpreter python3.Nt.
interpreter=$(printf '%s\n' "$prefix"/bin/python3.[0-9]* | grep -v -- '-config$' | sort | tail -n 1)
"$interpreter" -c 'import sys; print(sys.version)' >&2
echo "$interpreter" >"$prefix/interpreter"
cache_done "$prefix"
echo "$interpreter"
