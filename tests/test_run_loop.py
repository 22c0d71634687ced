"""run, show, quit and title, seen from a script in a child interpreter.

A failing callback ends the child's process, so each failure path runs in a
child of its own; the cases that leave the process running share one.
"""

import signal
import textwrap
import time

import pytest
from compat_texts import (
    ALREADY_INITIALIZED,
    NOT_INITIALIZED,
    PANIC_NAME,
    PANIC_TYPE_NAME,
    RESUMING_PANIC,
    not_a_string,
)
from helpers import WINDOWS, RunningChild, gil_enabled, run_script

# Each callback prints its name; print() to a pipe is block-buffered, so these
# lines reach the parent only if the module flushes sys.stdout before exiting.
PRELUDE = """
import sys
import velmo_wrapper as v

def logger(name, action=None):
    def callback():
        print(name)
        if action is not None:
            action()
    return callback

def never():
    raise AssertionError("must not be called")
"""


def run_child(body, **kwargs):
    return run_script(PRELUDE + textwrap.dedent(body), **kwargs)


TRACEBACK = "Traceback (most recent call last):"


def ending(result):
    """The child's status, the lines it printed, and the lines of its stderr
    with each traceback's frames (the indented lines below it) left out."""
    errors = []
    for line in result.stderr.splitlines():
        if not (errors and errors[-1].endswith(TRACEBACK) and line[:1].isspace()):
            errors.append(line)
    return result.returncode, result.stdout.splitlines(), errors


# A callback that raises ends the process: each script, with the ending it has.
FAILING_CALLBACKS = [
    pytest.param(
        """
        v.init(30)
        v.run(logger("update"), logger("draw", lambda: 1 / 0), logger("close"))
        """,
        (1, ["update", "draw", "close"], [TRACEBACK, "ZeroDivisionError: division by zero"]),
        id="draw_raising_calls_close_prints_and_exits_with_status_1",
    ),
    pytest.param(
        """
        v.init(30)
        v.run(1, 2, 3)
        """,
        # Raised by the call itself, with no Python frame: no traceback lines.
        (1, [], ["TypeError: 'int' object is not callable"] * 2),
        id="three_integers_print_closes_type_error_then_updates",
    ),
    pytest.param(
        """
        def fail(kind, text):
            def raise_it():
                raise kind(text)
            return raise_it
        v.init(60)
        v.run(fail(LookupError, "from update"), never, fail(ValueError, "from close"))
        """,
        (1, [], [TRACEBACK, "ValueError: from close", TRACEBACK, "LookupError: from update"]),
        id="failing_close_is_printed_before_the_callbacks_error",
    ),
    pytest.param(
        """
        def interrupt():
            raise KeyboardInterrupt
        v.init(30)
        v.run(logger("update", interrupt), never, logger("close"))
        """,
        (1, ["update", "close"], []),
        id="keyboard_interrupt_calls_close_and_prints_nothing",
    ),
    pytest.param(
        """
        import atexit
        atexit.register(print, "exit handler")
        v.init(30)
        v.run(logger("update", lambda: sys.exit(0)), never, logger("close"))
        """,
        (0, ["update", "close", "exit handler"], []),
        id="sys_exit_in_update_ends_through_the_interpreter",
    ),
    pytest.param(
        """
        v.init(30)
        v.run(lambda: 1 / 0, never, lambda: sys.exit(3))
        """,
        (3, [], []),
        id="sys_exit_in_close_ends_before_the_error_is_printed",
    ),
    pytest.param(
        """
        import atexit
        atexit.register(print, "exit handler")
        sys.stderr.write("written to stderr")
        v.init(30)
        v.run(lambda: 1 / 0, never, logger("close"))
        """,
        # Written with no line end: the traceback goes on on its line.
        (1, ["close"], ["written to stderr" + TRACEBACK, "ZeroDivisionError: division by zero"]),
        id="exit_skips_exit_handlers_and_keeps_written_output",
    ),
    # Before the process ends, the module flushes sys.stdout and sys.stderr;
    # a stream whose flush raises, or none at all (pythonw), is passed over.
    pytest.param(
        """
        class Unflushable:
            def write(self, text):
                return len(text)

            def flush(self):
                raise OSError("cannot flush")

        sys.stdout = Unflushable()
        v.init(30)
        v.run(lambda: 1 / 0, never, logger("close"))
        """,
        (1, [], [TRACEBACK, "ZeroDivisionError: division by zero"]),
        id="failing_flush_is_passed_over",
    ),
    pytest.param(
        """
        sys.stdout = None
        v.init(30)
        v.run(lambda: 1 / 0, never, lambda: None)
        """,
        (1, [], [TRACEBACK, "ZeroDivisionError: division by zero"]),
        id="missing_stdout_is_passed_over",
    ),
]


@pytest.mark.parametrize("body, expected", FAILING_CALLBACKS)
def test_failing_callback(body, expected):
    result = run_child(body)
    assert ending(result) == expected, result


