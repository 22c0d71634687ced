# shellcheck shell=bash
# Shared by the cross-build checks in windows/ and aarch64/ beside it (sourced,
# not run). The caller defines `step`, which announces a stage.

as_root() {
    if [ "$(id -u)" -eq 0 ]; then "$@"; else sudo "$@"; fi
}

# Installs the Debian packages named, if any, with apt-get.
install_packages() {
    [ $# -gt 0 ] || return 0
    step "installing $*"
    as_root apt-get update -q
    as_root env DEBIAN_FRONTEND=noninteractive apt-get install -y -q --no-install-recommends "$@"
}

# "PASSED FAILED" from the log of one GoogleTest program run with
# --gtest_brief; a program that died before its summary counts as one failure.
gtest_counts() {
    local ok bad
    ok=$(sed -n 's/^\[  PASSED  \] \([0-9]*\) tests\?\.$/\1/p' "$1")
    bad=$(grep -c '^\[  FAILED  \] .* ([0-9]* ms)$' "$1" || true)
    [ -n "$ok" ] || [ "$bad" -gt 0 ] || bad=1
    echo "${ok:-0} $bad"
}
