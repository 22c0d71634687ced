"""pytest's hooks for this suite. The helpers tests share are in helpers.py."""

import sys

import pytest
from helpers import calling_convention


def pytest_collection_modifyitems(items):
    if sys.implementation.name == "cpython":
        return
    for item in items:
        marker = item.get_closest_marker("cpython_only")
        if marker is not None:
            needs = ", ".join(marker.args)
            item.add_marker(pytest.mark.skip(reason=f"needs CPython's {needs}"))


def pytest_terminal_summary(terminalreporter):
    # Written in quiet runs too, which leave out the report header.
    terminalreporter.write_line(f"velmo_wrapper calling convention: {calling_convention()}")
