"""Tests of typing: the stubs as mypy, pyright and stubtest see them, and orbivex.typing."""
