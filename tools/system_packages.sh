# shellcheck shell=bash
# Shared by run_tests.sh, install_and_run.sh and tools/bare_machine.sh
# (sourced, not run): Debian packages through apt-get, as root or through sudo,
# and the active virtual environment.

as_root() {
    if [ "$(id -u)" -eq 0 ]; then "$@"; else sudo "$@"; fi
}

# True where apt-get exists and can be run as root.
can_apt_get() {
    command -v apt-get >/dev/null && { [ "$(id -u)" -eq 0 ] || command -v sudo >/dev/null; }
}

# Installs the Debian packages named, printing only errors.
apt_install() {
    as_root apt-get update -qq
    as_root env DEBIAN_FRONTEND=noninteractive \
        apt-get install -y -qq --no-install-recommends "$@" >/dev/null
}

in_virtual_environment() {
    [ -n "${VIRTUAL_ENV:-}" ] && python -c 'import sys; sys.exit(sys.prefix == sys.base_prefix)' 2>/dev/null
}
