"""The stubs as type checkers see them: mypy --strict and pyright (strict) accept the user script
and refuse each marked line of the misuse file, mypy --strict accepts the package itself, and
stubtest finds the stubs of every extension module true to the modules as built.

The checkers run on the installed package (the one this interpreter imports), each in a fresh
temporary directory with its own configuration and cache, so that no configuration, cache or
source tree around them changes the result. A checker that is not installed is skipped, unless
ORBIVEX_REQUIRE_TYPE_CHECKERS=1 (set by `make test`, which installs them) makes that a failure.
"""

from __future__ import annotations

import importlib.util
import json
import os
import re
import runpy
import site
import subprocess
import sys
import sysconfig
from importlib.machinery import EXTENSION_SUFFIXES
from pathlib import Path

import pytest

import orbivex

HERE = Path(__file__).resolve().parent
USER_SCRIPT = HERE / "user_script.py"
MISUSE = HERE / "misuse.py"
ALLOWLIST = HERE / "stubtest_allowlist.txt"
PACKAGE = Path(orbivex.__file__).resolve().parent

# Extension modules a wheel ships (at least these: every one found is checked); orbivex._testing
# is built for the tests only.
SHIPPED_EXTENSIONS = {
    "orbivex.datamodel.structured",
    "orbivex.mathtools.misc.misc",
    "orbivex.mathtools.quiver.quiver",
    "orbivex.propagators.analytical.sgp4.tle",
    "orbivex.state.coe",
    "orbivex.time.ctime",
    "orbivex.units.units",
    "orbivex.utils.representable",
}
TEST_ONLY = "orbivex._testing"
# Each run takes seconds; the limit only keeps a hung checker from stalling the suite.
TIMEOUT = 600


def require(module: str) -> None:
    if importlib.util.find_spec(module) is not None:
        return
    if os.environ.get("ORBIVEX_REQUIRE_TYPE_CHECKERS") == "1":
        pytest.fail(f"{module} is not installed, and ORBIVEX_REQUIRE_TYPE_CHECKERS=1")
    pytest.skip(f"{module} is not installed")


def checker_env() -> dict[str, str]:
    """The environment of a checker: it must find the orbivex this interpreter imports."""
    env = dict(os.environ)
    root = str(PACKAGE.parent)
    site_dirs = {
        *site.getsitepackages(),
        sysconfig.get_path("purelib"),
        sysconfig.get_path("platlib"),
    }
    if root not in site_dirs:
        env["PYTHONPATH"] = os.pathsep.join(p for p in (root, env.get("PYTHONPATH")) if p)
    # No look-up of a newer release (pyright's wrapper asks PyPI otherwise).
    env["PYRIGHT_PYTHON_IGNORE_WARNINGS"] = "1"
    return env


def run(args: list[str], cwd: Path) -> subprocess.CompletedProcess[str]:
    return subprocess.run(
        [sys.executable, *args],
        cwd=cwd,
        env=checker_env(),
        capture_output=True,
        text=True,
        timeout=TIMEOUT,
    )


def refused_lines(path: Path) -> set[int]:
    """Numbers of the lines whose code ends in the marker comment."""
    lines = path.read_text(encoding="utf-8").splitlines()
    return {n for n, line in enumerate(lines, 1) if re.search(r"\S.*  # refused$", line)}


def extension_modules() -> list[str]:
    found = []
    for path in PACKAGE.rglob("*"):
        suffix = next((s for s in EXTENSION_SUFFIXES if path.name.endswith(s)), None)
        if suffix is None:
            continue
        parts = path.relative_to(PACKAGE.parent).parts
        name = ".".join((*parts[:-1], path.name[: -len(suffix)]))
        if not name.startswith(TEST_ONLY + "."):
            found.append(name)
    return sorted(found)


def test_user_script_runs():
    # What the script asserts of the values it gets holds at run time, not only for checkers.
    runpy.run_path(str(USER_SCRIPT), run_name="__main__")


def test_misuse_file_marks_lines():
    assert len(refused_lines(MISUSE)) >= 20


def test_package_under_test_has_its_stubs():
    # The checkers read the stubs beside the modules; without them they would check nothing.
    modules = extension_modules()
    assert SHIPPED_EXTENSIONS <= set(modules)
    for name in modules:
        stub = PACKAGE.parent.joinpath(*name.split(".")).with_suffix(".pyi")
        assert stub.is_file(), stub
    assert (PACKAGE / "py.typed").is_file()


