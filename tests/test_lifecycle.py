"""The Engine's lifecycle seen from scripts: the state before `init`, `init`
itself, a second `init`, and how fatal errors reach the script. Each test runs
a script in a fresh interpreter, since an Engine lives as long as its process."""

import errno
import os
import subprocess
import sys
import textwrap

import compat_texts as texts
import pytest
from helpers import FREE_THREADED, PYPY, TESTS_DIRECTORY, posix_only, preload_library, run_script
from module_functions import NEEDS_ENGINE, check_rows

NOT_INITIALIZED = f"{texts.panicked_at(texts.NOT_INITIALIZED_AT)}\n{texts.NOT_INITIALIZED}\n"
ALREADY_INITIALIZED = (
    f"{texts.panicked_at(texts.ALREADY_INITIALIZED_AT)}\n{texts.ALREADY_INITIALIZED}\n"
)


# Arguments that each function needing the Engine binds and converts.
# fmt: off
CALLS_BEFORE_INIT = {
    "run": (1, 2, 3), "show": (), "quit": (), "title": ("t",), "ceil": (1.5,), "floor": (1.5,),
    "sgn": (1.5,), "sqrt": (4,), "sin": (1,), "cos": (1,), "atan2": (1, 1), "rseed": (1,),
    "rndi": (1, 6), "rndf": (0, 1), "nseed": (1,), "noise": (0.5,),
}
# fmt: on


def test_before_init():
    check_rows(CALLS_BEFORE_INIT, "calls before init", names=NEEDS_ENGINE)
    result = run_script(
        """
        import os
        start = os.getcwd()
        import velmo_wrapper as v
        from compat_texts import NOT_INITIALIZED, PANIC_MODULE, PANIC_NAME
        assert os.getcwd() == start

        panic_types = set()
        for name, args in CALLS.items():
            try:
                getattr(v, name)(*args)
            except Exception:
                raise AssertionError(name + ": a fatal error was caught as an Exception")
            except BaseException as error:
                assert str(error) == NOT_INITIALIZED, name
                assert error.args == (NOT_INITIALIZED,), name
                panic_types.add(type(error))
            else:
                raise AssertionError(name + " returned")
        (panic,) = panic_types
        assert panic.__module__ == PANIC_MODULE and panic.__name__ == PANIC_NAME
        assert panic.__qualname__ == PANIC_NAME
        assert panic.__bases__ == (BaseException,)
        assert "panics" in panic.__doc__ and "SystemExit" in panic.__doc__
        assert panic.__doc__.startswith("\\n") and panic.__doc__.endswith("\\n")

        # Argument errors come before the Engine check.
        for call, kind in [(lambda: v.rndi("a", 6), TypeError), (lambda: v.title(5), TypeError),
                           (lambda: v.ceil("a"), TypeError), (lambda: v.rseed(-1), OverflowError)]:
            try:
                call()
            except kind:
                pass
        assert v.process_exists(os.getpid()) is True
        print("ok")
    """.replace("CALLS", repr(CALLS_BEFORE_INIT))
    )
    assert result.returncode == 0, result
    assert result.stdout == "ok\n"
    # One diagnostic per fatal error; the hint only after the first.
    rest = NOT_INITIALIZED * (len(CALLS_BEFORE_INIT) - 1)
    assert result.stderr == NOT_INITIALIZED + texts.BACKTRACE_HINT + rest


