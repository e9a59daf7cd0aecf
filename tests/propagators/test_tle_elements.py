"""TLE derived elements, Earth constants, properties, instance dict, pickling and GC."""

import copy
import ctypes
import gc
import pickle

import pytest

from orbivex.bodies.bodies import Earth
from orbivex.propagators.analytical.sgp4.tle import ELSET, TLE
from tests.capsules import bind_function
from tests.helpers import bits

from .tle_catalogue import ELEMENT_NAMES as ELEMENTS
from .tle_lines import L1, L2, line2

D = ctypes.c_double
SIZE = "double (double const , double)"
ANOMALY = "double (double const , double const )"
SHAPE = "double (double const , double const , double const )"
COE = "orbivex.state.coe"
sma_from_mnm = bind_function(COE, "c_sma_from_mnm", SIZE, D, D, D)
orp_from_sma = bind_function(COE, "c_orp_from_sma", SIZE, D, D, D)
eca_from_mea = bind_function(COE, "c_eca_from_mea", ANOMALY, D, D, D)
tra_from_eca = bind_function(COE, "c_tra_from_eca", ANOMALY, D, D, D, gil=True)
pge_from_sma_ecc = bind_function(COE, "c_pge_from_sma_ecc", SHAPE, D, D, D, D)
apg_from_sma_ecc = bind_function(COE, "c_apg_from_sma_ecc", SHAPE, D, D, D, D)

# The three text properties are documented; epoch and the elements are not.
DOCS = {"line1": "TLE.line1: str", "line2": "TLE.line2: str", "satno": "TLE.satno: int | str"}
PROPERTIES = [(name, DOCS.get(name)) for name in ("line1", "line2", "satno", "epoch", *ELEMENTS)]


class Sequence:
    """A class attribute that hands out the next value on each read and counts the reads."""

    def __init__(self, *values):
        self.values = list(values)
        self.reads = 0

    def __get__(self, obj, owner):
        self.reads += 1
        value = self.values[min(self.reads, len(self.values)) - 1]
        if isinstance(value, BaseException):
            raise value
        return value


class FloatLike:
    def __init__(self, value):
        self.value = value

    def __float__(self):
        return self.value


def derived(mnm, mea, ecc, gm=(Earth.GM, Earth.GM), re=(Earth.Re, Earth.Re)):
    sma = sma_from_mnm(mnm, gm[0])
    eca = eca_from_mea(mea, ecc)
    return {
        "sma": sma,
        "orp": orp_from_sma(sma, gm[1]),
        "eca": eca,
        "tra": tra_from_eca(eca, ecc),
        "pge": pge_from_sma_ecc(sma, ecc, re[0]),
        "apg": apg_from_sma_ecc(sma, ecc, re[1]),
    }


@pytest.mark.parametrize(
    "fields",
    [
        {},
        {"ecc": "0000000"},
        {"ecc": "7300000", "mnm": " 2.25000000", "mea": "359.9999"},
        {"ecc": "0001234", "mea": "  0.0000"},
        {"ecc": "9999999", "mea": "180.0000", "mnm": " 0.10000000"},
        {"mea": "720.5000"},  # not reduced to a turn
        {"mnm": "00000000000"},  # blank mean motion: infinite size, no error
    ],
)
def test_derived_elements_are_the_coe_kernels(fields):
    t = TLE(L1, line2(**fields))
    for name, value in derived(t.mnm, t.mea, t.ecc).items():
        assert bits(getattr(t, name)) == bits(value), name


def test_degenerate_orbits():
    circular = TLE(L1, line2(ecc="0000000"))
    assert circular.ecc == 0.0 and circular.pge == circular.apg
    still = TLE(L1, line2(mnm="           "))
    assert still.mnm == 0.0
    assert [still.sma, still.orp, still.pge, still.apg] == [float("inf")] * 4
    low = TLE(L1, line2(ecc="9000000"))
    assert low.pge < 0.0 < low.apg


def test_earth_constants_are_read_twice_each_per_construction(monkeypatch):
    gm = Sequence(3.9e14, 4.1e14)
    re = Sequence(6.0e6, 7.0e6)
    monkeypatch.setattr(Earth, "GM", gm)
    monkeypatch.setattr(Earth, "Re", re)
    t = TLE(L1, L2)
    assert (gm.reads, re.reads) == (2, 2)
    # The first GM gives sma, the second the period; the first Re the perigee, the second apogee.
    expected = derived(t.mnm, t.mea, t.ecc, gm=(3.9e14, 4.1e14), re=(6.0e6, 7.0e6))
    for name, value in expected.items():
        assert bits(getattr(t, name)) == bits(value), name
    TLE(L1, L2)
    assert (gm.reads, re.reads) == (4, 4)


