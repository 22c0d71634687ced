#!/usr/bin/env bash
# Usage: tools/apt_install.sh PACKAGE...   (lib.sh's apt_install, for the noxfile:
# the Debian packages of a row's interpreter that this machine lacks)
set -euo pipefail
source "$(dirname "$0")/lib.sh"
apt_install "$@"
