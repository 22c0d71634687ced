"""What a script sees of the module before calling anything, and how every
call's arguments are bound and converted. Argument errors come before the
Engine check, so none of these needs an Engine."""

import ctypes
import inspect
import sys

import pytest
import velmo_wrapper as v
from compat_texts import (
    CREATED_ONCE,
    OUT_OF_RANGE_CONVERSION,
    PANIC_NAME,
    interpreter_text,
    not_a_string,
)
from helpers import PYPY, calling_convention
from module_functions import FUNCTIONS

pytestmark = [pytest.mark.portable, pytest.mark.binding]


def test_module_attributes():
    assert v.__all__ == list(FUNCTIONS)
    assert type(v.__all__) is list
    assert v.__doc__ == ""
    assert not hasattr(v, PANIC_NAME)
    for name, described in FUNCTIONS.items():
        function = getattr(v, name)
        assert function.__name__ == name
        assert function.__module__ == "velmo_wrapper"
        # PyPy 7's C functions have no `__self__`.
        assert getattr(function, "__self__", v) is v if PYPY else function.__self__ is v
        assert function.__doc__ is None
        assert function.__text_signature__ == described.text_signature


def test_introspected_signatures():
    noise = inspect.signature(v.noise).parameters
    assert [(p.name, p.default) for p in noise.values()] == [
        ("x", inspect.Parameter.empty),
        ("y", None),
        ("z", None),
    ]
    fps = inspect.signature(v.init).parameters["fps"]
    assert fps.default is inspect.Parameter.empty


@pytest.mark.cpython_only("ctypes.PyDLL")
def test_second_module_creation_is_refused():
    library = ctypes.PyDLL(v.__file__)
    entry = library.PyInit_velmo_wrapper
    entry.restype = ctypes.py_object
    with pytest.raises(ImportError) as raised:
        entry()
    assert str(raised.value) == CREATED_ONCE


def message(call, *args, **kwargs):
    with pytest.raises(BaseException) as raised:
        call(*args, **kwargs)
    return type(raised.value), str(raised.value)


@pytest.mark.parametrize(
    "call, args, kwargs, expected",
    [
        (v.ceil, (1, 2), {}, "ceil() takes 1 positional arguments but 2 were given"),
        (v.atan2, (1, 2, 3), {}, "atan2() takes 2 positional arguments but 3 were given"),
        (
            v.noise,
            (1, 2, 3, 4),
            {},
            "noise() takes from 1 to 3 positional arguments but 4 were given",
        ),
        (v.init, (1, 2), {}, "init() takes from 0 to 1 positional arguments but 2 were given"),
        (v.ceil, (), {}, "ceil() missing 1 required positional argument: 'x'"),
        (v.rndi, (), {}, "rndi() missing 2 required positional arguments: 'a' and 'b'"),
        (
            v.run,
            (),
            {},
            "run() missing 3 required positional arguments: 'update', 'draw', and 'close'",
        ),
        (v.run, (1,), {"close": 3}, "run() missing 1 required positional argument: 'draw'"),
        (v.rndf, (), {"b": 1}, "rndf() missing 1 required positional argument: 'a'"),
        (v.ceil, (1,), {"x": 2}, "ceil() got multiple values for argument 'x'"),
        (v.ceil, (), {"y": 1}, "ceil() got an unexpected keyword argument 'y'"),
        (v.noise, (1,), {"w": 1, "x": 2}, "noise() got an unexpected keyword argument 'w'"),
        (v.noise, (1,), {"x": 2, "w": 1}, "noise() got multiple values for argument 'x'"),
        (v.ceil, (1, 2), {"y": 3}, "ceil() takes 1 positional arguments but 2 were given"),
        (v.title, (), {"\udcff": 1}, "title() got an unexpected keyword argument '\udcff'"),
    ],
)
def test_binding_messages(call, args, kwargs, expected):
    assert message(call, *args, **kwargs) == (TypeError, expected)


def test_keyword_names_that_are_not_strings_by_calling_convention():
    # From 3.10 on the module takes the fast convention, in which the
    # interpreter refuses such a key before the call; before, its binder
    # does. PyPy refuses it before the call in either.
    fast = sys.version_info >= (3, 10) and not PYPY
    assert calling_convention() == ("fast" if fast else "tuple")
    by_interpreter = fast or sys.implementation.name != "cpython"
    expected = (
        interpreter_text("keyword_not_a_string").format(name="ceil")
        if by_interpreter
        else not_a_string("int")
    )
    assert message(lambda: v.ceil(**{1: 2})) == (TypeError, expected)


