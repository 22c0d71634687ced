#!/usr/bin/env bash
# The documentation site: builds it with Sphinx (warnings are errors) from the
# README and docs/api.md into build/docs/html, runs the code examples of the
# two documents (tests/test_docs.py), then opens the pages in headless
# Chromium (tools/docs_browser.py), checks that they load and show their
# pictures, and saves a screenshot of each in build/docs/. Installs what it
# needs: pyproject.toml's `docs` group, the module, Debian's chromium.
set -euo pipefail
source "$(dirname "$0")/lib.sh"
cd "$root"

install_chromium() {
    if [ -x /usr/bin/chromium ] && [ -x /usr/bin/chromedriver ]; then return 0; fi
    command -v apt-get >/dev/null || fail "install Chromium and its WebDriver (Debian: chromium chromium-driver)"
    apt_install chromium chromium-driver
}

install_chromium
pip_install_group "$python" docs
if ! "$python" -c "import velmo_wrapper" 2>/dev/null; then
    "$python" -m pip install --quiet --no-build-isolation .
fi

rm -rf build/docs
"$python" -m sphinx -W --keep-going -q -b html docs build/docs/html
echo "docs: site built in build/docs/html with no warnings"
"$python" -m pytest -q -p no:cacheprovider -m docs
"$python" tools/docs_browser.py build/docs/html build/docs
