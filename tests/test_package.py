"""The package as installed: its version, and what importing it costs."""

import importlib.metadata
import tomllib
from pathlib import Path

import pytest

import orbivex
from tests.helpers import last_line, run_python

PYPROJECT = Path(__file__).resolve().parent.parent / "pyproject.toml"


def test_version_is_the_installed_metadata():
    declared = tomllib.loads(PYPROJECT.read_text())["project"]["version"]
    assert orbivex.__version__ == importlib.metadata.version("orbivex") == declared


def test_a_missing_attribute_is_reported_as_python_reports_it():
    with pytest.raises(AttributeError, match=r"^module 'orbivex' has no attribute 'nothing'$"):
        orbivex.nothing  # noqa: B018


def test_importing_the_package_does_not_load_the_metadata_machinery():
    done = run_python("""
        import sys, orbivex
        before = "importlib.metadata" in sys.modules
        orbivex.__version__
        print(before, "importlib.metadata" in sys.modules)
    """)
    assert last_line(done) == "False True"