# The fatal error comes back out of __float__ as a PanicException: one the
# module raised, or one whose text cannot be read, which goes on unwrapped.
@pytest.mark.parametrize(
    "conversion, message, last_line",
    [
        ("return v.ceil(1.0)", texts.NOT_INITIALIZED, texts.NOT_INITIALIZED),
        (
            "try:\n    v.quit()\nexcept BaseException as error:\n"
            "    raise type(error)(Unreadable()) from None",
            texts.UNWRAPPED_PANIC,
            texts.interpreter_text("unprintable_exception"),
        ),
    ],
    ids=["raised by the module", "unreadable"],
)
def test_fatal_error_inside_an_argument_conversion_resumes(conversion, message, last_line):
    result = run_script(
        """
        import velmo_wrapper as v

        class Unreadable:
            def __str__(self):
                raise LookupError("no text")

        class Converts:
            def __float__(self):
                CONVERSION

        try:
            v.sqrt(Converts())
        except BaseException as error:
            print(type(error).__name__, error)
    """.replace("CONVERSION", textwrap.indent(conversion, " " * 16).lstrip())
    )
    assert result.returncode == 0, result
    assert result.stdout == f"{texts.PANIC_NAME} {message}\n"
    lines = result.stderr.splitlines(keepends=True)
    assert "".join(lines[:3]) == NOT_INITIALIZED + texts.BACKTRACE_HINT
    assert "".join(lines[3:5]) == texts.RESUMING_PANIC
    assert lines[5] == "Traceback (most recent call last):\n"
    assert "__float__" in result.stderr
    assert lines[-1] == f"{texts.PANIC_TYPE_NAME}: {last_line}\n"
    assert result.stderr.count(texts.PANICKED_AT) == 1


# Replaces the entropy source the module reads; its flags say how.
GETRANDOM_REPLACED = os.path.join(TESTS_DIRECTORY, "native", "getrandom_replaced.c")
# PyPy, CPython 3.14 and later and a free-threaded 3.13 draw from the same
# source themselves while they start (even with PYTHONHASHSEED set), so the
# replaced source's interruption and first numbered byte are spent before init
# reads any.
DRAWS_AT_START_UP = pytest.mark.skipif(
    PYPY or FREE_THREADED or sys.version_info >= (3, 14),
    reason="the interpreter reads the entropy source itself at start-up",
)


@posix_only("LD_PRELOAD to replace the entropy source")
@pytest.mark.parametrize(
    "flags, seed",
    [
        # All ones, the one excluded start-up seed, then 7.
        ([], 7),
        # Interrupted by a signal, then the bytes 1, 2, 3 and 4 one at a time.
        pytest.param(["-DGETRANDOM_BYTE_AT_A_TIME"], 0x04030201, marks=DRAWS_AT_START_UP),
        pytest.param(
            ["-DGETRANDOM_ERROR=ENOSYS", "-DURANDOM_BYTE_AT_A_TIME"],
            0x04030201,
            marks=DRAWS_AT_START_UP,
        ),
    ],
    ids=["excluded seed drawn again", "getrandom", "urandom"],
)
def test_the_start_up_seed_is_the_sources_bytes(tmp_path, flags, seed):
    result = run_script(
        f"""
        import velmo_wrapper as v
        def draws():
            return [v.rndi(0, 10**6) for _ in range(4)], v.noise(0.5, 0.25, 0.75)
        v.init()
        seeded = draws()
        v.rseed({seed})
        v.nseed({seed})
        print(seeded == draws())
    """,
        env=preload_library(tmp_path, GETRANDOM_REPLACED, *flags),
    )
    assert result.returncode == 0, result
    assert result.stdout == "True\n"


def test_backtrace_variable_prints_the_native_stack():
    result = run_script(
        """
        import velmo_wrapper as v
        try:
            v.quit()
        except BaseException:
            pass
    """,
        env={"VELMO_BACKTRACE": "1"},
    )
    assert result.returncode == 0, result
    assert result.stderr.startswith(NOT_INITIALIZED + texts.BACKTRACE_HEADER)
    assert "note: run with" not in result.stderr
    frames = result.stderr.splitlines()[3:]
    assert len(frames) >= 3
    assert any("velmo_wrapper" in frame for frame in frames)


