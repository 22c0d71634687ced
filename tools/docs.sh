#!/usr/bin/env bash
# The documentation site: builds it with Sphinx (warnings are errors) from the
# README and docs/api.md into build/docs/html, runs the code examples of the
# two documents (tests/test_docs.py), then opens the pages in headless
# Chromium, checks that they load and show their pictures, and saves a
# screenshot of each in build/docs/.
#
# Installs what it needs: pyproject.toml's `docs` dependency group into the
# current Python environment (PYTHON, default `python`), the module when it is
# missing there, and Debian's chromium and chromium-driver with apt-get
# (through sudo when not root).
set -euo pipefail
cd "$(dirname "$0")/.."
python=${PYTHON:-python}

as_root() {
    if [ "$(id -u)" -eq 0 ]; then "$@"; else sudo "$@"; fi
}

install_chromium() {
    if [ -x /usr/bin/chromium ] && [ -x /usr/bin/chromedriver ]; then return 0; fi
    if ! command -v apt-get >/dev/null; then
        echo "docs: install Chromium and its WebDriver (Debian: chromium chromium-driver)" >&2
        exit 1
    fi
    echo "docs: installing chromium and chromium-driver with apt-get"
    as_root apt-get update -qq
    as_root env DEBIAN_FRONTEND=noninteractive \
        apt-get install -y -qq -o DPkg::Lock::Timeout=600 --no-install-recommends chromium chromium-driver >/dev/null
}

install_chromium
"$python" -m pip install --quiet --upgrade "pip>=25.1"
"$python" -m pip install --quiet --group docs
if ! "$python" -c "import velmo_wrapper" 2>/dev/null; then
    "$python" -m pip install --quiet --no-build-isolation .
fi

rm -rf build/docs
"$python" -m sphinx -W --keep-going -q -b html docs build/docs/html
echo "docs: site built in build/docs/html with no warnings"
"$python" -m pytest -q -p no:cacheprovider tests/test_docs.py
"$python" tools/docs_browser.py build/docs/html build/docs
