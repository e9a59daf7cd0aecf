"""The hand-written declarations of the modules whose native table is their whole surface (quiver,
misc, units) agree with that table: each .pxd declares every published entry once (quiver.pxd
keeps its row-wise kernels apart, so order is not compared), and units.pyi types each constant
as a float, in publication order."""

import ast
import importlib
import re
from pathlib import Path

import pytest

from tests.capsules import table

TABLE_MODULES = [
    "orbivex.mathtools.quiver.quiver",
    "orbivex.mathtools.misc.misc",
    "orbivex.units.units",
]
CDEF = re.compile(r"^cdef\s+([^#\n]+)", re.MULTILINE)


def beside(module, suffix: str) -> Path:
    """The declaration file installed beside the extension module."""
    path = Path(module.__file__)
    return path.with_name(module.__name__.rpartition(".")[2] + suffix)


def pxd_names(text: str) -> list[str]:
    """Names of the module-level cdef declarations, in order: a function is named by the word
    before its parameter list, a variable declaration lists one or more names after its type."""
    names = []
    for decl in CDEF.findall(text):
        if "(" in decl:
            names.append(re.findall(r"\w+", decl.partition("(")[0])[-1])
        else:
            first, *rest = decl.split(",")
            names += [first.split()[-1], *(name.strip() for name in rest)]
    return names


def test_the_pxd_reader_finds_functions_and_variables():
    text = "# f\ncdef double* f(double x)\ncdef void g(double (*M)[3]) nogil\ncdef double a, b\n"
    assert pxd_names(text) == ["f", "g", "a", "b"]


@pytest.mark.parametrize("name", TABLE_MODULES)
def test_pxd_declares_every_native_entry_once(name):
    module = importlib.import_module(name)
    assert sorted(pxd_names(beside(module, ".pxd").read_text())) == sorted(table(module))


def test_units_pyi_types_each_published_constant_as_float():
    import orbivex.units.units as units

    tree = ast.parse(beside(units, ".pyi").read_text())
    declared = [
        (node.target.id, ast.unparse(node.annotation))
        for node in tree.body
        if isinstance(node, ast.AnnAssign)
    ]
    assert declared == [("__pyx_capi__", "dict[str, Any]")] + [(n, "float") for n in table(units)]