# Set by the child's first update. Windows cannot send SIGINT to another
# process, so there a thread of the child raises it then, through the C
# runtime's handler as a console's Ctrl+C does. Either way the interpreter
# sees it at its next check, in a callback.
#
# A shell starts its background jobs with SIGINT ignored, and Python keeps a
# disposition it inherits as ignored; the child takes Python's own handler back.
LOOPING = """
import signal, threading
signal.signal(signal.SIGINT, signal.default_int_handler)
looping = threading.Event()
"""
CTRL_C_FROM_A_THREAD = """
import signal
def ctrl_c():
    looping.wait()
    signal.raise_signal(signal.SIGINT)
threading.Thread(target=ctrl_c, daemon=True).start()
"""


class TestRealKeyboardInterrupt:
    def test_sigint_while_the_loop_sleeps_reaches_the_next_update(self):
        source = (
            PRELUDE
            + LOOPING
            + (CTRL_C_FROM_A_THREAD if WINDOWS else "")
            + textwrap.dedent("""
            def tell_parent():
                print("running", flush=True)
                looping.set()
            v.init(30)
            v.run(tell_parent, lambda: None, logger("close"))
        """)
        )
        with RunningChild(source) as child:
            assert child.process.stdout.readline() == "running\n"
            if not WINDOWS:
                child.process.send_signal(signal.SIGINT)
            child.process.wait(timeout=30)
        assert child.returncode == 1
        # The interrupt may land inside an update's print, between its text
        # and its line end; close prints last all the same.
        assert child.stdout.endswith("close\n"), child.stdout
        assert child.stderr == ""


class TestFatalErrorsInsideRun:
    def test_fatal_error_in_a_callback_resumes_and_the_script_goes_on(self):
        result = run_child(
            """
            calls = []
            v.init(30)
            try:
                v.run(lambda: v.init(30), never, never)
            except BaseException as error:
                calls.append(f"{type(error).__name__}: {error}")

            # Fatal in close: the callback's own error is neither printed nor
            # followed by the exit.
            def fail():
                raise LookupError("from update")
            try:
                v.run(fail, never, lambda: v.init(30))
            except BaseException as error:
                calls.append(f"{type(error).__name__}: {error}")
            print(calls)
        """,
        )
        assert result.returncode == 0, result
        assert result.stdout.strip() == repr([f"{PANIC_NAME}: {ALREADY_INITIALIZED}"] * 2)
        assert result.stderr.count(RESUMING_PANIC) == 2
        assert "LookupError" not in result.stderr

    def test_quit_inside_update_returns_none_and_the_loop_goes_on(self):
        result = run_child(
            """
            from helpers import run_recording
            v.init(1000)
            run_recording(v.quit, lambda frames: len(frames) == 5)
        """,
        )
        assert result.returncode == 0, result
        assert result.stdout.strip() == "[None, None, None, None, None]"


def test_lifecycle_calls_before_and_after_init():
    result = run_child(
        """
        from helpers import outcome

        print(outcome(lambda: v.title(5)))
        print(outcome(lambda: v.title("before")))
        print(outcome(lambda: v.quit()))
        print(outcome(lambda: v.show()))
        print(outcome(lambda: v.run(1, 2, 3)))
        print(outcome(lambda: v.run(1, 2)))
        v.init(30)
        print(outcome(lambda: v.title("after")))
        print(outcome(lambda: v.title(title="keyword")))
        print(outcome(lambda: v.title(5)))
        print(outcome(lambda: v.quit()))
    """,
    )
    assert result.returncode == 0, result
    title_type_error = ("TypeError", f"argument 'title': {not_a_string('int')}")
    not_initialized = (PANIC_TYPE_NAME, NOT_INITIALIZED)
    assert result.stdout.splitlines() == [
        repr(outcome)
        for outcome in [
            title_type_error,
            *[not_initialized] * 4,
            ("TypeError", "run() missing 1 required positional argument: 'close'"),
            ("ok", "None"),
            ("ok", "None"),
            title_type_error,
            ("ok", "None"),
        ]
    ]


@pytest.mark.parametrize("fps", ["", "0", "60"])
def test_show_keeps_looping(fps):
    source = f"""
import velmo_wrapper as v
v.init({fps})
print("showing", flush=True)
v.show()
print("show returned", flush=True)
"""
    with RunningChild(source) as child:
        assert child.process.stdout.readline() == "showing\n"
        time.sleep(1.0)
        assert child.process.poll() is None
    assert "show returned" not in child.stdout
    assert child.stderr == ""


def test_show_holds_the_interpreter_lock_while_it_sleeps():
    # A thread that writes every 5 ms goes quiet once show() takes over; on a
    # free-threaded build running without its GIL there is no lock to hold,
    # and it goes on writing.
    source = """
import os, threading, time
import velmo_wrapper as v

def chatter():
    while True:
        os.write(1, b"t")
        time.sleep(0.005)

v.init(60)
threading.Thread(target=chatter, daemon=True).start()
time.sleep(0.2)
os.write(1, b"S")
v.show()
"""
    with RunningChild(source, text=False) as child:
        before = b""
        while not before.endswith(b"S"):
            chunk = child.process.stdout.read(1)
            assert chunk, child.process.stderr.read()
            before += chunk
        time.sleep(1.0)
    assert before.count(b"t") >= 5  # the thread did run before show()
    if not gil_enabled():
        assert child.stdout.count(b"t") >= 20  # a second of writes, on a loaded machine
    else:
        assert child.stdout.count(b"t") <= 1  # at most one write already under way
    assert child.stderr == b""
