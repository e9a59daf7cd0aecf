"""Runs Python code in a fresh interpreter (for import-time behaviour of orbivex.state.coe)."""

import os
import subprocess
import sys
import textwrap


def run_python(code: str, *flags: str, timeout: float = 120.0) -> subprocess.CompletedProcess:
    """Runs `code` with the running interpreter and the same module search path."""
    env = dict(os.environ)
    env["PYTHONPATH"] = os.pathsep.join(p for p in sys.path if p)
    return subprocess.run(
        [sys.executable, *flags, "-c", textwrap.dedent(code)],
        capture_output=True, text=True, timeout=timeout, env=env,
    )


def last_line(done: subprocess.CompletedProcess) -> str:
    lines = done.stdout.strip().splitlines()
    assert lines, done.stderr
    return lines[-1]
