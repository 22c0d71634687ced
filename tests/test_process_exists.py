"""process_exists: the system's process list, read during the call."""

import json
import os
import subprocess

import pytest
import velmo_wrapper
from compat_texts import OUT_OF_RANGE_CONVERSION
from helpers import WINDOWS, posix_only, run_script, windows_only

pytestmark = pytest.mark.portable

NOBODY = 65534
ANOTHER_USER = 65533


class IndexOfOne:
    def __index__(self):
        return 1


# A thread that leads no process, waiting for `release`; its id is tids[0].
WAITING_THREAD = r"""
import threading
started, release = threading.Event(), threading.Event()
tids = []
def hold():
    tids.append(threading.get_native_id())
    started.set()
    release.wait()
thread = threading.Thread(target=hold)
thread.start()
started.wait()
"""

# Each platform's part defines round_of_answers(), the answers for a set of
# ids, and answer_once_gone(), the answer for one of them once its process has
# gone. The first round runs before `init`, the second after it.
AROUND_INIT = r"""
first = round_of_answers()
v.init(60)
second = round_of_answers()
gone = answer_once_gone()
release.set()
thread.join()
print(json.dumps({"before": first, "after": second, "gone": gone}))
"""


def answers_around_init(platform_part):
    result = run_script(platform_part + WAITING_THREAD + AROUND_INIT)
    assert result.returncode == 0, result
    return json.loads(result.stdout)


# The ids whose answers must not depend on `init`: the calling process, its
# parent, init, an unreaped child, a thread that leads no group, and ids no
# process can have. The zombie is forked before the thread starts, and reaped
# only after both rounds.
POSIX_IDS = r"""
import json, os, time
import velmo_wrapper as v

zombie = os.fork()
if zombie == 0:
    os._exit(0)
while open(f"/proc/{zombie}/stat").read().rsplit(")", 1)[1].split()[0] != "Z":
    time.sleep(0.001)  # until the child has exited, left unreaped
with open("/proc/sys/kernel/pid_max") as f:
    pid_max = int(f.read())

def round_of_answers():
    ids = {"self": os.getpid(), "parent": os.getppid(), "init": 1, "zombie": zombie,
           "thread": tids[0], "zero": 0, "above_pid_max": pid_max + 1, "top": 2**32 - 1}
    return {name: v.process_exists(pid) for name, pid in ids.items()}

def answer_once_gone():
    os.waitpid(zombie, 0)
    return v.process_exists(zombie)
"""

# The Windows process list, read through the Toolhelp32 snapshot (another
# system interface than the module's), before and after each round of
# answers: a process that comes or goes in between proves nothing. Thread ids
# share the process ids' number space, so a thread's id must answer False.
AGAINST_THE_SNAPSHOT = r"""
import ctypes, json, os, subprocess, sys
from ctypes import wintypes
import velmo_wrapper as v

class ProcessEntry(ctypes.Structure):
    _fields_ = [("dwSize", wintypes.DWORD), ("cntUsage", wintypes.DWORD),
                ("th32ProcessID", wintypes.DWORD), ("th32DefaultHeapID", ctypes.c_size_t),
                ("th32ModuleID", wintypes.DWORD), ("cntThreads", wintypes.DWORD),
                ("th32ParentProcessID", wintypes.DWORD), ("pcPriClassBase", ctypes.c_long),
                ("dwFlags", wintypes.DWORD), ("szExeFile", ctypes.c_wchar * 260)]

kernel32 = ctypes.WinDLL("kernel32", use_last_error=True)
kernel32.CreateToolhelp32Snapshot.restype = wintypes.HANDLE
kernel32.Process32FirstW.argtypes = kernel32.Process32NextW.argtypes = [
    wintypes.HANDLE, ctypes.POINTER(ProcessEntry)]
kernel32.CloseHandle.argtypes = [wintypes.HANDLE]
TH32CS_SNAPPROCESS = 2

def snapshot():
    handle = kernel32.CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0)
    assert handle not in (None, wintypes.HANDLE(-1).value), ctypes.get_last_error()
    entry = ProcessEntry(dwSize=ctypes.sizeof(ProcessEntry))
    ids = set()
    more = kernel32.Process32FirstW(handle, ctypes.byref(entry))
    while more:
        ids.add(entry.th32ProcessID)
        more = kernel32.Process32NextW(handle, ctypes.byref(entry))
    kernel32.CloseHandle(handle)
    return ids

waiting = subprocess.Popen([sys.executable, "-c", "input()"], stdin=subprocess.PIPE)
ended = subprocess.Popen([sys.executable, "-c", "pass"])
ended.wait()

def round_of_answers():
    before = snapshot()
    candidates = before | {0, 4, 2**32 - 1, tids[0], ended.pid}
    answers = {pid: v.process_exists(pid) for pid in sorted(candidates)}
    after = snapshot()
    disagree = [pid for pid, exists in answers.items()
                if exists != (pid in before) and (pid in before) == (pid in after)]
    return dict(listed=len(before & after), disagree=disagree, self=answers[os.getpid()],
                parent=answers[os.getppid()], waiting=answers[waiting.pid],
                thread=answers[tids[0]], ended=answers[ended.pid])

def answer_once_gone():
    waiting.communicate(b"\n")
    return v.process_exists(waiting.pid)
"""


