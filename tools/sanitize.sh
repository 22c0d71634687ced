#!/usr/bin/env bash
# Builds the project with AddressSanitizer and UndefinedBehaviorSanitizer into
# build/asan, runs the C++ tests under it, then pytest with the sanitized
# module first on PYTHONPATH and the runtime preloaded into the interpreter
# (and every child interpreter the tests start). Every report goes to a file
# under build/asan/reports, and any report fails the run.
#
# Usage: tools/sanitize.sh [PYTEST-ARGUMENT...]   (default: -m "$LEFT_OUT" below)
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
# The interpreter itself, not a version manager's shim: a shim is a shell
# script that would run with the sanitizer runtime preloaded.
python=$("${PYTHON:-python}" -c "import sys; print(sys.executable)")
# CMakePresets.json's `sanitize` builds there.
build=build/asan
reports=$root/$build/reports

generator=()
if command -v ninja >/dev/null 2>&1; then generator=(-G Ninja); fi
# The module is built against the stable ABI, so one build serves every
# interpreter: a build directory configured for one is kept for the next
# (a new interpreter there would clash with the one CMake has cached).
python_for_build=()
[ -f "$build/CMakeCache.txt" ] || python_for_build=(-DPython_EXECUTABLE="$python")
cmake --preset sanitize "${generator[@]}" "${python_for_build[@]}" >/dev/null
cmake --build "$build" -j 2

rm -rf "$reports"
mkdir -p "$reports"
# A report must never pass for an expected exit status, so the sanitizers
# exit with statuses no test expects, and log to files counted at the end.
export ASAN_OPTIONS="detect_leaks=1:halt_on_error=1:exitcode=86:log_path=$reports/asan:log_exe_name=1:detect_stack_use_after_return=0"
export UBSAN_OPTIONS="halt_on_error=1:print_stacktrace=1:exitcode=87:log_path=$reports/ubsan:log_exe_name=1"
# Thread-local storage is not scanned for pointers (use_tls=0): the leak
# checker of this compiler reads the dynamic TLS blocks of glibc 2.34 and
# later wrongly and crashes at exit ("Tracer caught signal 11", with a DTLS
# block at a small address), depending on the process's memory layout. Not
# scanning it can only report more, never hide a leak; the allocations it
# then reports, the dynamic loader's own records, are suppressed in
# tools/lsan.supp.
export LSAN_OPTIONS="suppressions=$root/tools/lsan.supp:print_suppressions=0:use_tls=0"

# The module's tests, but for:
# - measures_memory: memory figures mean nothing while freed memory is held
#   in quarantine (the leak sanitizer and tests/leakcheck.py cover leaks);
# - faketime: libfaketime takes the place of the preloaded runtime.
LEFT_OUT="module and not measures_memory and not faketime"
if [ "$#" -eq 0 ]; then
    set -- -m "$LEFT_OUT"
fi

status=0
ctest --test-dir "$build" --output-on-failure -j 2 || status=$?

# Python objects come from malloc, so that the sanitizer sees every one of
# them freed, reused or overrun.
# The runtimes of the compiler that built the module; ASan's must come first.
compiler=$(sed -n 's/^CMAKE_CXX_COMPILER:[A-Z]*=//p' "$build/CMakeCache.txt")
runtime="$("$compiler" -print-file-name=libasan.so) $("$compiler" -print-file-name=libubsan.so)"
module_dir=$root/$build/velmo-wrapper
if [ "$status" -eq 0 ]; then
    LD_PRELOAD="$runtime" PYTHONMALLOC=malloc PYTHONPATH="$module_dir${PYTHONPATH:+:$PYTHONPATH}" \
        "$python" -c "import velmo_wrapper, sys; assert velmo_wrapper.__file__.startswith(sys.argv[1]), velmo_wrapper.__file__" "$module_dir"
    LD_PRELOAD="$runtime" PYTHONMALLOC=malloc PYTHONPATH="$module_dir${PYTHONPATH:+:$PYTHONPATH}" \
        "$python" -m pytest -q -p no:cacheprovider "$@" || status=$?
fi

# The preloaded runtime reaches every program the tests start, and programs
# that others start in turn (a pytest plugin installed beside pytest may run
# git when it loads, for instance). Only the interpreters, which load the
# module, and the C++ tests can report on this project's code; other
# programs' reports are listed but not counted.
count=0
for report in "$reports"/*; do
    [ -e "$report" ] || continue
    program=$(basename "$report" | sed -E 's/^(asan|ubsan)\.(.*)\.[0-9]+$/\2/')
    case "$program" in
        python* | velmo_*_tests)
            count=$((count + 1))
            echo "== $report"
            head -60 "$report"
            ;;
        *)
            echo "not counted: report from $program ($report)"
            ;;
    esac
done
echo "sanitizer reports: $count"
if [ "$count" -ne 0 ]; then
    exit 1
fi
exit "$status"
