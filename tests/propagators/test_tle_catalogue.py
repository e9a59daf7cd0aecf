"""The catalogue TLE and ELSET are built from agrees with the hand-written tle.pxd and tle.pyi, with
what the types show at run time, and with the published text layout."""

import ast
import inspect
import re
from pathlib import Path

import pytest

from orbivex.propagators.analytical.sgp4 import tle as module
from orbivex.propagators.analytical.sgp4.tle import ELSET, TLE
from orbivex.utils.representable import Representable

from . import tle_catalogue as cat

HERE = Path(module.__file__).resolve().parent
TYPES = {"TLE": (TLE, cat.TLE), "ELSET": (ELSET, cat.ELSET)}

# Sizes and alignments of the C types tle.pxd declares, on this machine.
POINTER = cat.catalogue["pointer_size"]
C_TYPES = {"char": 1, "int": 4, "double": 8, "object": POINTER, "list": POINTER}


def pxd_classes():
    """{class: {"base", "fields": [(name, C type, count)], "virtuals": [name]}} of tle.pxd."""
    classes, current = {}, None
    for line in (HERE / "tle.pxd").read_text().splitlines():
        if m := re.match(r"cdef class (\w+)\((\w+)\):", line):
            current = classes[m[1]] = {"base": m[2], "fields": [], "virtuals": []}
        elif m := re.match(r"\s+cdef void (\w+)\(self\)$", line):
            current["virtuals"].append(m[1])
        elif m := re.match(r"\s+cdef (\w+) (\w+)(?:\[(\d+)\])?$", line):
            current["fields"].append((m[2], m[1], int(m[3] or 1)))
    return classes


def cython_offsets(fields, start):
    """Offsets Cython derives for `fields` placed from `start`: natural alignment, in order."""
    offsets, end = [], start
    for _, ctype, count in fields:
        size = C_TYPES[ctype]
        offset = -(-end // size) * size
        offsets.append(offset)
        end = offset + size * count
    return offsets, end


@pytest.mark.parametrize("name", TYPES)
def test_pxd_declares_the_catalogue_fields_where_the_record_holds_them(name):
    cls, entry = TYPES[name]
    declared = pxd_classes()[name]
    assert declared["base"] == "Representable"
    assert [f[0] for f in declared["fields"]] == [f[0] for f in entry["fields"]]
    assert declared["virtuals"] == entry["virtuals"]
    sizes = [C_TYPES[ctype] * count for _, ctype, count in declared["fields"]]
    assert sizes == [size for _, _, size in entry["fields"]]
    # A type with virtual operations starts with the pointer to their table.
    start = cat.catalogue["base_size"] + (POINTER if declared["virtuals"] else 0)
    offsets, end = cython_offsets(declared["fields"], start)
    assert offsets == [offset for _, offset, _ in entry["fields"]]
    assert cat.catalogue["base_size"] == Representable.__basicsize__
    assert end == cls.__basicsize__


def pyi_classes():
    """{class: {"new": __new__'s ast.arguments, "properties": [name], "methods": {name: def}}}
    of tle.pyi."""
    tree = ast.parse((HERE / "tle.pyi").read_text())
    classes = {}
    for node in tree.body:
        if not isinstance(node, ast.ClassDef):
            continue
        entry = classes[node.name] = {"new": None, "properties": [], "methods": {}}
        for item in node.body:
            if not isinstance(item, ast.FunctionDef):
                continue
            if any(isinstance(d, ast.Name) and d.id == "property" for d in item.decorator_list):
                entry["properties"].append(item.name)
            elif item.name == "__new__":
                entry["new"] = item.args
            else:
                entry["methods"][item.name] = item
    return classes


@pytest.mark.parametrize("name", TYPES)
def test_pyi_declares_the_catalogue_properties_methods_and_constructor(name):
    _, entry = TYPES[name]
    declared = pyi_classes()[name]
    assert declared["properties"] == [p for p, _ in entry["properties"]]
    assert list(declared["methods"]) == [m["name"] for m in entry["methods"]]
    for method in entry["methods"]:
        stub = declared["methods"][method["name"]]
        assert [a.arg for a in stub.args.args] == method["params"]["names"]
        returns = method["annotations"].get("return")
        if returns is not None:
            assert ast.unparse(stub.returns) == returns
    init, new = entry["init"], declared["new"]
    positional = init["names"][: init["positional"]]
    assert [a.arg for a in new.args] == ["cls", *positional]
    assert (new.vararg.arg if new.vararg else None) == init["varargs"]
    assert [a.arg for a in new.kwonlyargs] == init["names"][init["positional"] :]
    # Exactly the optional parameters have a default in the stub.
    assert len(new.defaults) == max(len(positional) - init["required"], 0)
    keywords = range(init["positional"], len(init["names"]))
    assert [d is not None for d in new.kw_defaults] == [k >= init["required"] for k in keywords]


@pytest.mark.parametrize("name", TYPES)
def test_the_types_show_what_the_catalogue_declares(name):
    cls, entry = TYPES[name]
    declared = [
        (n, v.__doc__)
        for n, v in vars(cls).items()
        if type(v).__name__ == "getset_descriptor" and n != "__dict__"
    ]
    assert declared == [tuple(p) for p in entry["properties"]]
    for method in entry["methods"]:
        function = vars(cls)[method["name"]]
        assert function.__qualname__ == method["qualname"]
        assert function.__doc__ == method["doc"]
        assert function.__annotations__ == method["annotations"]
        assert list(inspect.signature(function).parameters) == method["params"]["names"]
    # The docstring's first part is the text signature Python shows for the class.
    signature, _, rest = entry["doc"].partition("\n--\n\n")
    assert f"{name}{cls.__text_signature__}" == signature
    assert cls.__doc__ == (rest or None)


def test_elements_and_their_counterparts():
    assert cat.ELEMENT_NAMES == [f[0] for f in cat.TLE["fields"]][-len(cat.ELEMENTS) :]
    assert cat.TLE_PROPERTIES[-len(cat.ELEMENTS) :] == [(n, None) for n in cat.ELEMENT_NAMES]
    arrays = [f[0] for f in cat.ELSET["fields"]][-len(cat.ELEMENTS) :]
    assert arrays == ["_" + n for n in cat.ELSET_ARRAYS]
    assert [e["array"] for e in cat.ELEMENTS] == ["_" + e["name"] for e in cat.ELEMENTS]
    # Every element shows in exactly one table of TLE's text.
    shown = [e["name"] for title in cat.TEXT_TABLES for e in cat.text_rows(title)]
    assert sorted(shown) == sorted(cat.ELEMENT_NAMES)


# The layout of TLE's text is published behaviour: pinned here, once, with each row's unit.
TEXT_LAYOUT = {
    "Orbital Elements:": [
        ("ecc", "none"),
        ("sma", "length"),
        ("inc", "angle"),
        ("raa", "angle"),
        ("arp", "angle"),
        ("tra", "angle"),
    ],
    "Derived Elements:": [
        ("orp", "duration"),
        ("mnm", "rate"),
        ("mea", "angle"),
        ("eca", "angle"),
        ("pge", "length"),
        ("apg", "length"),
    ],
}


def test_text_layout():
    assert cat.TEXT_TABLES == list(TEXT_LAYOUT)
    for title, rows in TEXT_LAYOUT.items():
        assert [(e["name"], e["unit"]) for e in cat.text_rows(title)] == rows, title