def run_from_its_own_directory(home, source, **kwargs):
    """Runs `source` as main.py in `home`, a directory made for it, and checks
    that it ran to its end and printed "ok"."""
    home.mkdir()
    result = run_script(source, path=home / "main.py", **kwargs)
    assert result.returncode == 0, result
    assert result.stdout == "ok\n"
    return result


def test_init_moves_to_the_calling_scripts_directory(tmp_path):
    # Spaces and letters outside ASCII; on Windows also a drive letter and
    # backslashes, as tmp_path is there.
    home = tmp_path / "my game \u00e9t\u00e9 \u6e38\u620f"
    elsewhere = tmp_path / "elsewhere"
    elsewhere.mkdir()
    result = run_from_its_own_directory(
        home,
        f"""
        import os
        import velmo_wrapper as v
        start = os.getcwd()
        try:
            v.init(-1)
        except OverflowError:
            pass
        assert os.getcwd() == start, "a refused fps must not move the directory"
        try:
            v.init("60")
        except TypeError as error:
            assert str(error).startswith("argument 'fps': "), error
        assert v.init() is None
        assert os.getcwd() == {str(home)!r}
        assert "os" not in globals() or globals()["os"] is os
        assert "inspect" not in globals()
        assert v.quit() is None and v.title("a title") is None

        os.chdir({str(elsewhere)!r})
        for fps in (60, None):
            try:
                v.init(fps)
            except BaseException as error:
                assert type(error).__name__ == {texts.PANIC_NAME!r}
                assert str(error) == {texts.ALREADY_INITIALIZED!r}
            else:
                raise AssertionError("second init succeeded")
            # The second init moves the directory before it fails.
            assert os.getcwd() == {str(home)!r}
            os.chdir({str(elsewhere)!r})
        print("ok")
    """,
        cwd=elsewhere,
    )
    assert result.stderr == ALREADY_INITIALIZED + texts.BACKTRACE_HINT + ALREADY_INITIALIZED


def test_init_keeps_the_directory_of_a_script_started_where_it_lies(tmp_path):
    (tmp_path / "bare.py").write_text(
        "import os\nimport velmo_wrapper as v\nv.init()\nprint(os.getcwd())\n"
    )
    completed = subprocess.run(
        [sys.executable, "bare.py"], cwd=tmp_path, capture_output=True, text=True, timeout=60
    )
    assert completed.returncode == 0, completed.stderr
    assert completed.stdout == f"{tmp_path}\n"


def test_init_without_a_file_name_or_builtins_keeps_the_directory(tmp_path):
    # Code given with -c or to exec has the file name "<string>": no directory
    # part. A __main__ without __builtins__ is given the interpreter's own
    # first. (Called from __main__ itself, init's imports would fail first.)
    (tmp_path / "inner").mkdir()
    result = run_script(
        """
        import __main__, builtins, os
        import velmo_wrapper as v
        os.chdir("inner")
        elsewhere = {"v": v}
        exec("def start(): v.init()", elsewhere)
        del vars(__main__)["__builtins__"]
        elsewhere["start"]()
        print(os.path.basename(os.getcwd()), vars(__main__)["__builtins__"] is vars(builtins))
    """,
        cwd=tmp_path,
    )
    assert result.returncode == 0, result
    assert result.stdout == "inner True\n"


def test_a_failed_init_can_be_repeated(tmp_path):
    home = tmp_path / "home"
    run_from_its_own_directory(
        home,
        f"""
        import os, shutil, sys
        import velmo_wrapper as v

        saved = sys.modules["inspect"] if "inspect" in sys.modules else None
        sys.modules["inspect"] = None
        try:
            v.init()
        except ImportError:
            pass
        else:
            raise AssertionError("init without inspect succeeded")
        if saved is None:
            del sys.modules["inspect"]
        else:
            sys.modules["inspect"] = saved

        # The script's own directory has gone: the directory change fails.
        os.chdir("/")
        shutil.rmtree({str(home)!r})
        try:
            v.init()
        except FileNotFoundError:
            pass
        else:
            raise AssertionError("init into a missing directory succeeded")
        try:
            v.quit()
        except BaseException as error:
            assert str(error) == {texts.NOT_INITIALIZED!r}
        else:
            raise AssertionError("the failed init left an Engine behind")

        os.mkdir({str(home)!r})
        v.init()
        assert os.getcwd() == {str(home)!r}
        print("ok")
    """,
    )


