"""nseed and noise through the module: known samples, optional coordinates,
properties of the field and argument rules."""

import json

import pytest
from compat_texts import NOT_INITIALIZED, OUT_OF_RANGE_CONVERSION, PANIC_TYPE_NAME
from golden_values import as_float_repr, rows
from helpers import assert_prints_no_failures, run_script

pytestmark = pytest.mark.portable


def test_samples_and_optional_coordinates():
    samples = [
        (int(r[0]), float(r[1]), float(r[2]), float(r[3])) for r in rows("noise.txt", "sample")
    ]
    result = run_script(f"""
        import json, velmo_wrapper as v
        v.init()
        nan, inf = float("nan"), float("inf")
        known = []
        for seed, x, y, z in {samples!r}:
            v.nseed(seed)
            known.append(repr(v.noise(x, y, z)))

        v.nseed(0)
        x, y = 0.37, -4.6
        one_d = [v.noise(x), v.noise(x, None), v.noise(x, 0.0), v.noise(x, None, None),
                 v.noise(x, 0.0, 0.0), v.noise(x=x), v.noise(x, z=None)]
        two_d = [v.noise(x, y), v.noise(x, y, 0.0), v.noise(x, y, None), v.noise(y=y, x=x)]
        gap = [v.noise(1, None, 2), v.noise(1, 0.0, 2), v.noise(1, z=2)]

        # The field depends on the last seed alone; rseed leaves it alone.
        v.nseed(42)
        before = v.noise(3.3, 2.2, 1.1)
        v.nseed(7); v.nseed(42); v.rseed(5); v.rndi(1, 6)
        after = v.noise(3.3, 2.2, 1.1)
        print(json.dumps([known, [repr(t) for t in one_d], [repr(t) for t in two_d],
                          [repr(t) for t in gap], [repr(before), repr(after)]]))
    """)
    assert result.returncode == 0, result
    known, one_d, two_d, gap, reseeded = json.loads(result.stdout)
    assert known == [as_float_repr(r[4]) for r in rows("noise.txt", "sample")]
    assert len(set(one_d)) == 1 and len(set(two_d)) == 1 and len(set(gap)) == 1
    assert one_d != two_d
    assert reseeded[0] == reseeded[1]


def test_field_properties_over_many_points():
    result = run_script("""
        import math, velmo_wrapper as v
        from helpers import failures_over_random_cases
        v.init()
        v.nseed(2024)

        def check(pick):
            x, y, z = (pick.uniform(-1000, 1000) for _ in range(3))
            value = v.noise(x, y, z)
            if not -1.0 <= value <= 1.0:
                yield ("range", x, y, z, value)
            # Multiples of 1/64 keep their fraction exactly when shifted by 256.
            a, b, c = (pick.randrange(-64000, 64000) / 64 for _ in range(3))
            if v.noise(a, b, c) != v.noise(a + 512, b - 256, c + 256):
                yield ("period", a, b, c)
            i, j, k = (pick.randrange(-10**6, 10**6) for _ in range(3))
            if repr(v.noise(i, j, k)) != "0.0":
                yield ("lattice", i, j, k)

        problems = failures_over_random_cases(check, seed=11)
        for bad in (float("nan"), float("inf"), -float("inf")):
            for point in ((bad,), (0.5, bad), (0.5, 0.5, bad)):
                if not math.isnan(v.noise(*point)):
                    problems.append(("non-finite", point))
        print(repr(problems))
    """)
    assert_prints_no_failures(result)


def test_argument_rules():
    result = run_script("""
        import velmo_wrapper as v
        from helpers import outcome

        before = [outcome(lambda: v.noise(0.5)), outcome(lambda: v.nseed(1)),
                  outcome(lambda: v.nseed(-1))]
        v.init()
        after = [outcome(call) for call in (
            lambda: v.nseed(-1), lambda: v.nseed(4294967296), lambda: v.nseed(2 ** 64),
            lambda: v.nseed(1.5), lambda: v.nseed(4294967295), lambda: v.noise("a"),
            lambda: v.noise(1, "a"), lambda: v.noise(1, None, "a"), lambda: v.noise(None),
            lambda: v.noise(1, 2, 3, 4), lambda: v.noise(y=1))]
        print(repr((before, after)))
    """)
    assert result.returncode == 0, result
    before, after = eval(result.stdout)
    assert before[0] == before[1] == (PANIC_TYPE_NAME, NOT_INITIALIZED)
    assert before[2][0] == "OverflowError"
    (negative, too_big, huge, fractional, largest, str_x, str_y, str_z, none_x, four, no_x) = after
    assert negative[0] == huge[0] == "OverflowError" and "argument" not in negative[1]
    assert too_big == ("OverflowError", OUT_OF_RANGE_CONVERSION)
    assert fractional[0] == "TypeError" and fractional[1].startswith("argument 'seed': ")
    assert largest == ("ok", "None")
    assert str_x[1].startswith("argument 'x': ") and str_y[1].startswith("argument 'y': ")
    assert str_z[1].startswith("argument 'z': ") and none_x[1].startswith("argument 'x': ")
    assert four == ("TypeError", "noise() takes from 1 to 3 positional arguments but 4 were given")
    assert no_x == ("TypeError", "noise() missing 1 required positional argument: 'x'")


def test_negative_zero_coordinates_sample_the_same_point_as_positive_zero():
    # floor(-0.0) is -0.0, so the distance from the cell is +0.0 either way:
    # the results are identical to the bit, signs of zero included.
    result = run_script("""
        import itertools, struct
        import velmo_wrapper as v
        v.init()
        differ = []
        for seed in range(20):
            v.nseed(seed)
            for y, z in itertools.product((0.0, -0.0, 0.5, -0.5, 3.0, -3.0), repeat=2):
                for axis in range(3):
                    negative = [y, z]
                    negative.insert(axis, -0.0)
                    positive = [y, z]
                    positive.insert(axis, 0.0)
                    a, b = v.noise(*negative), v.noise(*positive)
                    if struct.pack("<d", a) != struct.pack("<d", b):
                        differ.append((seed, negative, a, b))
        print(differ)
    """)
    assert_prints_no_failures(result)
