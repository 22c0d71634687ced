"""Faults found by fuzzing the binding, each kept as a test of its own."""

import pytest
from compat_texts import (
    NOT_INITIALIZED,
    PANIC_NAME,
    RESUMING_PANIC,
    UNKNOWN_TYPE_NAME,
    not_a_string,
)
from helpers import FREEING_ALLOCATOR, NAMES_TYPES_ON_ENTRY, run_script

pytestmark = [pytest.mark.fuzz, pytest.mark.binding]


@pytest.mark.cpython_only("ctypes.pythonapi")
def test_keyword_arguments_live_until_the_call_ends():
    # A caller of the C API hands the function its own keyword dictionary (as
    # the interpreter itself does for f(**d) on 3.8). A conversion that empties
    # it must not free the arguments still to be converted, nor the one
    # converting itself. Objects are allocated with malloc, so that a freed
    # one is reused or unmapped at once.
    result = run_script(
        """
        import ctypes
        import velmo_wrapper as v

        call = ctypes.pythonapi.PyObject_Call
        call.restype = ctypes.py_object
        call.argtypes = [ctypes.py_object] * 3
        log = []

        class Emptying:
            def __float__(self):
                keywords.clear()
                log.append("emptied")
                return 1.0
            def __del__(self):
                log.append("freed y")

        class Plain:
            def __init__(self):
                self.padding = [0] * 64
            def __float__(self):
                log.append("converted x")
                return 2.0
            def __del__(self):
                log.append("freed x")

        for function, first, second in ((v.atan2, "y", "x"), (v.rndf, "a", "b"),
                                        (v.noise, "x", "z")):
            keywords = {first: Emptying(), second: Plain()}
            try:
                call(function, (), keywords)
            except BaseException as error:
                log.append(str(error))
            print(log)
            log.clear()
    """,
        env={"PYTHONMALLOC": FREEING_ALLOCATOR},
    )
    assert result.returncode == 0, result
    lines = result.stdout.splitlines()
    for line in lines:
        log = eval(line)
        # Both arguments are converted while alive, and released once the call is over.
        assert log[:2] == ["emptied", "converted x"], result
        assert sorted(log[2:]) == [NOT_INITIALIZED, "freed x", "freed y"], result
    assert len(lines) == 3, result


@pytest.mark.skipif(NAMES_TYPES_ON_ENTRY, reason="PyPy 8 names the argument's type before the call")
def test_fatal_error_raised_while_naming_a_type_is_resumed():
    # The type name in compat_texts.not_a_string is
    # read from Python code that may fail fatally (here by calling the module
    # before `init`); that failure must go on as the call's own, not be
    # swallowed into UNKNOWN_TYPE_NAME.
    result = run_script("""
        import velmo_wrapper as v
        from helpers import type_whose_name_calls

        def no_name():
            raise LookupError("no name")

        for kind in (type_whose_name_calls(v.quit), type_whose_name_calls(no_name)):
            try:
                v.title(kind("Odd", (), {})())
            except BaseException as error:
                print(type(error).__name__, error)
    """)
    assert result.returncode == 0, result
    assert result.stdout.splitlines() == [
        f"{PANIC_NAME} {NOT_INITIALIZED}",
        f"TypeError argument 'title': {not_a_string(UNKNOWN_TYPE_NAME)}",
    ], result
    assert RESUMING_PANIC in result.stderr, result
