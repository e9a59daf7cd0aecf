"""Helpers every test folder uses: code run in a fresh interpreter (import-time behaviour, process
state such as the locale, crashes that must fail one test rather than the run), bit-exact
comparison of floats, and an object that shows whether a reference cycle was collected."""

import numbers
import os
import subprocess
import sys
import textwrap
from collections.abc import Mapping, Sequence

import numpy as np

__all__ = ["Finalised", "bits", "error_line", "last_line", "run_python"]


def run_python(
    code: str,
    *flags: str,
    args: Sequence[str] = (),
    env: Mapping[str, str] | None = None,
    timeout: float = 120.0,
) -> subprocess.CompletedProcess[str]:
    """Runs `code` (dedented) as `python <flags> -c code <args>` with the running interpreter, in a
    fresh process that finds the same modules as this one (orbivex as built, this `tests`
    package). `env` is added to this process's environment. Output is captured as text."""
    full_env = dict(os.environ)
    full_env.update(env or {})
    full_env["PYTHONPATH"] = os.pathsep.join(p for p in sys.path if p)
    return subprocess.run(
        [sys.executable, *flags, "-c", textwrap.dedent(code), *args],
        capture_output=True,
        text=True,
        timeout=timeout,
        env=full_env,
    )


def last_line(done: subprocess.CompletedProcess[str]) -> str:
    """The last line the process printed (what a script reports), shown with its stderr when it
    printed nothing."""
    lines = done.stdout.strip().splitlines()
    assert lines, done.stderr
    return lines[-1]


def error_line(done: subprocess.CompletedProcess[str]) -> str:
    """The last line of stderr of a process that must have failed: the exception of its
    traceback."""
    assert done.returncode != 0, f"the process should have failed:\n{done.stdout}"
    lines = done.stderr.strip().splitlines()
    assert lines, "the process failed without a message"
    return lines[-1]


def _float_bits(x: float) -> str:
    # float.hex is exact and unique for every double but NaN, and readable in a failed assert.
    return float(x).hex()


def bits(x):
    """What bit-exact comparison compares: for a number, its float64 value written exactly (0.0
    and -0.0 differ; every NaN is "nan", as the sign and payload of a NaN are not part of any
    result); for an array or a sequence, the list of those of its elements in C order."""
    if isinstance(x, numbers.Real):
        return _float_bits(x)
    return [_float_bits(v) for v in np.asarray(x, dtype=np.float64).ravel()]


class Finalised:
    """Appends "finalised" to `log` when it is finalised: held by a reference cycle, it shows
    whether the garbage collector freed that cycle."""

    def __init__(self, log: list[str]) -> None:
        self.log = log

    def __del__(self) -> None:
        self.log.append("finalised")
