"""Tests of the type stubs with mypy, pyright and stubtest."""
