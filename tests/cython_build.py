"""Compiles a small Cython module against the installed orbivex (its .pxd files) in a temporary
directory, with the running interpreter, and imports it: a consumer as a user would build one."""

import importlib.util
import os
import subprocess
import sys
import sysconfig
from pathlib import Path

import numpy

import orbivex

__all__ = ["build_consumer", "generated_c"]

# The directory that holds the installed `orbivex` package: where Cython finds our .pxd files.
PACKAGE_ROOT = Path(orbivex.__file__).resolve().parent.parent


def _run(cmd: list[str], cwd: Path, what: str) -> None:
    done = subprocess.run(cmd, cwd=cwd, capture_output=True, text=True)
    if done.returncode != 0:
        raise RuntimeError(f"{what} failed:\n{done.stdout}{done.stderr}")


def generated_c(tmp_path: Path, name: str, source: str, include_dirs=()) -> str:
    """Cythonizes `source` as module `name` in `tmp_path` and returns the generated C text.
    `include_dirs` are searched for .pxd files before the installed package."""
    tmp_path = Path(tmp_path)
    pyx = tmp_path / f"{name}.pyx"
    pyx.write_text(source)
    includes = [arg for d in (*include_dirs, PACKAGE_ROOT) for arg in ("-I", str(d))]
    cmd = [sys.executable, "-m", "cython", "-3", *includes, str(pyx)]
    _run(cmd, tmp_path, f"cythonizing {name}")
    return (tmp_path / f"{name}.c").read_text()


def build_consumer(tmp_path: Path, name: str, source: str, include_dirs=()):
    """Cythonizes, compiles and imports `source` as extension module `name`; the import is
    where Cython binds and checks every cimported native entry."""
    tmp_path = Path(tmp_path)
    generated_c(tmp_path, name, source, include_dirs)
    out = tmp_path / f"{name}{sysconfig.get_config_var('EXT_SUFFIX')}"
    cc = os.environ.get("CC", "cc")
    cmd = [
        cc,
        "-shared",
        "-fPIC",
        "-O1",
        "-w",
        "-I",
        sysconfig.get_paths()["include"],
        "-I",
        numpy.get_include(),
        str(tmp_path / f"{name}.c"),
        "-o",
        str(out),
    ]
    _run(cmd, tmp_path, f"compiling {name}")
    spec = importlib.util.spec_from_file_location(name, out)
    module = importlib.util.module_from_spec(spec)
    spec.loader.exec_module(module)
    return module
