"""The reference and the README against the module they describe."""

import ast
import inspect
import os
import pathlib
import re
import shlex

import pytest
import velmo_wrapper
from helpers import run_python, run_script

pytestmark = pytest.mark.docs

ROOT = pathlib.Path(__file__).resolve().parent.parent
# The documents of the site (docs/index.md includes the README).
DOCUMENTS = ["README.md", "docs/api.md"]


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


def test_noise_picture_is_drawn_from_the_fields_numbers():
    # docs/pictures.py stores the checksum of the samples it drew beside the
    # picture: the same samples must still give it, bit for bit.
    result = run_script(f"""
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


def code_blocks(kinds):
    """Each fenced block of the documents whose kind (its language, or
    "session" for a plain block of `$ ` commands) is in `kinds`, as a pytest
    parameter named after its file and line."""
    blocks = []
    for name in DOCUMENTS:
        text = (ROOT / name).read_text(encoding="utf-8")
        for block in re.finditer(r"^```(\w*)\n(.*?)^```$", text, re.M | re.S):
            language, body = block.groups()
            kind = "session" if not language and body.startswith("$ ") else language
            if kind in kinds:
                line = text.count("\n", 0, block.start()) + 1
                blocks.append(pytest.param(body, id=f"{name}:{line}"))
    return blocks


SIGNATURE = re.compile(r"^(\w+)\((.*)\) -> \S.*$", re.S)


@pytest.mark.parametrize("body", code_blocks({"python"}))
def test_python_example_runs(body):
    signature = SIGNATURE.match(body.strip())
    if signature:
        # A signature: valid Python, naming the function's parameters in order.
        definition = ast.parse(f"def {body.strip()}: ...").body[0]
        function = getattr(velmo_wrapper, signature.group(1))
        written = [argument.arg for argument in definition.args.args]
        assert written == list(inspect.signature(function).parameters)
        return
    # A script: run in an interpreter of its own, as the init it may call
    # can happen once a process.
    result = run_script(body)
    assert (result.returncode, result.stderr) == (0, ""), result


@pytest.mark.parametrize("body", code_blocks({"session"}))
def test_shell_session_prints_what_is_shown(body):
    command, *shown = body.splitlines()
    words = shlex.split(command[2:])
    assert words[0] == "python"
    result = run_python(*words[1:])
    # Python 3.13 adds the source line of `-c` code, and carets, below a
    # traceback's frame: the lines indented by four spaces.
    printed = [line for line in result.stderr.splitlines() if not line.startswith("    ")]
    assert (result.stdout, printed) == ("", shown)


def scripts_in_commands():
    """Each script that a command of the documents' `sh` blocks starts."""
    scripts = []
    for block in code_blocks({"sh"}):
        commands = [line.split("#")[0] for line in block.values[0].splitlines()]
        words = [word for command in commands for word in command.split()]
        scripts += [
            pytest.param(word, id=f"{block.id}:{word}")
            for word in words
            if word.endswith((".sh", ".py"))
        ]
    return scripts


# The commands build and test the project, and CI runs each of them; here
# each script they start must be where they say.
@pytest.mark.parametrize("script_path", scripts_in_commands())
def test_commands_start_scripts_that_exist(script_path):
    assert (ROOT / script_path).is_file()


# The package index the release serves its artifacts on (tools/targets.py
# names it in VELMO_INDEX_URL for the tests it runs).
INDEX_URL = os.environ.get("VELMO_INDEX_URL")


def install_commands():
    """Each `pip install NAME` command of the documents' `sh` blocks."""
    return [
        pytest.param(line.split("#")[0].strip(), id=block.id)
        for block in code_blocks({"sh"})
        for line in block.values[0].splitlines()
        if line.startswith("pip install ") and ".whl" not in line and " ." not in line
    ]


@pytest.mark.skipif(not INDEX_URL, reason="it needs the package on an index (VELMO_INDEX_URL)")
@pytest.mark.parametrize("command", install_commands())
def test_install_command_installs_the_module_from_the_index(command, tmp_path):
    # From that index alone (the machine's pip settings left out), into a
    # directory of its own, so that this environment's copy cannot answer.
    words = shlex.split(command)
    index = ["--isolated", "--no-deps", "--index-url", INDEX_URL, "--target", tmp_path]
    installed = run_python("-m", *words, *index)
    assert installed.returncode == 0, installed.stderr
    imported = run_python(
        "-c",
        "import sys; sys.path.insert(0, sys.argv[1]); import velmo_wrapper; "
        "print(velmo_wrapper.__file__)",
        tmp_path,
    )
    assert imported.stdout.startswith(str(tmp_path)), imported
