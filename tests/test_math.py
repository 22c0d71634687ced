"""The math functions through the module: edge values and argument rules."""

import json

import pytest
from compat_texts import NOT_INITIALIZED, PANIC_TYPE_NAME
from golden_values import as_float_repr, number, rows
from helpers import run_script

pytestmark = pytest.mark.portable

FLOAT_FUNCTIONS = ("sgn", "sqrt", "sin", "cos")


def math_cases():
    """(function, arguments, repr of the expected result) for every table row."""
    cases = []
    for name in ("ceil", "floor"):
        cases += [(name, [number(r[0])], repr(int(r[1]))) for r in rows("math.txt", name)]
    for name in FLOAT_FUNCTIONS:
        cases += [(name, [number(r[0])], as_float_repr(r[1])) for r in rows("math.txt", name)]
    cases += [
        ("atan2", [number(r[0]), number(r[1])], as_float_repr(r[2]))
        for r in rows("math.txt", "atan2")
    ]
    return cases


def test_every_function_gives_the_known_values():
    cases = math_cases()
    result = run_script(f"""
        import json, velmo_wrapper as v
        v.init()
        nan, inf = float("nan"), float("inf")
        cases = {[(name, args) for name, args, _ in cases]!r}
        print(json.dumps([repr(getattr(v, name)(*args)) for name, args in cases]))
    """)
    assert result.returncode == 0, result
    got = json.loads(result.stdout)
    for (name, args, expected), actual in zip(cases, got):
        assert actual == expected, (name, args)
    assert len(got) == len(cases)


def test_argument_rules_and_the_engine_check():
    result = run_script("""
        import velmo_wrapper as v
        from helpers import outcome

        class Floaty:
            def __float__(self):
                return 2.5

        class Indexy:
            def __index__(self):
                return 7

        before = [outcome(lambda: v.sqrt(4)), outcome(lambda: v.sqrt("4")),
                  outcome(lambda: v.atan2(1, "a"))]
        v.init()
        after = [
            outcome(lambda: v.atan2(y=2, x=1)), outcome(lambda: v.atan2(2, 1)),
            outcome(lambda: v.atan2(x=1, y=2)), outcome(lambda: v.ceil(x=2.5)),
            outcome(lambda: v.sin(deg=30)), outcome(lambda: v.ceil(Floaty())),
            outcome(lambda: v.floor(Indexy())), outcome(lambda: v.sgn(True)),
            outcome(lambda: v.ceil("a")), outcome(lambda: v.atan2(1, "a")),
            outcome(lambda: v.sin(None)), outcome(lambda: v.floor(10 ** 400)),
            outcome(lambda: v.sgn(-3)), outcome(lambda: v.sqrt(-0.0)),
        ]
        print(repr((before, after)))
    """)
    assert result.returncode == 0, result
    before, after = eval(result.stdout)
    assert before[0] == (PANIC_TYPE_NAME, NOT_INITIALIZED)
    assert before[1][0] == "TypeError" and before[1][1].startswith("argument 'x': ")
    assert before[2][0] == "TypeError" and before[2][1].startswith("argument 'x': ")
    (
        kw,
        positional,
        swapped,
        ceil_kw,
        sin_kw,
        floaty,
        indexy,
        boolean,
        bad_str,
        bad_x,
        none,
        huge,
        sign,
        zero_root,
    ) = after
    assert kw == positional == swapped == ("ok", repr(63.43494882292201))
    assert ceil_kw == ("ok", "3") and sin_kw == ("ok", "0.49999999999999994")
    assert floaty == ("ok", "3") and indexy == ("ok", "7") and boolean == ("ok", "1.0")
    assert bad_str[0] == "TypeError" and bad_str[1].startswith("argument 'x': ")
    assert bad_x[0] == "TypeError" and bad_x[1].startswith("argument 'x': ")
    assert none[0] == "TypeError" and none[1].startswith("argument 'deg': ")
    # Too large for a float: the interpreter's OverflowError, not reworded.
    assert huge[0] == "OverflowError" and not huge[1].startswith("argument")
    assert sign == ("ok", "-1.0") and zero_root == ("ok", "1.7976931348623157e+308")


def test_number_subclasses_convert_by_their_value():
    """A float or int subclass is its value, whatever its own __float__,
    __index__ or __int__ say (PyPy 7.3's C API calls them)."""
    result = run_script("""
        import warnings
        import velmo_wrapper as v
        from helpers import outcome

        class Float(float):
            def __float__(self):
                return 99.0

        class Int(int):
            def __int__(self):
                return 5

            __index__ = __int__

            def __float__(self):
                return 97.0

        class IndexIsInt:
            def __index__(self):
                return Int(7)

        # An __index__ returning an int subclass is deprecated, not refused.
        warnings.simplefilter("ignore", DeprecationWarning)
        v.init()
        print(repr([
            outcome(lambda: v.ceil(Float(1.5))),
            outcome(lambda: v.noise(0.5, Float(0.25), Float(0.75)) == v.noise(0.5, 0.25, 0.75)),
            outcome(lambda: v.floor(IndexIsInt())),
            outcome(lambda: v.rndi(Int(2 ** 70), 0))[0],
        ]))
    """)
    assert result.returncode == 0, result
    assert eval(result.stdout) == [("ok", "2"), ("ok", "True"), ("ok", "7"), "OverflowError"]
