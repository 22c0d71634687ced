"""pytest's hooks for this suite. The helpers tests share are in helpers.py."""

from helpers import calling_convention


def pytest_terminal_summary(terminalreporter):
    # Written in quiet runs too, which leave out the report header.
    terminalreporter.write_line(f"velmo_wrapper calling convention: {calling_convention()}")
