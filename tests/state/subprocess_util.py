"""Kept for the tests that still import it from here: the helpers now live in tests.helpers."""

from tests.helpers import last_line, run_python

__all__ = ["last_line", "run_python"]
