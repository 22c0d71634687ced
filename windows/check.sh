#!/usr/bin/env bash
# Windows check: cross-builds the platform and engine layers with their C++
# tests and the module (velmo_wrapper.pyd) with mingw-w64, runs the tests under
# wine, and checks the module's import and export tables.
#
# Needs Debian's g++-mingw-w64-x86-64-posix, wine64, libgtest-dev (sources in
# /usr/src/googletest), cmake, ninja-build and binutils; missing packages are
# installed with apt-get (through sudo when not root). The interpreter's
# Windows headers and stable-ABI export list come from Debian's source package
# of CPython, downloaded (not installed) with apt-get source.
#
# Usage: windows/check.sh [build directory]   (default: build/windows)
set -euo pipefail

root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
build=$(realpath -m "${1:-$root/build/windows}")
python_source_package=${VELMO_PYTHON_SOURCE_PACKAGE:-python3.11}
debian_archive=${VELMO_DEBIAN_ARCHIVE:-http://deb.debian.org/debian}
mingw=x86_64-w64-mingw32
jobs=${VELMO_JOBS:-2}

step() { printf '\n== %s\n' "$*"; }
fail() { printf 'windows check: %s\n' "$*" >&2; exit 1; }

as_root() {
    if [ "$(id -u)" -eq 0 ]; then "$@"; else sudo "$@"; fi
}

ensure_packages() {
    local missing=()
    command -v $mingw-g++-posix >/dev/null || missing+=(g++-mingw-w64-x86-64-posix)
    [ -x /usr/lib/wine/wine64 ] || command -v wine64 >/dev/null || missing+=(wine64)
    [ -f /usr/src/googletest/CMakeLists.txt ] || missing+=(libgtest-dev)
    command -v cmake >/dev/null || missing+=(cmake)
    command -v ninja >/dev/null || missing+=(ninja-build)
    if [ ${#missing[@]} -gt 0 ]; then
        step "installing ${missing[*]}"
        as_root apt-get update -q
        as_root env DEBIAN_FRONTEND=noninteractive apt-get install -y -q --no-install-recommends "${missing[@]}"
    fi
}

wine_program() {
    if [ -x /usr/lib/wine/wine64 ]; then echo /usr/lib/wine/wine64; else command -v wine64; fi
}

# CPython's own source: include/ (with PC/pyconfig.h) and python3dll.c, the
# list of names that python3.dll exports. A private apt configuration with one
# deb-src line leaves the system's apt sources untouched.
fetch_python_source() {
    local dir=$build/python-source
    [ -f "$dir/include/pyconfig.h" ] && [ -f "$dir/python3dll.c" ] && return
    step "fetching the $python_source_package source package"
    rm -rf "$dir" && mkdir -p "$dir/apt/lists/partial" "$dir/download"
    local codename
    codename=$(. /etc/os-release && echo "$VERSION_CODENAME")
    echo "deb-src $debian_archive $codename main" > "$dir/apt/sources.list"
    local apt_options=(-o "Dir::Etc::SourceList=$dir/apt/sources.list"
                       -o "Dir::Etc::SourceParts=/nonexistent"
                       -o "Dir::State::Lists=$dir/apt/lists")
    as_root apt-get "${apt_options[@]}" update -q >/dev/null
    (cd "$dir/download" && as_root apt-get "${apt_options[@]}" source --download-only -q "$python_source_package" >/dev/null)
    local tarball
    tarball=$(ls "$dir"/download/*.orig.tar.* | head -n 1)
    [ -n "$tarball" ] || fail "no source tarball for $python_source_package"
    mkdir -p "$dir/unpacked"
    tar -xf "$tarball" -C "$dir/unpacked" --strip-components=1 --wildcards \
        '*/Include/*' '*/PC/pyconfig.h' '*/PC/python3dll.c'
    mv "$dir/unpacked/Include" "$dir/include"
    cp "$dir/unpacked/PC/pyconfig.h" "$dir/include/"
    cp "$dir/unpacked/PC/python3dll.c" "$dir/"
    rm -rf "$dir/unpacked" "$dir/download"
}

# The stable-ABI names, one a line: functions, then data (marked " DATA").
stable_abi_names() {
    sed -n -e 's/^EXPORT_FUNC(\([A-Za-z0-9_]*\))$/\1/p' \
           -e 's/^EXPORT_DATA(\([A-Za-z0-9_]*\))$/\1 DATA/p' "$build/python-source/python3dll.c"
}

make_python3_import_library() {
    local lib=$build/python-source/libpython3.a
    [ -f "$lib" ] && return
    step "making the python3.dll import library"
    { echo "LIBRARY python3.dll"; echo "EXPORTS"; stable_abi_names; } > "$build/python-source/python3.def"
    [ "$(wc -l < "$build/python-source/python3.def")" -gt 500 ] || fail "stable-ABI list looks truncated"
    $mingw-dlltool -d "$build/python-source/python3.def" -D python3.dll -l "$lib"
}

build_googletest() {
    local prefix=$build/googletest
    [ -f "$prefix/lib/cmake/GTest/GTestConfig.cmake" ] && return
    step "building GoogleTest for Windows"
    cmake -S /usr/src/googletest -B "$build/googletest-build" -G Ninja \
        -DCMAKE_TOOLCHAIN_FILE="$root/cmake/toolchains/mingw-w64-x86_64.cmake" \
        -DCMAKE_BUILD_TYPE=Release -DBUILD_GMOCK=OFF -Dgtest_disable_pthreads=ON \
        -DCMAKE_INSTALL_PREFIX="$prefix" -Wno-dev -Wno-deprecated >/dev/null
    ninja -C "$build/googletest-build" -j "$jobs" install >/dev/null
}

build_project() {
    step "building the platform and engine layers, their tests and the module"
    cmake -S "$root" -B "$build/project" -G Ninja \
        -DCMAKE_TOOLCHAIN_FILE="$root/cmake/toolchains/mingw-w64-x86_64.cmake" \
        -DCMAKE_BUILD_TYPE=Release -DVELMO_BUILD_TESTS=ON -DVELMO_BUILD_MODULE=ON \
        -DGTest_DIR="$build/googletest/lib/cmake/GTest" \
        -DVELMO_PYTHON_INCLUDE_DIRS="$build/python-source/include" \
        -DVELMO_PYTHON3_LIBRARY="$build/python-source/libpython3.a" >/dev/null
    ninja -C "$build/project" -j "$jobs"
}

run_tests_under_wine() {
    local wine prefix status=0 passed=0 failed=0
    wine=$(wine_program)
    prefix=$(mktemp -d "${TMPDIR:-/tmp}/velmo-wine.XXXXXX")
    export WINEPREFIX=$prefix WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
    local tests=()
    mapfile -t tests < <(find "$build/project" -name '*_tests.exe' | sort)
    [ ${#tests[@]} -gt 0 ] || fail "no test programs were built"
    for program in "${tests[@]}"; do
        step "wine $(basename "$program")"
        local log=$build/$(basename "$program" .exe).log ok bad rc=0
        # Windows programs end their lines with CR LF.
        "$wine" "$program" --gtest_brief=1 </dev/null 2>&1 | tr -d '\r' | tee "$log" || rc=$?
        [ "$rc" -eq 0 ] || status=1
        ok=$(sed -n 's/^\[  PASSED  \] \([0-9]*\) tests\?\.$/\1/p' "$log")
        bad=$(grep -c '^\[  FAILED  \] .* ([0-9]* ms)$' "$log" || true)
        # A program that died before its summary counts as one failure.
        [ -n "$ok" ] || [ "$bad" -gt 0 ] || bad=1
        passed=$((passed + ${ok:-0})); failed=$((failed + ${bad:-0}))
    done
    "$(dirname "$wine")/wineserver64" -k 2>/dev/null || true
    rm -rf "$prefix"
    echo "windows: $passed passed, $failed failed"
    [ "$failed" -eq 0 ] || status=1
    return $status
}

# The module must export only its entry point and import from python3.dll,
# never from a versioned python3X.dll, and only names of the stable ABI.
check_module_tables() {
    step "checking the import and export tables of velmo_wrapper.pyd"
    local module dump
    module=$(find "$build/project" -name velmo_wrapper.pyd | head -n 1)
    [ -n "$module" ] || fail "velmo_wrapper.pyd was not built"
    dump=$($mingw-objdump -p "$module")

    local exports
    exports=$(awk '/^\[Ordinal\/Name Pointer\] Table/ {on=1; next} on && /^\t\[/ {print $NF; next} on {on=0}' <<< "$dump")
    echo "exports: ${exports:-none}"
    [ "$exports" = "PyInit_velmo_wrapper" ] || fail "the module must export PyInit_velmo_wrapper alone"

    local dlls
    dlls=$(awk '/^\tDLL Name:/ {print $3}' <<< "$dump")
    echo "imports from: $(tr '\n' ' ' <<< "$dlls")"
    grep -qx 'python3.dll' <<< "$dlls" || fail "the module does not import from python3.dll"
    if grep -i '^python.*\.dll$' <<< "$dlls" | grep -qvix 'python3.dll'; then
        fail "the module imports from a versioned Python DLL"
    fi

    local python_imports outside
    python_imports=$(awk '/^\tDLL Name:/ {on = ($3 == "python3.dll"); next}
                          on && /^\t[0-9a-f]+[ \t]+[0-9]+ +[A-Za-z_]/ {print $3}
                          /^$/ {on=0}' <<< "$dump" | sort -u)
    [ -n "$python_imports" ] || fail "no names read from the python3.dll import table"
    outside=$(comm -23 <(echo "$python_imports") <(stable_abi_names | awk '{print $1}' | sort -u))
    if [ -n "$outside" ]; then
        fail "names outside the stable ABI imported from python3.dll: $(tr '\n' ' ' <<< "$outside")"
    fi
    echo "python3.dll imports: $(wc -l <<< "$python_imports") names, all in the stable ABI"
}

ensure_packages
mkdir -p "$build"
fetch_python_source
make_python3_import_library
build_googletest
build_project
test_status=0
run_tests_under_wine || test_status=$?
check_module_tables
exit $test_status
