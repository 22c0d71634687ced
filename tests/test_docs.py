"""The reference and the README against the module they describe."""

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
    assert len(commands) == 2
    install, example = commands[0].split(" && ")
    assert install == "pip install ." and example.startswith("python examples/")
    assert (ROOT / example.split()[1]).is_file()
    assert commands[1] == "./run_tests.sh"


def test_noise_picture_is_drawn_from_the_fields_numbers(script):
    # docs/pictures.py stores the checksum of the samples it drew beside the
    # picture: the same samples must still give it, bit for bit.
    result = script(f"""
        import sys
        sys.path.insert(0, {str(ROOT / "docs")!r})
        import pictures
        import velmo_wrapper
        velmo_wrapper.init()
        print(pictures.noise_digest(pictures.noise_slice()))
    """)
    assert result.returncode == 0, result
    stored = (ROOT / "docs" / "images" / "noise.sha256").read_text(encoding="utf-8")
    assert result.stdout == stored
