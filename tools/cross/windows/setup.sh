#!/usr/bin/env bash
# The Windows build's setup for tools/mutants.py, from common.sh's functions:
#   setup.sh BUILD googletest   the packages, then GoogleTest for mingw-w64
#                               (cached): prints its GTest_DIR
#   setup.sh BUILD start-wine   a private wine prefix that stays until
#                               stop-wine: prints its variables, NAME=VALUE a line
#   setup.sh BUILD stop-wine    ends the wineserver of WINEPREFIX, removes the prefix
set -euo pipefail

build=${1:-}
source "$(dirname "${BASH_SOURCE[0]}")/common.sh"

case ${2:-} in
    googletest)
        ensure_packages >&2
        build_windows_googletest >&2
        echo "$googletest"
        ;;
    start-wine)
        start_wine
        env | grep ^WINE
        ;;
    stop-wine)
        wine=$(wine_program)
        stop_wine
        ;;
    *) fail "usage: $0 BUILD googletest|start-wine|stop-wine" ;;
esac
