"""The wheel that `pip wheel` builds: one cp38-abi3 wheel whose module uses
nothing outside the stable ABI of Python 3.8 and which carries both stubs."""

import json
import os
import pathlib
import re
import subprocess
import sys
import zipfile

import pytest
from helpers import not_free_threaded, oldest_python, posix_only, run_module, run_python

ROOT = pathlib.Path(__file__).resolve().parent.parent
STUB_SOURCE = ROOT / "velmo-wrapper" / "velmo_wrapper.pyi"

pytestmark = [
    pytest.mark.builds_wheel,
    posix_only(
        "supported compiler: its wheel is cross-built on Linux by tools/cross/windows/wheel.sh"
    ),
    # PyPy has no stable ABI; its wheel is built and tested by tools/cross/full_api/wheel.sh.
    pytest.mark.cpython_only("stable ABI, which the cp38-abi3 wheel is built for"),
    not_free_threaded("has no stable ABI: tools/cross/full_api/wheel.sh builds its cp313t wheel"),
]


@pytest.fixture(scope="module")
def wheel(tmp_path_factory):
    out = tmp_path_factory.mktemp("wheel")
    options = ("--no-build-isolation", "--no-deps", "--quiet")
    completed = run_module("pip", "wheel", *options, ROOT, "-w", out, cwd=ROOT, timeout=1200)
    assert completed.returncode == 0, completed.stdout + completed.stderr
    (built,) = out.glob("*.whl")
    return built


def test_wheel_is_one_cp38_abi3_wheel_with_both_stubs(wheel):
    name, version, python_tag, abi_tag, platform_tag = wheel.stem.split("-")
    assert (name, python_tag, abi_tag) == ("velmo_wrapper", "cp38", "abi3")
    with zipfile.ZipFile(wheel) as archive:
        names = archive.namelist()
        stub = STUB_SOURCE.read_bytes()
        assert archive.read("velmo_wrapper.pyi") == stub
        assert archive.read("velmo_wrapper-stubs/__init__.pyi") == stub
        wheel_info = archive.read(f"velmo_wrapper-{version}.dist-info/WHEEL").decode()
    modules = [n for n in names if n.startswith("velmo_wrapper.") and n.endswith((".so", ".pyd"))]
    assert modules in (["velmo_wrapper.abi3.so"], ["velmo_wrapper.pyd"])
    assert f"Tag: cp38-abi3-{platform_tag}" in wheel_info.splitlines()


def test_abi3audit_finds_only_the_stable_abi_of_3_8(wheel, tmp_path):
    pytest.importorskip("abi3audit", reason="abi3audit is not installed")
    report_file = tmp_path / "report.json"
    options = ("--strict", "--report", "--output", report_file)
    completed = run_module("abi3audit", *options, wheel)
    assert completed.returncode == 0, completed.stdout + completed.stderr
    (spec,) = json.loads(report_file.read_text())["specs"].values()
    (extension,) = spec["wheel"]
    result = extension["result"]
    assert result["is_abi3"] and result["is_abi3_baseline_compatible"]
    # The tag says 3.8; no symbol may need a later version than that.
    assert result["baseline"] == "3.8"
    assert result["non_abi3_symbols"] == [] and result["future_abi3_objects"] == {}


SAME_NUMBERS = """
import velmo_wrapper as velmo
velmo.init()
for seed in (0, 42, 4294967295):
    velmo.rseed(seed)
    velmo.nseed(seed)
    print([velmo.rndi(-1000, 1000) for _ in range(20)])
    print([repr(velmo.rndf(-3.0, 0.1)) for _ in range(20)])
    print([repr(velmo.noise(i * 0.37, i * -1.91, i * 2.3)) for i in range(20)])
    print([repr(f(i * 7.5)) for f in (velmo.sin, velmo.cos, velmo.sqrt) for i in range(10)])
"""


def test_wheel_gives_the_same_numbers_on_python_3_8(wheel, tmp_path):
    python38 = oldest_python()
    if python38 is None:
        pytest.skip("no Python 3.8 on this machine")
    # A wheel is a zip archive: unpacked onto the path it is installed for this purpose.
    with zipfile.ZipFile(wheel) as archive:
        archive.extractall(tmp_path / "site")
    on_38 = subprocess.run(
        [python38, "-c", SAME_NUMBERS],
        capture_output=True,
        text=True,
        env={**os.environ, "PYTHONPATH": str(tmp_path / "site")},
        cwd=tmp_path,
        timeout=120,
    )
    assert on_38.returncode == 0, on_38.stderr
    here = subprocess.run(
        [sys.executable, "-c", SAME_NUMBERS],
        capture_output=True,
        text=True,
        cwd=tmp_path,
        timeout=120,
    )
    assert here.returncode == 0, here.stderr
    assert on_38.stdout == here.stdout and on_38.stdout.count("\n") == 12


# What a configure of the sdist stops with, per case: -D options and the texts
# the refusal must hold.
REFUSALS = {
    "macOS": (["-DCMAKE_SYSTEM_NAME=Darwin"], ["cannot be built for Darwin", "Linux", "Windows"]),
    "Microsoft's compiler": (["-DCMAKE_CXX_COMPILER_ID=MSVC"], ["compiler MSVC", "GCC or Clang"]),
}


def test_sdist_refusals_point_to_a_wheel_and_name_nothing_it_lacks(tmp_path):
    build_sdist = "import sys, scikit_build_core.build as b; print(b.build_sdist(sys.argv[1]))"
    completed = run_python("-c", build_sdist, tmp_path, cwd=ROOT)
    assert completed.returncode == 0, completed.stderr
    archive = tmp_path / completed.stdout.split()[-1]
    subprocess.run(["tar", "-xzf", archive, "-C", tmp_path], check=True)
    source = tmp_path / archive.name.removesuffix(".tar.gz")
    for case, (options, texts) in REFUSALS.items():
        configure = ["cmake", "-S", source, "-B", tmp_path / "build" / case, *options]
        refused = subprocess.run(configure, capture_output=True, text=True, timeout=120)
        message = " ".join(refused.stderr.split())
        assert refused.returncode != 0 and "pip install velmo_wrapper-" in message, (case, message)
        assert all(text in message for text in texts), (case, message)
        # A file the message names must be one the reader of the sdist has.
        named = re.findall(r"[\w./-]+\.(?:sh|py|md|cmake)\b", message)
        assert all((source / name).is_file() for name in named), (case, named)
