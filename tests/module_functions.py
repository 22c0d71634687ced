"""The module's eighteen functions as scripts see them, in the order of
`__all__`: each one's parameters with the conversion its argument goes
through, how many of them are required, and the text signature that
introspection shows. show and quit take no arguments at all."""

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
