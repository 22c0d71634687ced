#!/usr/bin/env bash
# The style and lint checks, each failing on any finding: clang-format and
# clang-tidy (through the compile database of the lint preset) over the C++,
# ruff's linter and formatter over the Python, ShellCheck and shfmt over the
# shell scripts, no interpreter version outside tools/targets.toml, and the
# mutant lists. Installs pyproject.toml's `lint` group into the current Python
# environment and Debian's shfmt.
set -euo pipefail
source "$(dirname "$0")/lib.sh"
cd "$root"

pip_install_group "$python" lint
command -v shfmt >/dev/null || apt_install shfmt
PATH="$("$python" -c 'import sysconfig; print(sysconfig.get_path("scripts"))'):$PATH"

status=0
check() {
    local name=$1
    shift
    if "$@"; then
        echo "lint: $name clean"
    else
        echo "lint: $name found problems"
        status=1
    fi
}

mapfile -t cpp_files < <(git ls-files '*.c' '*.cpp' '*.hpp')
# Windows sources are compiled only by the cross build, so they are not in
# this machine's compile database; clang-format still covers them.
mapfile -t tidy_files < <(git ls-files 'velmo-*/src/*.cpp' 'velmo-*/tests/*.cpp' | grep -v '_win')
mapfile -t shell_files < <(git ls-files '*.sh' .ci/run)

cmake --preset lint -DPython_EXECUTABLE="$(command -v "$python")" >/dev/null

check clang-format clang-format --dry-run -Werror "${cpp_files[@]}"
# Four files a process, as many processes as cores; its progress notes are dropped.
# shellcheck disable=SC2329  # called through `check`
run_clang_tidy() {
    printf '%s\n' "${tidy_files[@]}" | xargs -P "$(nproc)" -n 4 clang-tidy -p build/lint --quiet 2>/dev/null
}

check clang-tidy run_clang_tidy
check "ruff check" ruff check --quiet .
check "ruff format" ruff format --check --quiet .
# Interpreter versions are written in tools/targets.toml alone: one in the
# code of a script (comments aside), as 3.N or as a tuple (3, N), is a row
# the table lacks or a second copy of a rule.
# shellcheck disable=SC2329  # called through `check`
no_versions_outside_table() {
    ! git grep -nE '(^|[^0-9.])3\.([0-9]|1[0-9])([^0-9]|$)|\(3, *([0-9]|1[0-9])\)' -- \
        'tools/*.sh' 'tools/*.py' .ci/run tests/helpers.py noxfile.py |
        grep -vE '^[^:]+:[0-9]+:[[:space:]]*#'
}

check shellcheck shellcheck "${shell_files[@]}"
check shfmt shfmt -d "${shell_files[@]}"
check "interpreter versions (tools/targets.toml)" no_versions_outside_table
check "mutant lists" "$python" tools/mutants.py --check
exit $status