@pytest.mark.parametrize("value", [398600441800000, FloatLike(3.986e14), True])
def test_earth_constants_go_through_the_float_conversion(monkeypatch, value):
    monkeypatch.setattr(Earth, "GM", value)
    t = TLE(L1, L2)
    assert t.sma == sma_from_mnm(t.mnm, float(value))


@pytest.mark.parametrize(
    "attribute, value, error",
    [
        ("GM", "3.9e14", TypeError),
        ("Re", None, TypeError),
        ("GM", Sequence(3.9e14, LookupError("second GM read")), LookupError),
        ("Re", Sequence(6.4e6, KeyError("second Re read")), KeyError),
        ("Re", FloatLike("not a float"), TypeError),
    ],
)
def test_earth_constant_failures_end_construction(monkeypatch, attribute, value, error):
    monkeypatch.setattr(Earth, attribute, value)
    with pytest.raises(error):
        TLE(L1, L2)


def test_properties_in_declared_order_with_their_docstrings():
    declared = [
        name for name, value in vars(TLE).items() if type(value).__name__ == "getset_descriptor"
    ]
    assert declared[: len(PROPERTIES)] == [name for name, _ in PROPERTIES]
    for name, doc in PROPERTIES:
        assert vars(TLE)[name].__doc__ == doc, name
    assert TLE.__doc__ is None
    assert TLE.__module__ == "orbivex.propagators.analytical.sgp4.tle"
    assert TLE.__qualname__ == "TLE"


def test_properties_are_read_only_and_cannot_be_shadowed():
    t = TLE(L1, L2)
    for name, _ in PROPERTIES:
        with pytest.raises(AttributeError):
            setattr(t, name, 1.0)
        with pytest.raises(AttributeError):
            delattr(t, name)
    t.__dict__["inc"] = "shadow"
    assert isinstance(t.inc, float)
    t.note = "kept"
    assert t.__dict__ == {"inc": "shadow", "note": "kept"}


def test_types_are_immutable():
    for cls in (TLE, ELSET):
        with pytest.raises(TypeError, match="immutable"):
            cls.inc = property(lambda self: 0.0)


def test_values_and_identity():
    t = TLE(L1, L2)
    assert t.epoch is t.epoch
    assert type(t.sma) is float and t.sma is not t.sma
    # Fields without a property stay native.
    for name in ("strict_validation", "_line1", "_satno", "parse_line1", "parse_line2"):
        assert not hasattr(t, name), name


def test_subclass_from_python():
    class Named(TLE):
        def __init__(self, line1, line2, name="?"):
            self.name = name

    n = Named(L1, L2, "ISS")  # the same arguments reach the base allocation and __init__
    assert (n.name, n.satno, type(n).__mro__[1]) == ("ISS", 25544, TLE)
    with pytest.raises(TypeError, match="at most 3 positional"):
        Named(L1, L2, "ISS", True, "extra")


@pytest.mark.parametrize(
    "action",
    [
        pickle.dumps,
        copy.copy,
        copy.deepcopy,
        lambda t: t.__reduce__(),
        lambda t: t.__reduce_ex__(2),
        lambda t: t.__setstate__({}),
    ],
)
def test_pickling_and_copying_are_refused(action):
    with pytest.raises(TypeError) as info:
        action(TLE(L1, L2))
    assert str(info.value) == "no default __reduce__ due to non-trivial __cinit__"


def test_setstate_argument_errors():
    t = TLE(L1, L2)
    message = r"__setstate__\(\) takes exactly 1 positional argument \(0 given\)"
    with pytest.raises(TypeError, match=message):
        t.__setstate__()
    with pytest.raises(TypeError, match=r"unexpected keyword argument 'x'"):
        t.__setstate__({}, x=1)


def test_instances_in_reference_cycles_are_collected():
    freed = []

    class Flag:
        def __del__(self):
            freed.append(True)

    t = TLE(L1, L2)
    t.me = t
    t.flag = Flag()
    del t
    gc.collect()
    assert freed == [True]
