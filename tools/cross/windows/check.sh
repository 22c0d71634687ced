#!/usr/bin/env bash
# Windows check: cross-builds the platform and engine layers with their C++
# tests and the module (velmo_wrapper.pyd) with mingw-w64, runs the tests with
# ctest under wine (the toolchain file names it as the emulator), and checks
# the module's import and export tables. The interpreter's Windows headers
# and stable-ABI export list come from Debian's source package of CPython
# (common.sh).
#
# Usage: tools/cross/windows/check.sh [build directory]   (default: build/windows)
set -euo pipefail

build=${1:-}
source "$(dirname "${BASH_SOURCE[0]}")/common.sh"

build_project() {
    step "building the platform and engine layers, their tests and the module"
    (cd "$root" && cmake --preset windows -B "$build/project" -DGTest_DIR="$googletest" \
        -DVELMO_PYTHON_INCLUDE_DIRS="$python_source/include" \
        -DVELMO_PYTHON3_LIBRARY="$python_source/libpython3.a" >/dev/null)
    ninja -C "$build/project" -j "$jobs"
}

# Now and then a program under wine fails before or outside its own code; a
# test that fails once is run again, and the log names it.
run_tests_under_wine() {
    local status=0
    start_wine
    run_ctest windows "$build/project" --repeat until-pass:2 || status=$?
    stop_wine
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
    exports=$(awk '/^\[Ordinal\/Name Pointer\] Table/ {on=1; next} on && /^\t\[/ {print $NF; next} on {on=0}' <<<"$dump")
    echo "exports: ${exports:-none}"
    [ "$exports" = "PyInit_velmo_wrapper" ] || fail "the module must export PyInit_velmo_wrapper alone"

    local dlls
    dlls=$(awk '/^\tDLL Name:/ {print $3}' <<<"$dump")
    echo "imports from: $(tr '\n' ' ' <<<"$dlls")"
    grep -qx 'python3.dll' <<<"$dlls" || fail "the module does not import from python3.dll"
    if grep -i '^python.*\.dll$' <<<"$dlls" | grep -qvix 'python3.dll'; then
        fail "the module imports from a versioned Python DLL"
    fi

    local python_imports outside
    python_imports=$(awk '/^\tDLL Name:/ {on = ($3 == "python3.dll"); next}
                          on && /^\t[0-9a-f]+[ \t]+[0-9]+ +[A-Za-z_]/ {print $3}
                          /^$/ {on=0}' <<<"$dump" | sort -u)
    [ -n "$python_imports" ] || fail "no names read from the python3.dll import table"
    outside=$(comm -23 <(echo "$python_imports") <(stable_abi_names | awk '{print $1}' | sort -u))
    if [ -n "$outside" ]; then
        fail "names outside the stable ABI imported from python3.dll: $(tr '\n' ' ' <<<"$outside")"
    fi
    echo "python3.dll imports: $(wc -l <<<"$python_imports") names, all in the stable ABI"
}

prepare_python_build
build_windows_googletest
build_project
test_status=0
run_tests_under_wine || test_status=$?
check_module_tables
exit $test_status
