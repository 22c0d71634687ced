"""Many thousand calls through every function's success and error paths leave
the argument objects' reference counts and the process's memory where they
were: leakcheck.py, with fewer calls than its own million."""

import os
import subprocess

import pytest
from helpers import TESTS_DIRECTORY, THIS_INTERPRETER, child_environment

pytestmark = pytest.mark.measures_memory

LEAKCHECK = os.path.join(TESTS_DIRECTORY, "leakcheck.py")


@pytest.mark.cpython_only("sys.getrefcount")
def test_no_growth_over_many_calls():
    result = subprocess.run(
        [*THIS_INTERPRETER, LEAKCHECK, "--calls", "200000", "--limit-kib", "1024"],
        env=child_environment(),
        capture_output=True,
        text=True,
        timeout=300,
    )
    assert result.returncode == 0, result.stdout + result.stderr[-2000:]
    assert result.stdout.rstrip().endswith("leak check: passed"), result.stdout
