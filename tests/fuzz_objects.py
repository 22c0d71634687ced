"""Argument objects for the binding fuzz test, built from plain descriptions.

A description is a tuple of plain values, so it can travel to a child
interpreter over a pipe; `build` turns it into the object a script would
pass. The parent builds the same objects to ask the interpreter what its own
conversions make of them.

Descriptions:
    ("int", v) ("bool", b) ("float", v) ("none",) ("str", s) ("bytes", b)
    ("list", n) ("strsub", s) ("intsub", v) ("floatsub", v) ("nameless",)
    ("hook", slot, behaviour)  slot is "float" or "index": an object with only
                               that special method, which does `behaviour`.
    ("override", base, v, behaviour)  base is "float" or "int": an instance of
                               value v of a subclass of base whose __float__
                               (and for int __index__ and __int__) does
                               `behaviour`, which a rule reading a float or an
                               int by its value never calls.
    ("strover", s)             a str subclass whose __str__ and __eq__ say
                               otherwise than its text.
Behaviours:
    ("return", value)          returns value (of a right or a wrong type)
    ("raise", kind, message)   raises an exception of `kind` (see RAISES)
    ("reenter", catch, value)  calls the module's `ceil` first (catching
                               whatever it raises when `catch`), then returns
    ("clear", value)           empties the keyword dictionary of the call it
                               is an argument of, then returns
    ("recurse",)               converts itself again through the module (`ceil`
                               of itself from `__float__`, `rndi` from
                               `__index__`), without end
"""

from helpers import type_whose_name_calls


class StrSub(str):
    pass


class IntSub(int):
    pass


class FloatSub(float):
    pass


def _no_name():
    raise RuntimeError("no name")


class Nameless(metaclass=type_whose_name_calls(_no_name)):
    """An object whose type's `__qualname__` cannot be read."""


class Stop(BaseException):
    pass


class TypeErrorSub(TypeError):
    pass


class Context:
    """What objects need from the process they live in."""

    def __init__(self, module=None, panic_type=None):
        self.module = module
        self.panic_type = panic_type
        self.panic_subclass = (
            type("PanicSub", (panic_type,), {"__module__": __name__})
            if panic_type is not None
            else None
        )
        # The dictionary passed as the keywords of the current call, if the
        # caller passes its own dictionary to the C API.
        self.call_kwargs = {}
        # How many times an object called back into the module.
        self.reentered = 0


def _raise(context, kind, message):
    if kind == "ValueError":
        raise ValueError(message)
    if kind == "TypeError":
        raise TypeError(message)
    if kind == "TypeErrorSub":
        raise TypeErrorSub(message)
    if kind == "TypeErrorCaused":
        raise TypeError(message) from KeyError("cause")
    if kind == "Stop":
        raise Stop(message)
    if kind == "Panic":
        raise context.panic_type(message)
    if kind == "PanicSub":
        raise context.panic_subclass(message)
    raise AssertionError(kind)


RAISES = ("ValueError", "TypeError", "TypeErrorSub", "TypeErrorCaused", "Stop", "Panic", "PanicSub")


def _behave(context, behaviour):
    action = behaviour[0]
    if action == "return":
        return behaviour[1]
    if action == "raise":
        _raise(context, behaviour[1], behaviour[2])
    if action == "reenter":
        _, catch, value = behaviour
        context.reentered += 1
        if context.module is not None:
            if catch:
                try:
                    context.module.ceil(1.5)
                except BaseException:  # noqa: BLE001 - any outcome of the re-entrant call will do
                    pass
            else:
                context.module.ceil(1.5)
        return value
    if action == "clear":
        context.call_kwargs.clear()
        return behaviour[1]
    raise AssertionError(behaviour)


def _special(context, slot, behaviour):
    """A special method doing `behaviour`; `slot` says which conversion a
    "recurse" goes through again."""

    def special(self):
        if behaviour[0] == "recurse":
            context.reentered += 1
            if context.module is None:
                return 0
            if slot == "float":
                return context.module.ceil(self)
            return context.module.rndi(self, 1)
        return _behave(context, behaviour)

    return special


def _hook(context, slot, behaviour):
    name = "FloatHook" if slot == "float" else "IndexHook"
    method = "__float__" if slot == "float" else "__index__"
    return type(name, (), {method: _special(context, slot, behaviour), "__module__": __name__})()


def _override(context, base, value, behaviour):
    methods = {"__module__": __name__, "__float__": _special(context, "float", behaviour)}
    if base == "int":
        methods["__index__"] = methods["__int__"] = _special(context, "index", behaviour)
    kind = float if base == "float" else int
    return type(f"Overriding{kind.__name__.title()}", (kind,), methods)(value)


class OverridingStr(str):
    def __str__(self):
        return "overridden"

    def __eq__(self, other):
        return True

    __hash__ = str.__hash__


def behaviour_of(description):
    """The behaviour of an object that runs Python code, or None."""
    if description[0] in ("hook", "override"):
        return description[-1]
    return None


def build(description, context):
    kind = description[0]
    if kind in ("int", "float", "str", "bytes", "bool"):
        return description[1]
    if kind == "none":
        return None
    if kind == "list":
        return list(range(description[1]))
    if kind == "strsub":
        return StrSub(description[1])
    if kind == "intsub":
        return IntSub(description[1])
    if kind == "floatsub":
        return FloatSub(description[1])
    if kind == "nameless":
        return Nameless()
    if kind == "hook":
        return _hook(context, description[1], description[2])
    if kind == "override":
        return _override(context, *description[1:])
    if kind == "strover":
        return OverridingStr(description[1])
    raise AssertionError(description)


def build_key(description):
    """A keyword name: ("k", text), ("ksub", text), ("kover", text) (an
    OverridingStr) or a non-str ("kint", n)."""
    kind, value = description
    if kind == "k":
        return value
    if kind == "ksub":
        return StrSub(value)
    if kind == "kover":
        return OverridingStr(value)
    return value


def type_name(kind):
    return f"{kind.__module__}.{kind.__qualname__}"


def describe_exception(error):
    """What is compared of an exception: type, text, cause and context."""
    try:
        text = str(error)
    except BaseException as failure:  # noqa: BLE001 - any failure is the answer
        text = f"<str failed: {type(failure).__name__}>"
    cause = error.__cause__
    return (
        "raise",
        type_name(type(error)),
        text,
        type_name(type(cause)) if cause is not None else None,
        bool(error.__suppress_context__),
        error.__context__ is None,
    )
