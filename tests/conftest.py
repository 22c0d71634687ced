"""pytest's hooks for this suite. The helpers tests share are in helpers.py."""

import sys

import pytest
from helpers import calling_convention

# The tests that read the installed package's files (its stubs, its wheel)
# rather than exercise the module; every other test is also marked `module`.
PACKAGE_CHECKS = ("type_check", "builds_wheel")


# First, so that `-m module` selects by the marker added here.
@pytest.hookimpl(tryfirst=True)
def pytest_collection_modifyitems(items):
    for item in items:
        if not any(item.get_closest_marker(name) for name in PACKAGE_CHECKS):
            item.add_marker(pytest.mark.module)
        marker = item.get_closest_marker("cpython_only")
        if marker is not None and sys.implementation.name != "cpython":
            needs = ", ".join(marker.args)
            item.add_marker(pytest.mark.skip(reason=f"needs CPython's {needs}"))


def pytest_terminal_summary(terminalreporter):
    # Written in quiet runs too, which leave out the report header.
    terminalreporter.write_line(f"velmo_wrapper calling convention: {calling_convention()}")
