"""The type stub against the built module (stubtest), where the installed
stubs sit, and mypy on the examples and on misuse it must catch."""

import importlib.util
import pathlib
import textwrap

import pytest
from helpers import run_module

pytestmark = [
    pytest.mark.type_check,
    pytest.mark.cpython_only("mypy (librt) and stubtest (_symtable)"),
]

pytest.importorskip("mypy", reason="mypy is not installed")

ROOT = pathlib.Path(__file__).resolve().parent.parent
STUB_SOURCE = ROOT / "velmo-wrapper" / "velmo_wrapper.pyi"


def mypy(*args, cwd):
    return run_module(
        "mypy", "--no-error-summary", "--cache-dir", cwd / ".mypy_cache", *args, cwd=cwd
    )


def test_installed_stubs_are_the_one_source():
    module_file = pathlib.Path(importlib.util.find_spec("velmo_wrapper").origin)
    beside = module_file.parent / "velmo_wrapper.pyi"
    package = module_file.parent / "velmo_wrapper-stubs" / "__init__.pyi"
    source = STUB_SOURCE.read_text(encoding="utf-8")
    assert beside.read_text(encoding="utf-8") == source
    assert package.read_text(encoding="utf-8") == source


def test_stubtest_agrees_with_the_module(tmp_path):
    allowlist = ROOT / "tests" / "stubtest_allowlist.txt"
    completed = run_module("mypy.stubtest", "velmo_wrapper", "--allowlist", allowlist, cwd=tmp_path)
    assert completed.returncode == 0, completed.stdout + completed.stderr


def test_examples_type_check_strictly(tmp_path):
    completed = mypy("--strict", *map(str, sorted((ROOT / "examples").glob("*.py"))), cwd=tmp_path)
    assert completed.returncode == 0, completed.stdout + completed.stderr


def test_mypy_catches_misuse(tmp_path):
    (tmp_path / "misuse.py").write_text(
        textwrap.dedent("""\
        import velmo_wrapper as velmo

        velmo.init()
        velmo.init(None)
        velmo.rndi(1.5, 6)
        velmo.title(5)
        label: str = velmo.floor(2.5)
        reveal_type(velmo.noise(1, None, 2))
        reveal_type(velmo.process_exists(1))
        velmo.run(lambda: None, lambda: None)


        def forever() -> int:
            velmo.show()  # NoReturn: no missing-return error here
        """),
        encoding="utf-8",
    )
    completed = mypy("misuse.py", cwd=tmp_path)
    reports = {}
    for line in completed.stdout.splitlines():
        number, _, text = line.partition(":")[2].partition(":")
        reports.setdefault(int(number), []).append(text)
    # Messages differ a little between mypy versions: match their key parts.
    expected = {
        5: ['"rndi"', '"float"', "SupportsIndex"],
        6: ['"title"', '"int"', '"str"'],
        7: ['expression has type "int"', 'variable has type "str"'],
        8: ["Revealed type is", "float"],
        9: ["Revealed type is", "bool"],
        10: ['"close"', '"run"'],
    }
    assert sorted(reports) == sorted(expected), completed.stdout + completed.stderr
    for number, fragments in expected.items():
        (text,) = reports[number]
        assert all(fragment in text for fragment in fragments), text
