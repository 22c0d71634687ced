"""Calls from several threads at once: every call is one atomic step on the
shared generator and noise table, every thread sees one PanicException type,
and one thread at a time runs the Engine's loop. Each check compares the
threads' results with a single-threaded run of the same calls.

With a GIL the interpreter makes each call atomic; without one (a
free-threaded CPython, PYTHON_GIL=0) only the module's own locks do.
"""

import textwrap

import pytest
from compat_texts import LOOP_IN_ANOTHER_THREAD, PANIC_TYPE_NAME
from helpers import FREE_THREADED, assert_prints_no_failures, run_script

pytestmark = pytest.mark.threads


# Starts `THREADS` workers on one barrier; `together` returns each one's result.
TOGETHER = """
import math, sys, threading
import velmo_wrapper as v
from helpers import error_name
sys.setswitchinterval(1e-6)
failures = []

def together(*workers):
    start = threading.Barrier(len(workers))
    results = [None] * len(workers)
    def run(i, work):
        start.wait()
        results[i] = work()
    threads = [threading.Thread(target=run, args=(i, w)) for i, w in enumerate(workers)]
    for thread in threads:
        thread.start()
    for thread in threads:
        thread.join()
    return results
"""


def together_script(body, **texts):
    """TOGETHER and then `body`, with the `texts` it matches bound as names."""
    constants = "".join(f"{name} = {text!r}\n" for name, text in texts.items())
    return TOGETHER + constants + textwrap.dedent(body)


def test_draws_reseeds_noise_and_first_panics_at_once():
    assert_prints_no_failures(
        run_script(
            together_script(
                """
            LOW, HIGH, DRAWS = -(2**31), 2**31 - 1, 100_000
            POINTS = [0.1 + 0.37 * i for i in range(16)]
            v.init()

            def sequence(seed, count):
                v.rseed(seed)
                return [v.rndi(LOW, HIGH) for _ in range(count)]

            def samples(seed):
                v.nseed(seed)
                return [v.noise(x, x / 3, x / 7) for x in POINTS]

            def draws():
                return [v.rndi(LOW, HIGH) for _ in range(DRAWS)]

            # The noise threads go on until the four drawing threads are done.
            drawn = threading.Event()
            all_drawn = threading.Barrier(4, action=drawn.set)

            def draws_then_done():
                values = draws()
                all_drawn.wait()
                return values

            def first_panic():
                try:
                    v.rndf(math.nan, 1.0)
                except BaseException as error:
                    return type(error)

            def reseeds():
                while not drawn.is_set():
                    v.rseed(1)
                    v.rseed(2)

            def noise_seeds():
                while not drawn.is_set():
                    v.nseed(1)
                    v.nseed(2)

            def noise_samples():
                values = []
                while not drawn.is_set():
                    values += [v.noise(x, x / 3, x / 7) for x in POINTS]
                return values

            reference = sequence(1, 4 * DRAWS + 1)
            either_noise = [set(pair) for pair in zip(samples(1), samples(2))]

            # Four threads drawing, four raising panics (the process's first
            # ones in the first round), two sampling noise while two reseed it.
            # Rounds, since on a loaded machine threads overlap only by chance.
            panic_types = set()
            for _ in range(2):
                v.rseed(1)
                drawn.clear()
                results = together(*[draws_then_done] * 4, *[first_panic] * 4,
                                   noise_samples, noise_samples, noise_seeds, noise_seeds)
                values = sorted(value for result in results[:4] for value in result)
                if values != sorted(reference[:-1]):
                    failures.append(("draws", len(set(values)), "distinct of", len(values)))
                if v.rndi(LOW, HIGH) != reference[-1]:
                    failures.append("the generator did not end after the draws")
                panic_types.update(results[4:8])
                for result in results[8:10]:
                    torn = [s for i, s in enumerate(result) if s not in either_noise[i % 16]]
                    if torn:
                        failures.append(("noise from neither seed", len(torn)))
            if [error_name(kind) for kind in panic_types] != [PANIC_TYPE_NAME]:
                failures.append(("panic types", panic_types))

            # Draws while the generator is reseeded: each value comes from one
            # of the two sequences, none from a half-written generator.
            either_draw = set(sequence(1, 4 * DRAWS)) | set(sequence(2, 4 * DRAWS))
            v.rseed(1)
            drawn.clear()
            results = together(*[draws_then_done] * 4, reseeds, reseeds)
            stray = [x for result in results[:4] for x in result if x not in either_draw]
            if stray:
                failures.append(("draws from neither seed", len(stray)))
            print(failures)
            """,
                PANIC_TYPE_NAME=PANIC_TYPE_NAME,
            ),
            timeout=300,
        )
    )


def test_one_thread_at_a_time_runs_the_loop():
    """A second thread's run or show fails at once while a loop runs (its
    callbacks' own run nests), calls from both threads go on meanwhile, and
    once the loop is left by a panic another thread can run one."""
    assert_prints_no_failures(
        run_script(
            together_script(
                """
            import os
            v.init()
            running, checked = threading.Event(), threading.Event()

            def update():
                if not running.is_set():
                    running.set()
                    # A loop started from a callback nests, on the same thread.
                    v.run(update, lambda: None, lambda: None)
                v.rndi(1, 6)
                v.noise(0.5)
                if checked.is_set():
                    v.init()  # the loop ends with "already initialized"

            def loop():
                try:
                    v.run(update, lambda: None, lambda: None)
                except BaseException as error:
                    if "already initialized" not in str(error):
                        failures.append(("the first loop ended", str(error)))

            first = threading.Thread(target=loop, daemon=True)
            first.start()
            if not running.wait(30):
                failures.append("the loop never ran")
            for second in (v.show, lambda: v.run(print, print, print)):
                try:
                    second()
                except BaseException as error:
                    if LOOP_IN_ANOTHER_THREAD not in str(error):
                        failures.append(("second loop", error_name(type(error)), str(error)))
            draws = [v.rndi(1, 6) for _ in range(1000)]
            if not set(draws) <= set(range(1, 7)):
                failures.append(("draws beside the loop", set(draws)))
            checked.set()
            first.join(30)
            if first.is_alive():
                failures.append("the first loop did not end")
            def fails():
                v.init()
            try:
                v.run(fails, fails, fails)
            except BaseException as error:
                if "already initialized" not in str(error):
                    failures.append(("a loop after the first", str(error)))
            print(failures)
            sys.stdout.flush()
            os._exit(0)
            """,
                LOOP_IN_ANOTHER_THREAD=LOOP_IN_ANOTHER_THREAD,
            ),
            timeout=60,
        )
    )


@pytest.mark.skipif(not FREE_THREADED, reason="only a free-threaded CPython runs without a GIL")
def test_import_keeps_the_gil_off():
    result = run_script(
        "import sys, velmo_wrapper; print(sys._is_gil_enabled())",
        # An empty PYTHON_GIL counts as unset: the interpreter's default.
        env={"PYTHONWARNINGS": "error", "PYTHON_GIL": ""},
    )
    assert (result.returncode, result.stdout) == (0, "False\n"), result
