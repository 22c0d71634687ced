#!/usr/bin/env bash
# Installs the Debian packages named with apt-get (tools/lib.sh's apt_install),
# for the Python tools: the interpreter a row of tools/targets.toml lacks.
#
# Usage: tools/apt_install.sh PACKAGE...
set -euo pipefail
source "$(dirname "$0")/lib.sh"
apt_install "$@"
