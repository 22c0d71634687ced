"""What child scripts share: they import this module from the tests directory,
which conftest.run_script puts on their PYTHONPATH."""


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
