"""The engine's tables of known values, for the tests of the module surface.

The same checked-in tables that the C++ tests read (velmo-engine/tests/golden):
rows of a name followed by values, '#' starting a comment line.
"""

import os

GOLDEN_DIR = os.path.join(
    os.path.dirname(os.path.dirname(os.path.abspath(__file__))), "velmo-engine", "tests", "golden"
)


def rows(table, name):
    """The value lists of every row of `table` named `name`, as text."""
    found = []
    with open(os.path.join(GOLDEN_DIR, table), encoding="utf-8") as handle:
        for line in handle:
            words = line.split()
            if words and not words[0].startswith("#") and words[0] == name:
                found.append(words[1:])
    assert found, f"no row {name} in {table}"
    return found


def number(text):
    """A value as a script would write it: an int unless it has a point,
    an exponent or is a non-finite float."""
    try:
        return int(text, 0)
    except ValueError:
        return float(text)


def as_float_repr(text):
    """The repr a float result with this value has."""
    return repr(float(text))