def test_texts_the_interpreter_writes():
    # Refusals of arguments to a function without parameters included.
    qualifier = "velmo_wrapper." if sys.version_info >= (3, 9) else ""
    no_arguments = interpreter_text("no_arguments").format(
        qualifier=qualifier, name="show", given=1
    )
    assert message(v.show, 1) == (TypeError, no_arguments)
    no_keywords = interpreter_text("no_keyword_arguments").format(qualifier=qualifier, name="quit")
    assert message(v.quit, a=1) == (TypeError, no_keywords)
    assert message(v.rseed, -1) == (OverflowError, interpreter_text("negative_to_unsigned"))
    assert message(v.rseed, 2**65) == (OverflowError, interpreter_text("too_big_for_unsigned"))

    class Returns:
        def __float__(self):
            return 1

    returned = interpreter_text("float_returned_non_float").format(
        type="Returns", module=Returns.__module__, qualname=Returns.__qualname__, result="int"
    )
    assert message(v.sin, Returns()) == (TypeError, f"argument 'deg': {returned}")


def test_conversion_type_errors_name_the_parameter():
    kind, text = message(v.ceil, "a")
    assert kind is TypeError and text.startswith("argument 'x': ")
    kind, text = message(v.rndi, 1.5, 2)
    assert kind is TypeError and text.startswith("argument 'a': ")
    kind, text = message(v.atan2, 1.0, "x")
    assert kind is TypeError and text.startswith("argument 'x': ")
    assert message(v.title, 5) == (
        TypeError,
        f"argument 'title': {not_a_string('int')}",
    )
    assert message(v.noise, 1.0, z=[])[1].startswith("argument 'z': ")


def test_other_conversion_errors_pass_unchanged():
    kind, text = message(v.rseed, -1)
    assert kind is OverflowError and "argument" not in text
    assert message(v.rseed, 2**32) == (
        OverflowError,
        OUT_OF_RANGE_CONVERSION,
    )
    assert message(v.nseed, 2**64 - 1) == (
        OverflowError,
        OUT_OF_RANGE_CONVERSION,
    )
    assert message(v.process_exists, 2**64)[0] is OverflowError
    kind, text = message(v.rndi, 2**31, 0)
    assert kind is OverflowError and not text.startswith("argument")
    assert message(v.rndi, 0, -(2**31) - 1)[0] is OverflowError
    assert message(v.ceil, 10**400)[0] is OverflowError
    kind, _ = message(v.title, "lone \udcff surrogate")
    assert kind is UnicodeEncodeError


def test_reworded_error_keeps_the_cause_and_drops_the_original():
    cause = KeyError("root")

    class Broken:
        def __float__(self):
            raise TypeError("inner") from cause

    with pytest.raises(TypeError) as raised:
        v.sqrt(Broken())
    error = raised.value
    assert str(error) == "argument 'x': inner"
    assert error.__cause__ is cause
    assert error.__suppress_context__ is True
    assert error.args == ("argument 'x': inner",)


def test_only_exactly_type_error_is_reworded():
    class Special(TypeError):
        pass

    class Raises:
        def __index__(self):
            raise Special("mine")

    with pytest.raises(Special, match=r"^mine$"):
        v.rndi(Raises(), 1)


def test_conversions_run_in_parameter_order_and_stop_at_the_first_failure():
    seen = []

    class Spy:
        def __init__(self, name, fail):
            self.name, self.fail = name, fail

        def __float__(self):
            seen.append(self.name)
            if self.fail:
                raise ValueError(self.name)
            return 1.0

    with pytest.raises(ValueError, match="y"):
        v.noise(z=Spy("z", False), y=Spy("y", True), x=Spy("x", False))
    assert seen == ["x", "y"]


def test_binding_errors_come_before_conversions():
    class Loud:
        def __float__(self):
            raise AssertionError("converted")

    with pytest.raises(TypeError, match="takes 2 positional"):
        v.atan2(Loud(), Loud(), Loud())
    with pytest.raises(TypeError, match="unexpected keyword"):
        v.atan2(Loud(), q=Loud())