@pytest.mark.skipif(sys.version_info < (3, 9), reason="tracemalloc.reset_peak needs 3.9")
@pytest.mark.cpython_only("tracemalloc")
def test_positional_calls_create_no_temporary_objects():
    result = run_script("""
        import tracemalloc
        import velmo_wrapper as v
        v.init()

        def peak(call):
            for _ in range(10):
                call()
            tracemalloc.start()
            base = tracemalloc.get_traced_memory()[0]
            tracemalloc.reset_peak()
            for _ in range(200):
                call()
            grown = tracemalloc.get_traced_memory()[1] - base
            tracemalloc.stop()
            return grown

        floor = peak(lambda: None)
        calls = {"ceil": lambda: v.ceil(2.5), "quit": v.quit, "rseed": lambda: v.rseed(3),
                 "nseed": lambda: v.nseed(3), "process_exists": lambda: v.process_exists(1),
                 "atan2": lambda: v.atan2(1.0, 2.0), "noise": lambda: v.noise(0.5, 1.5, 2.5)}
        print({name: peak(call) - floor for name, call in calls.items()})
    """)
    assert result.returncode == 0, result
    grown = eval(result.stdout)
    assert grown == {name: 0 for name in grown}


RANDOM_SOURCE_FAILED = f"{texts.PANIC_NAME} {texts.RANDOM_SOURCE_FAILED}"


@posix_only("LD_PRELOAD to replace the entropy source")
@pytest.mark.parametrize(
    "flags, first_init",
    [
        # A refused source (a sandbox's filter, say) is the fatal error, once,
        # with the C library's own text of the error (glibc's and musl's differ).
        (
            ["-DGETRANDOM_ERROR=EPERM"],
            f"{RANDOM_SOURCE_FAILED}{os.strerror(errno.EPERM)} (os error 1)",
        ),
        # A kernel without the system call: /dev/urandom supplies the seed.
        (["-DGETRANDOM_ERROR=ENOSYS"], "None"),
        # ... unless it cannot be read either, or ends too early.
        (
            ["-DGETRANDOM_ERROR=ENOSYS", "-DURANDOM_READ_FAILS"],
            f"{RANDOM_SOURCE_FAILED}{os.strerror(errno.EIO)} (os error 5)",
        ),
        (
            ["-DGETRANDOM_ERROR=ENOSYS", "-DURANDOM_AT_END"],
            f"{RANDOM_SOURCE_FAILED}{os.strerror(errno.EIO)} (os error 5)",
        ),
    ],
    ids=["refused", "no system call", "no system call and no urandom", "urandom at its end"],
)
def test_a_failing_random_source_leaves_no_engine_and_no_second_chance(tmp_path, flags, first_init):
    # The entropy source is replaced by one that always fails.
    preload = preload_library(tmp_path, GETRANDOM_REPLACED, *flags)
    result = run_script(
        """
        import velmo_wrapper as v
        for call in (v.init, v.init, v.quit):
            try:
                print(call())
            except BaseException as error:
                print(type(error).__name__, error)
    """,
        # A fixed hash seed spares the interpreter's own start its read of
        # the failing source (PyPy reads it even with the system call there).
        env={**preload, "PYTHONHASHSEED": "0"},
    )
    assert result.returncode == 0, result
    assert result.stdout.splitlines() == [
        first_init,
        f"{texts.PANIC_NAME} {texts.ALREADY_INITIALIZED}",
        f"{texts.PANIC_NAME} {texts.NOT_INITIALIZED}" if first_init != "None" else "None",
    ]