@posix_only("fork, zombie processes or /proc")
def test_answers_are_the_same_before_and_after_init():
    answers = answers_around_init(POSIX_IDS)
    expected = {
        "self": True,
        "parent": True,
        "init": True,
        "zombie": True,
        "thread": False,
        "zero": False,
        "above_pid_max": False,
        "top": False,
    }
    assert answers["before"] == expected
    assert answers["after"] == expected
    assert answers["gone"] is False


@windows_only("process list against a Toolhelp32 snapshot")
def test_answers_agree_with_the_windows_process_list():
    answers = answers_around_init(AGAINST_THE_SNAPSHOT)
    for round_ in (answers["before"], answers["after"]):
        assert round_["listed"] >= 3 and round_["disagree"] == [], round_
        assert (round_["self"], round_["parent"], round_["waiting"]) == (True, True, True)
        assert (round_["thread"], round_["ended"]) == (False, False)
    assert answers["gone"] is False


# Process 1 is init on Linux; Windows has none (its ids are multiples of 4).
PROCESS_1_EXISTS = not WINDOWS


@pytest.mark.parametrize("pid", [True, IndexOfOne()])
def test_accepts_what_the_index_protocol_accepts(pid):
    assert velmo_wrapper.process_exists(pid) is PROCESS_1_EXISTS
    assert velmo_wrapper.process_exists(pid=pid) is PROCESS_1_EXISTS


@pytest.mark.parametrize(
    "pid, message",
    [
        (1.5, "argument 'pid': 'float' object cannot be interpreted as an integer"),
        ("1", "argument 'pid': 'str' object cannot be interpreted as an integer"),
        (None, "argument 'pid': 'NoneType' object cannot be interpreted as an integer"),
    ],
)
def test_non_integer_is_a_type_error_naming_pid(pid, message):
    with pytest.raises(TypeError) as caught:
        velmo_wrapper.process_exists(pid)
    assert str(caught.value) == message


@pytest.mark.parametrize(
    "pid, message",
    [
        (-1, None),
        (2**32, OUT_OF_RANGE_CONVERSION),
        (2**64, None),
    ],
)
def test_out_of_range_is_the_overflow_error_unchanged(pid, message):
    with pytest.raises(OverflowError) as caught:
        velmo_wrapper.process_exists(pid)
    text = str(caught.value)
    assert not text.startswith("argument")
    if message is not None:
        assert text == message


def as_user(uid):
    def drop():
        os.setgroups([])
        os.setgid(uid)
        os.setuid(uid)

    return drop


@posix_only("setuid to run a process as another user")
@pytest.mark.skipif(
    not WINDOWS and os.geteuid() != 0,
    reason="needs root to run processes as two other users",
)
def test_counts_a_process_that_cannot_be_signalled():
    target = subprocess.Popen(["sleep", "60"], preexec_fn=as_user(NOBODY))
    try:
        assert velmo_wrapper.process_exists(target.pid) is True
        # The check runs in a forked child that has given up root; a new
        # interpreter might not be allowed to start as that user.
        checker = os.fork()
        if checker == 0:
            code = 1
            try:
                as_user(ANOTHER_USER)()
                try:
                    os.kill(target.pid, 0)
                    code = 2
                except PermissionError:
                    ok = (
                        velmo_wrapper.process_exists(target.pid) is True
                        and velmo_wrapper.process_exists(1) is True
                    )
                    code = 0 if ok else 3
            finally:
                os._exit(code)
        _, status = os.waitpid(checker, 0)
        assert os.WIFEXITED(status) and os.WEXITSTATUS(status) == 0
    finally:
        target.kill()
        target.wait()
