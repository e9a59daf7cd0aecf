"""A Cython consumer cimports TLE and ELSET through tle.pxd: reads their fields, calls the
virtual operations and overrides parse_line2 in a cdef subclass."""

import inspect
import sys

import numpy as np
import pytest

from orbivex.propagators.analytical.sgp4.tle import ELSET, TLE
from tests.cython_build import build_consumer
from tests.helpers import bits

from . import tle_catalogue as catalogue
from .tle_lines import L1, L2, line1

CONSUMER = '''
from libc.string cimport strncpy
from orbivex.propagators.analytical.sgp4.tle cimport TLE, ELSET

def sizes():
    return sizeof(TLE), sizeof(ELSET)

def fields(TLE t):
    return {FIELDS}

def elset_fields(ELSET e):
    return {ELSET_FIELDS}

def reparse(TLE t, bytes new_line2):
    """Writes a new line 2 into the record and calls the object's own parse_line2."""
    strncpy(t._line2, new_line2, 69)
    t._line2[69] = 0
    t.parse_line2()
    return t.inc

cdef class Doubled(TLE):
    """Doubles the inclination and the mean motion read from line 2."""
    cdef void parse_line2(self):
        TLE.parse_line2(self)
        self.inc = 2.0 * self.inc
        self.mnm = 2.0 * self.mnm

cdef class Refusing(TLE):
    cdef void parse_line1(self):
        raise ValueError("line 1 refused")

cdef class Catalogued(ELSET):
    """Carries a field of its own after the base part."""
    cdef public str source

    def __cinit__(self, *elements, satname=None):
        self.source = "consumer"
'''


def reading(var, names):
    """The text of a dict literal from each field name to its value read from `var`."""
    return "{" + ", ".join(f'"{n}": {var}.{n}' for n in names) + "}"


# Every field the catalogue lists, read straight from the record.
CONSUMER = CONSUMER.replace("{FIELDS}", reading("t", [f[0] for f in catalogue.TLE["fields"]]))
CONSUMER = CONSUMER.replace(
    "{ELSET_FIELDS}", reading("e", [f[0] for f in catalogue.ELSET["fields"]])
)


@pytest.fixture(scope="module")
def consumer(tmp_path_factory):
    return build_consumer(tmp_path_factory.mktemp("tle_consumer"), "tle_consumer", CONSUMER)


def test_layout_is_what_cython_derives(consumer):
    # The import passed Cython's size checks; the structs it derived match the types exactly.
    assert consumer.sizes() == (TLE.__basicsize__, ELSET.__basicsize__)


@pytest.mark.parametrize(
    "lines", [(L1, L2), (line1(satno="A12 "), L2[:40]), ("", "x"), (L1 + " trailing", L2)]
)
def test_fields_read_directly_equal_the_properties(consumer, lines):
    t = TLE(*lines)
    f = consumer.fields(t)
    assert f.pop("_line1").decode() == t.line1 and f.pop("_line2").decode() == t.line2
    assert f.pop("strict_validation") == 0
    assert f.pop("_satno").decode() == t.line1[2:7]
    assert f.pop("epoch") is t.epoch
    assert list(f) == catalogue.ELEMENT_NAMES
    for name, value in f.items():
        prop = getattr(t, name)
        assert bits(value) == bits(prop), name


def test_elset_fields(consumer):
    tles = [TLE(line1(day="101.5"), L2), TLE(L1, L2)]
    e = ELSET(*tles)
    f = consumer.elset_fields(e)
    assert f.pop("epoch") is e.epoch and f.pop("_satno") == 25544
    assert f.pop("elements") == [tles[1], tles[0]]
    assert list(f) == ["_" + name for name in catalogue.ELSET_ARRAYS]
    for field, stored in f.items():
        name = field.removeprefix("_")
        view = getattr(e, name)
        assert type(stored) is np.ndarray and stored is not view
        assert np.shares_memory(stored, view) and bits(stored) == bits(view), name


def test_virtual_call_through_the_table(consumer):
    t = TLE(L1, L2)
    other = "2 25544  10.0000" + L2[16:]
    assert consumer.reparse(t, other.encode()) == TLE(L1, other).inc
    assert t.line2 == other


def test_override_takes_effect_during_construction(consumer):
    plain = TLE(L1, L2)
    doubled = consumer.Doubled(L1, L2)
    assert doubled.inc == 2.0 * plain.inc and doubled.mnm == 2.0 * plain.mnm
    assert doubled.raa == plain.raa
    # Derived elements come from what the override stored.
    assert doubled.sma != plain.sma and doubled.sma < plain.sma
    assert doubled.orp == pytest.approx(plain.orp / 2.0, rel=1e-12)

    class FromPython(consumer.Doubled):
        pass

    assert FromPython(L1, L2).inc == doubled.inc
    e = ELSET(doubled, TLE(line1(day="99.5"), L2))
    assert e.inc.tolist() == [plain.inc, doubled.inc]


def test_cython_subclasses_show_the_base_signature(consumer):
    assert str(inspect.signature(consumer.Doubled)) == "(line1, line2, strict_validation=None)"
    assert str(inspect.signature(consumer.Catalogued)) == "(*elements, satname=None)"
    doc = "Doubles the inclination and the mean motion read from line 2."
    assert consumer.Doubled.__doc__ == doc


def test_an_override_that_raises_ends_construction(consumer):
    with pytest.raises(ValueError, match="line 1 refused"):
        consumer.Refusing(L1, L2)


def test_a_cython_subclass_of_elset(consumer):
    tles = [TLE(line1(day="101.5"), L2), consumer.Doubled(L1, L2)]
    e = consumer.Catalogued(*tles, satname="ISS")
    assert isinstance(e, ELSET) and e.source == "consumer"
    assert e.satname == "ISS" and e.satno == 25544 and e.size == 2
    assert consumer.elset_fields(e)["elements"] == [tles[1], tles[0]]
    assert e.inc.tolist() == [tles[1].inc, tles[0].inc]
    assert e._get_header() == "ELSET ISS (25544)"
    with pytest.raises(TypeError, match="Argument 'satname' has incorrect type"):
        consumer.Catalogued(*tles, satname=b"ISS")

    class FromPython(consumer.Catalogued):
        pass

    assert FromPython(*tles).epoch.int64.tolist() == e.epoch.int64.tolist()


def test_instances_of_static_subclasses_leave_their_references_alone(consumer):
    # Static types are not referenced by their instances: dropping one must not drop the type.
    before = sys.getrefcount(consumer.Doubled), sys.getrefcount(consumer.Catalogued)
    for _ in range(50):
        consumer.Catalogued(consumer.Doubled(L1, L2))
        with pytest.raises(ValueError):
            consumer.Refusing(L1, L2)
    assert (sys.getrefcount(consumer.Doubled), sys.getrefcount(consumer.Catalogued)) == before
