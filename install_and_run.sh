#!/usr/bin/env bash
# Installs the module and runs examples/dice.py, starting from a machine that
# has only python3 and git.
#
# What the build needs and the machine lacks (a C++ compiler, the headers and
# venv module of the python3 in use) comes from the system's packages: with
# apt-get where it exists (through sudo when not root); elsewhere the script
# names the packages (dnf, pacman, zypper, apk) and stops. pip installs the module into the active
# virtual environment, or else into build/venv, made here when missing: the
# environment that ./run_tests.sh uses too. pip fetches CMake and Ninja when
# they are missing.
set -euo pipefail
source "$(dirname "$0")/tools/lib.sh"
cd "$root"

if in_virtual_environment; then python=python; else python=python3; fi
version=$(python_version "$python")

have_compiler() { command -v c++ >/dev/null || command -v g++ >/dev/null || command -v clang++ >/dev/null; }
# The directory of Python.h for this interpreter (a virtual environment's base).
have_headers() { "$python" -c 'import os, sysconfig, sys; sys.exit(not os.path.isfile(os.path.join(sysconfig.get_path("include"), "Python.h")))'; }
# Debian and Ubuntu ship venv's pip bootstrap apart from the interpreter.
have_venv() { in_virtual_environment || "$python" -c 'import ensurepip, venv' 2>/dev/null; }

install_system_packages() {
    local missing=()
    have_compiler || missing+=(g++)
    have_headers || missing+=("python$version-dev")
    have_venv || missing+=("python$version-venv")
    [ ${#missing[@]} -gt 0 ] || return 0
    if can_apt_get; then
        apt_install "${missing[@]}"
        have_headers && return
        note "$(command -v "$python") is not the system's Python: its headers are still missing"
        exit 1
    fi
    note "the build needs a C++ compiler and the headers of Python $version ($(command -v "$python"))."
    if command -v apt-get >/dev/null; then
        note "As root: apt-get install ${missing[*]}"
    else
        note "Install them, as root, with your system's package manager:"
        note "  Fedora, RHEL:  dnf install gcc-c++ python3-devel"
        note "  Arch Linux:    pacman -S gcc python"
        note "  openSUSE:      zypper install gcc-c++ python3-devel"
        note "  Alpine Linux:  apk add build-base python3-dev"
    fi
    note "then run this again, or, in a build environment of your own: pip install ."
    exit 1
}

# A build/venv whose pip is missing is what `python3 -m venv` leaves behind
# when venv's bootstrap is not installed; it is made again.
use_build_venv() {
    if ! build/venv/bin/python -m pip --version >/dev/null 2>&1; then
        note "making the virtual environment build/venv"
        "$python" -m venv --clear build/venv
    fi
    python=build/venv/bin/python
}

install_system_packages
in_virtual_environment || use_build_venv
note "building and installing the module with pip (about a minute)"
"$python" -m pip install --quiet .
"$python" examples/dice.py
if [ "$python" = build/venv/bin/python ]; then
    note "installed in build/venv; 'source build/venv/bin/activate' to use it"
fi
