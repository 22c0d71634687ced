"""What child scripts share: they import this module from the tests directory,
which helpers.run_script puts on their PYTHONPATH."""

import random
import sys


def error_name(kind):
    """A built-in exception's bare name, any other one's "module.name"."""
    if kind.__module__ == "builtins":
        return kind.__qualname__
    return f"{kind.__module__}.{kind.__qualname__}"


def outcome(call):
    """("ok", the result's repr) or (the error's name, its text), for any error."""
    try:
        return ("ok", repr(call()))
    except BaseException as error:  # noqa: BLE001 - every outcome is recorded
        return (error_name(type(error)), str(error))


def failures_over_random_cases(check, seed, count=3000):
    """What `check(pick)` yields over `count` calls that share one
    random.Random(seed): each call draws a case from `pick` and yields a
    description of every failure it finds."""
    pick = random.Random(seed)
    return [failure for _ in range(count) for failure in check(pick)]


def type_whose_name_calls(action):
    """A metaclass whose classes call `action()` whenever their `__qualname__`
    is read: with an `action` that raises, a type that cannot be named."""

    class NameCalls(type):
        def __getattribute__(cls, name):
            if name == "__qualname__":
                action()
            return super().__getattribute__(name)

    return NameCalls


def panic_type():
    """The module's PanicException type, which it does not export: the type
    of the error quit() raises before init."""
    import velmo_wrapper

    try:
        velmo_wrapper.quit()
    except BaseException as error:  # noqa: BLE001 - the type is what is wanted
        return type(error)
    raise AssertionError("quit() before init did not fail")


def run_recording(record, enough):
    """Runs the loop of an initialized module with an update that appends
    `record()` to a list each frame; once `enough(list)`, prints the list and
    ends the process through sys.exit(0)."""
    # Imported here and in panic_type: the other helpers serve scripts that
    # import the module later, or not at all.
    import velmo_wrapper

    records = []

    def update():
        records.append(record())
        if enough(records):
            print(records)
            sys.exit(0)

    velmo_wrapper.run(update, lambda: None, lambda: None)
