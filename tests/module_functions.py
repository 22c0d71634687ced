"""The module's eighteen functions as scripts see them, in the order of
`__all__`: each one's parameters with the conversion its argument goes
through, how many of them are required, and the text signature that
introspection shows. show and quit take no arguments at all.

The tests' tables of expected outcomes per function are keyed by these names
and checked against them (check_rows), so a new function fails every test
whose table has no row for it."""

import collections

Function = collections.namedtuple("Function", "parameters required text_signature")


def function(parameters, required, bare=None):
    """A Function whose text signature shows the first `bare` parameters (the
    required ones unless given) without a default, the others as `=None`."""
    bare = required if bare is None else bare
    names = [name if i < bare else f"{name}=None" for i, (name, _) in enumerate(parameters)]
    return Function(parameters, required, f"({', '.join(names)})")


FUNCTIONS = {
    # fps may be left out, yet the signature shows no default for it.
    "init": function([("fps", "optional_uint32")], 0, bare=1),
    "run": function([("update", "object"), ("draw", "object"), ("close", "object")], 3),
    "show": function([], 0),
    "quit": function([], 0),
    "title": function([("title", "string")], 1),
    "process_exists": function([("pid", "uint32")], 1),
    **dict.fromkeys(["ceil", "floor", "sgn", "sqrt"], function([("x", "float")], 1)),
    **dict.fromkeys(["sin", "cos"], function([("deg", "float")], 1)),
    "atan2": function([("y", "float"), ("x", "float")], 2),
    "rseed": function([("seed", "uint32")], 1),
    "rndi": function([("a", "int32"), ("b", "int32")], 2),
    "rndf": function([("a", "float"), ("b", "float")], 2),
    "nseed": function([("seed", "uint32")], 1),
    "noise": function([("x", "float"), ("y", "optional_float"), ("z", "optional_float")], 1),
}

NO_ARGUMENTS = tuple(name for name, described in FUNCTIONS.items() if not described.parameters)
# init creates the Engine; every other function but process_exists needs it.
ENGINE_FREE = ("init", "process_exists")
NEEDS_ENGINE = tuple(name for name in FUNCTIONS if name not in ENGINE_FREE)


def arguments(*args, **kwargs):
    """A call's arguments as a row of a table: (args, kwargs)."""
    return args, kwargs


def check_rows(table, purpose, names=FUNCTIONS):
    """Fails, naming them, when `table`, keyed by function name, lacks a row
    for one of `names` or has a row for no function: each table of expected
    outcomes per function must grow with the function table."""
    missing = [name for name in names if name not in table]
    unknown = [name for name in table if name not in FUNCTIONS]
    assert not missing and not unknown, (
        f"{purpose}: no row for {missing}, rows for no function {unknown}"
    )
