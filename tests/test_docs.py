"""The reference and the README against the module they describe."""

import os
import pathlib
import re

import velmo_wrapper

ROOT = pathlib.Path(__file__).resolve().parent.parent


def test_reference_has_one_section_per_function_with_its_signature():
    reference = (ROOT / "docs" / "api.md").read_text(encoding="utf-8")
    headings = re.findall(r"^#{2,3} `(\w+)(\(.*\))`$", reference, re.M)
    assert [name for name, _ in headings] == velmo_wrapper.__all__
    for name, signature in headings:
        assert signature == getattr(velmo_wrapper, name).__text_signature__, name


def test_readme_opens_with_the_two_commands():
    readme = (ROOT / "README.md").read_text(encoding="utf-8")
    first_block = re.search(r"```sh\n(.*?)```", readme, re.S).group(1)
    commands = [line.split("#")[0].strip() for line in first_block.splitlines()]
    assert commands == ["./install_and_run.sh", "./run_tests.sh"]
    assert all(os.access(ROOT / command, os.X_OK) for command in commands)
    # The script and the route for a build environment run the same example.
    script = (ROOT / "install_and_run.sh").read_text(encoding="utf-8")
    example = re.search(r"examples/\w+\.py", script).group(0)
    assert (ROOT / example).is_file()
    assert f"`pip install . && python {example}`" in readme
