"""rseed, rndi and rndf through the module: sequences, argument rules, fatal errors."""

import json

import pytest
from compat_texts import EMPTY_RANGE, OUT_OF_RANGE_CONVERSION, PANIC_TYPE_NAME, RANGE_OVERFLOW
from golden_values import as_float_repr, number, rows
from helpers import assert_prints_no_failures, run_script

pytestmark = pytest.mark.portable


def test_sequences_after_a_seed_match_the_known_values():
    draws = [("rndi", r) for r in rows("random.txt", "rndi")]
    draws += [("rndf", r) for r in rows("random.txt", "rndf")]
    calls = [(name, int(r[0]), number(r[1]), number(r[2]), len(r) - 3) for name, r in draws]
    result = run_script(f"""
        import json, velmo_wrapper as v
        v.init()
        out = []
        for name, seed, a, b, count in {calls!r}:
            v.rseed(seed)
            out.append([repr(getattr(v, name)(a, b)) for _ in range(count)])

        # Equal integer bounds still draw (here three steps), equal float bounds one.
        v.rseed(0)
        equal = [v.rndi(5, 5)] + [v.rndi(1, 6) for _ in range(3)]
        v.rseed(0)
        equal += [repr(v.rndf(5, 5)), repr(v.rndf(0, 1))]

        # Only rseed moves the generator: nseed and the other functions do not.
        v.rseed(0)
        first = v.rndi(1, 6)
        v.nseed(7); v.noise(0.5, 0.5, 0.5); v.sin(3); v.nseed(9)
        rest = [v.rndi(1, 6) for _ in range(7)]
        v.rseed(True)
        by_true = v.rndf(0, 1)
        v.rseed(1)
        by_one = v.rndf(0, 1)
        v.rseed(4294967295)
        print(json.dumps([out, equal, [first] + rest, [repr(by_true), repr(by_one)]]))
    """)
    assert result.returncode == 0, result
    sequences, equal, untouched, seeded_by_bool = json.loads(result.stdout)
    for (name, r), got in zip(draws, sequences):
        expected = (
            [repr(int(t)) for t in r[3:]] if name == "rndi" else [as_float_repr(t) for t in r[3:]]
        )
        assert got == expected, (name, r[:3])
    after_equal = [int(t) for t in rows("random.txt", "rndi_1_6_after_equal_bounds")[0]]
    unit = rows("random.txt", "rndf")[0]
    assert equal == [5, *after_equal, "5.0", as_float_repr(unit[4])]
    assert untouched == [int(t) for t in rows("random.txt", "rndi")[0][3:]]
    assert seeded_by_bool[0] == seeded_by_bool[1]


def test_bounds_in_either_order_are_respected():
    result = run_script("""
        import velmo_wrapper as v
        from helpers import failures_over_random_cases

        def check(pick):
            a = pick.randint(-2**31, 2**31 - 1)
            b = pick.choice([pick.randint(-9, 9), pick.randint(-2**31, 2**31 - 1)])
            got = v.rndi(a, b)
            if not (min(a, b) <= got <= max(a, b)) or type(got) is not int:
                yield ("rndi", a, b, got)
            x = pick.uniform(-1e6, 1e6)
            y = pick.choice([pick.uniform(-1, 1), pick.uniform(-1e300, 1e300)])
            got = v.rndf(x, y)
            if not (min(x, y) <= got <= max(x, y)) or type(got) is not float:
                yield ("rndf", x, y, got)

        v.init()
        print(repr(failures_over_random_cases(check, seed=5)))
    """)
    assert_prints_no_failures(result)


def test_argument_errors_and_fatal_errors_leave_the_generator_alone():
    result = run_script("""
        import velmo_wrapper as v
        from helpers import outcome

        v.init()
        arguments = [outcome(call) for call in (
            lambda: v.rndi(1.5, 2), lambda: v.rndi(1, 2.0), lambda: v.rndi(2147483648, 1),
            lambda: v.rndi(1, -2147483649), lambda: v.rseed(-1), lambda: v.rseed(4294967296),
            lambda: v.rseed(2 ** 64), lambda: v.rseed(1.0), lambda: v.rndf("a", 1),
            lambda: v.rndf(1, None), lambda: v.rndi(b=3, a=3))]

        nan, inf = float("nan"), float("inf")
        v.rseed(0)
        fatal = []
        for a, b in ((nan, 1), (1, nan), (0, inf), (-inf, 0), (-1e308, 1e308),
                     (0, 1.7976931348623157e308)):
            fatal.append(outcome(lambda: v.rndf(a, b)))
        fatal.append(outcome(lambda: v.rndf(0, 1)))
        print(repr((arguments, fatal)))
    """)
    assert result.returncode == 0, result
    arguments, fatal = eval(result.stdout)
    (
        float_a,
        float_b,
        big_a,
        small_b,
        negative_seed,
        seed_2_32,
        seed_2_64,
        float_seed,
        str_a,
        none_b,
        keywords,
    ) = arguments
    assert float_a[0] == "TypeError" and float_a[1].startswith("argument 'a': ")
    assert float_b[0] == "TypeError" and float_b[1].startswith("argument 'b': ")
    for error in (big_a, small_b, negative_seed, seed_2_64):
        assert error[0] == "OverflowError" and "argument" not in error[1]
    assert seed_2_32 == ("OverflowError", OUT_OF_RANGE_CONVERSION)
    assert float_seed[0] == "TypeError"
    assert float_seed[1].startswith("argument 'seed': ")
    assert str_a[1].startswith("argument 'a': ") and none_b[1].startswith("argument 'b': ")
    assert keywords == ("ok", "3")

    # The one panic type, whose only base is BaseException (test_lifecycle).
    empty = (PANIC_TYPE_NAME, EMPTY_RANGE)
    overflow = (PANIC_TYPE_NAME, RANGE_OVERFLOW)
    assert fatal[:6] == [empty, empty, overflow, overflow, overflow, overflow]
    # The six failed calls took no step: this is the first draw after seed 0.
    assert fatal[6] == ("ok", as_float_repr(rows("random.txt", "rndf")[0][3]))
