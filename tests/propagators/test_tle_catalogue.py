"""The catalogue TLE and ELSET are built from agrees with what the types show at run time and with
the published text layout."""

import inspect

import pytest

from orbivex.propagators.analytical.sgp4.tle import ELSET, TLE

from . import tle_catalogue as cat

TYPES = {"TLE": (TLE, cat.TLE), "ELSET": (ELSET, cat.ELSET)}


@pytest.mark.parametrize("name", TYPES)
def test_the_types_show_what_the_catalogue_declares(name):
    cls, entry = TYPES[name]
    declared = [(n, v.__doc__) for n, v in vars(cls).items()
                if type(v).__name__ == "getset_descriptor" and n != "__dict__"]
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
    assert cat.ELEMENT_NAMES == [f[0] for f in cat.TLE["fields"]][-len(cat.ELEMENTS):]
    assert cat.TLE_PROPERTIES[-len(cat.ELEMENTS):] == [(n, None) for n in cat.ELEMENT_NAMES]
    arrays = [f[0] for f in cat.ELSET["fields"]][-len(cat.ELEMENTS):]
    assert arrays == ["_" + n for n in cat.ELSET_ARRAYS]
    assert [e["array"] for e in cat.ELEMENTS] == ["_" + e["name"] for e in cat.ELEMENTS]
    # Every element shows in exactly one table of TLE's text.
    shown = [e["name"] for title in cat.TEXT_TABLES for e in cat.text_rows(title)]
    assert sorted(shown) == sorted(cat.ELEMENT_NAMES)


# The layout of TLE's text is published behaviour: pinned here, once, with each row's unit.
TEXT_LAYOUT = {
    "Orbital Elements:": [("ecc", "none"), ("sma", "length"), ("inc", "angle"),
                          ("raa", "angle"), ("arp", "angle"), ("tra", "angle")],
    "Derived Elements:": [("orp", "duration"), ("mnm", "rate"), ("mea", "angle"),
                          ("eca", "angle"), ("pge", "length"), ("apg", "length")],
}


def test_text_layout():
    assert cat.TEXT_TABLES == list(TEXT_LAYOUT)
    for title, rows in TEXT_LAYOUT.items():
        assert [(e["name"], e["unit"]) for e in cat.text_rows(title)] == rows, title