@pytest.fixture(scope="module")
def mypy_dir(tmp_path_factory: pytest.TempPathFactory) -> Path:
    """An empty configuration and a cache shared by the mypy runs of this module."""
    require("mypy")
    path = tmp_path_factory.mktemp("mypy")
    (path / "mypy.ini").write_text("[mypy]\n", encoding="utf-8")
    return path


def mypy(workdir: Path, *targets: str) -> subprocess.CompletedProcess[str]:
    return run(
        [
            "-m",
            "mypy",
            "--strict",
            "--config-file",
            str(workdir / "mypy.ini"),
            "--cache-dir",
            str(workdir / "cache"),
            "--python-executable",
            sys.executable,
            "--no-color-output",
            "--no-error-summary",
            "--hide-error-context",
            *targets,
        ],
        workdir,
    )


class TestMypy:
    def test_user_script_and_misuse(self, mypy_dir: Path):
        done = mypy(mypy_dir, str(USER_SCRIPT), str(MISUSE))
        errors: dict[Path, set[int]] = {USER_SCRIPT: set(), MISUSE: set()}
        for match in re.finditer(r"^(.+?):(\d+): error: ", done.stdout, re.MULTILINE):
            errors.setdefault(Path(match[1]).resolve(), set()).add(int(match[2]))
        report = done.stdout + done.stderr
        assert not errors[USER_SCRIPT], report
        assert errors == {USER_SCRIPT: set(), MISUSE: refused_lines(MISUSE)}, report
        assert done.returncode == 1, report  # errors found, none of them a crash

    def test_package_passes_strict(self, mypy_dir: Path):
        # The stubs themselves (overlapping overloads, missing type arguments), with the Python
        # modules beside them: errors there stay hidden when only a user's script is checked.
        done = mypy(mypy_dir, "-p", "orbivex")
        assert done.returncode == 0, done.stdout + done.stderr
        assert done.stdout == "", done.stdout


class TestPyright:
    def test_user_script_and_misuse(self, tmp_path: Path):
        require("pyright")
        config = tmp_path / "pyrightconfig.json"
        # The user script asks for strict mode itself; the misuse file is checked as most users
        # check their code.
        config.write_text(json.dumps({"typeCheckingMode": "standard"}), encoding="utf-8")
        done = run(
            [
                "-m",
                "pyright",
                "--outputjson",
                "--project",
                str(config),
                "--pythonpath",
                sys.executable,
                str(USER_SCRIPT),
                str(MISUSE),
            ],
            tmp_path,
        )
        report = done.stdout + done.stderr
        try:
            result = json.loads(done.stdout)
        except json.JSONDecodeError:
            pytest.fail(f"pyright gave no report: {report}")
        assert result["summary"]["filesAnalyzed"] == 2, report
        found: dict[Path, set[int]] = {USER_SCRIPT: set(), MISUSE: set()}
        for diagnostic in result["generalDiagnostics"]:
            if diagnostic["severity"] == "error":
                line = diagnostic["range"]["start"]["line"] + 1
                found.setdefault(Path(diagnostic["file"]).resolve(), set()).add(line)
        user_notes = [
            d for d in result["generalDiagnostics"] if Path(d["file"]).resolve() == USER_SCRIPT
        ]
        assert not user_notes, json.dumps(user_notes, indent=1)
        assert found == {USER_SCRIPT: set(), MISUSE: refused_lines(MISUSE)}, report


class TestStubtest:
    def test_every_extension_module(self, tmp_path: Path):
        require("mypy")
        modules = extension_modules()
        assert SHIPPED_EXTENSIONS <= set(modules)
        (tmp_path / "mypy.ini").write_text("[mypy]\n", encoding="utf-8")
        done = run(
            [
                "-m",
                "mypy.stubtest",
                "--strict-type-check-only",
                "--concise",
                "--mypy-config-file",
                str(tmp_path / "mypy.ini"),
                "--allowlist",
                str(ALLOWLIST),
                *modules,
            ],
            tmp_path,
        )
        assert done.returncode == 0, done.stdout + done.stderr
