"""Arguments stay alive for the whole call, whatever the conversions do."""

import os

import pytest
import velmo_wrapper
from helpers import oldest_python, run_script

pytestmark = pytest.mark.binding

# A conversion empties the keyword dictionary it was called with. Where the
# interpreter hands `f(**d)` the caller's own dictionary (3.8 does), the
# second argument would be freed while its slot still points at it.
EMPTIED_DICTIONARY = """
import gc
import velmo_wrapper as v

d = {}
deleted = []

class Empties:
    def __float__(self):
        d.clear()
        return 1.0

class Victim:
    def __float__(self):
        assert not deleted, "argument freed during the call"
        return -1.0
    def __del__(self):
        deleted.append(True)

v.init()
d["y"] = Empties()
d["x"] = Victim()
result = v.atan2(**d)
gc.collect()  # PyPy runs finalisers only when it collects
print(result, deleted)
"""


def interpreters():
    found = [None]
    oldest = oldest_python()
    if oldest is not None:
        found.append(oldest)
    return found


@pytest.mark.parametrize("interpreter", interpreters(), ids=lambda i: i or "this Python")
def test_keyword_arguments_outlive_a_dictionary_emptied_mid_call(tmp_path, interpreter):
    env = None
    if interpreter is not None:
        env = {"PYTHONPATH": os.path.dirname(velmo_wrapper.__file__)}
    result = run_script(EMPTIED_DICTIONARY, env=env, interpreter=interpreter)
    assert result.returncode == 0, result
    assert result.stdout == "135.0 [True]\n"
