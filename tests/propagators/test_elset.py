"""ELSET: construction, sorting, the one-satellite check, arrays as views, text and pickling."""

import copy
import gc
import inspect
import pickle

import numpy as np
import pytest

from orbivex.propagators.analytical.sgp4.tle import ELSET, TLE
from tests.helpers import bits

from .tle_catalogue import ELSET_ARRAYS as ARRAYS
from .tle_catalogue import ELSET_PROPERTIES
from .tle_lines import L2, line1, line2, with_epoch, with_satno


def tle_at(day, satno="25544", **fields):
    return TLE(line1(satno=satno, day=f"{day:012.8f}"), line2(**fields))


@pytest.fixture
def history():
    """Four element sets passed out of epoch order, with different elements."""
    return [
        tle_at(103.5, inc=" 51.6403", mnm="15.50030000"),
        tle_at(100.5, inc=" 51.6400", mnm="15.50000000"),
        tle_at(102.5, inc=" 51.6402", mnm="15.50020000"),
        tle_at(101.5, inc=" 51.6401", mnm="15.50010000", ecc="0001234"),
    ]


def test_arrays_are_the_elements_in_epoch_order(history):
    e = ELSET(*history, satname="ISS")
    ordered = sorted(history, key=lambda t: t.epoch.int64)
    assert e.size == 4 and e.satno == 25544 and e.satname == "ISS"
    for name in ARRAYS:
        values = getattr(e, name)
        assert type(values) is np.ndarray and values.dtype == np.float64 and values.shape == (4,)
        assert bits(values) == bits([getattr(t, name) for t in ordered]), name
    assert e.epoch.int64.tolist() == [t.epoch.int64 for t in ordered]
    assert len(e.epoch) == 4 and e.epoch is e.epoch


def test_one_element_set():
    t = tle_at(100.5)
    e = ELSET(t)
    assert e.size == 1 and all(getattr(e, n).shape == (1,) for n in ARRAYS)
    assert e.epoch.int64.tolist() == [t.epoch.int64]
    assert e.satname is None and e._get_header() == "ELSET None (25544)"
    assert e._get_body() == "1 elements"


def test_equal_epochs_keep_their_argument_order():
    a = tle_at(100.5, inc=" 10.0000")
    b = tle_at(100.5, inc=" 20.0000")
    c = tle_at(99.5, inc=" 30.0000")
    assert ELSET(a, b, c).inc.tolist() == [c.inc, a.inc, b.inc]
    assert ELSET(b, c, a).inc.tolist() == [c.inc, b.inc, a.inc]


class Epoch:
    """An epoch that counts its `<` comparisons and refuses every other one."""

    compared = 0

    def __init__(self, key):
        self.key = key

    def __lt__(self, other):
        Epoch.compared += 1
        return self.key < other.key

    def __eq__(self, other):
        raise AssertionError("sorting must use < only")

    __gt__ = __le__ = __ge__ = __eq__


class Duck:
    """Has `epoch` and `satno` but is no TLE; counts reads of its epoch."""

    def __init__(self, key, satno=25544):
        self._epoch = Epoch(key)
        self.satno = satno
        self.reads = 0

    @property
    def epoch(self):
        self.reads += 1
        return self._epoch


def test_sorting_reads_each_key_once_and_compares_with_lt():
    ducks = [Duck(3), Duck(1), Duck(2)]
    with pytest.raises(TypeError, match="Cannot convert .*Duck to .*TLE"):
        ELSET(*ducks)
    assert [d.reads for d in ducks] == [1, 1, 1]
    assert Epoch.compared > 0


@pytest.mark.parametrize(
    "args, kwargs, error, message",
    [
        ((), {}, AssertionError, ""),
        ((tle_at(100.5), TLE(*with_satno(5))), {}, AssertionError, ""),
        (([tle_at(100.5)],), {}, AttributeError, "'list' object has no attribute 'epoch'"),
        ((tle_at(100.5), None), {}, AttributeError, "'NoneType' object has no attribute 'epoch'"),
        (
            (tle_at(100.5),),
            {"satname": b"ISS"},
            TypeError,
            "Argument 'satname' has incorrect type (expected str, got bytes)",
        ),
        (
            (tle_at(100.5),),
            {"name": "ISS"},
            TypeError,
            "__cinit__() got an unexpected keyword argument 'name'",
        ),
        (
            (tle_at(100.5),),
            {"satname": 5, "name": "ISS"},
            TypeError,
            "__cinit__() got an unexpected keyword argument 'name'",
        ),
        (
            (tle_at(100.5),),
            {"satname": 5, 1: "ISS"},
            TypeError,
            "__cinit__() keywords must be strings",
        ),
        ((TLE(line1(satno="I1234"), L2),), {}, TypeError, "an integer is required"),
        ((Duck(1, satno=2**31),), {}, OverflowError, "value too large to convert to int"),
        ((Duck(1, satno=-(2**31) - 1),), {}, OverflowError, "value too large to convert to int"),
        ((Duck(1, satno=2**80),), {}, OverflowError, "value too large to convert to int"),
        ((Duck(1, satno=None),), {}, TypeError, "an integer is required"),
    ],
)
def test_construction_errors(args, kwargs, error, message):
    with pytest.raises(error) as info:
        ELSET(*args, **kwargs)
    assert str(info.value) == message


def test_uncomparable_epochs_and_missing_satno():
    class NoSatno:
        epoch = 1

    class NoOrder:
        epoch = object()
        satno = 25544

    with pytest.raises(TypeError, match="'<' not supported"):
        ELSET(tle_at(100.5), NoOrder())
    with pytest.raises(AttributeError, match="satno"):
        ELSET(NoSatno())


def test_satno_bounds_and_int_like_members():
    class Number:
        def __init__(self, value):
            self.value = value

        def __int__(self):
            return self.value

    for satno in (2**31 - 1, -(2**31), Number(77)):
        with pytest.raises(TypeError, match="Cannot convert"):  # reaches the copy step
            ELSET(Duck(1, satno=satno))


def epoch_reading(value):
    """A TLE subclass whose epoch reads `value` as its int64."""

    class Sub(TLE):
        @property
        def epoch(self):
            class E:
                int64 = value

                def __lt__(self, other):
                    return False

            return E()

    return Sub(*with_epoch(24, 100.5))


def test_epoch_int64_needs_an_integer_conversion():
    # As the satellite number: int() of the value (__int__), so a float truncates; a value
    # without one is "an integer is required".
    ns = TLE(*with_epoch(24, 100.5)).epoch.int64

    class Number:
        def __int__(self):
            return ns

    for value in (float(ns), 1.75, Number(), np.float64(ns)):
        assert ELSET(epoch_reading(value)).epoch.int64.tolist() == [int(value)]
    for value in ("1", None, 1j):
        with pytest.raises(TypeError) as info:
            ELSET(epoch_reading(value))
        assert str(info.value) == "an integer is required"


def test_satname_str_or_none():
    t = tle_at(100.5)
    assert ELSET(t, satname=None).satname is None
    e = ELSET(t, satname="Zarya \u2603")
    assert e.satname == "Zarya \u2603" and e.__dict__ == {"_satname": "Zarya \u2603"}
    assert e._get_header() == "ELSET Zarya \u2603 (25544)"

    class Name(str):
        pass

    with pytest.raises(TypeError, match="expected str, got Name"):
        ELSET(t, satname=Name("x"))
    e._satname = "renamed"
    assert e.satname == "renamed"


def test_arrays_are_new_writable_views_of_stored_arrays(history):
    e = ELSET(*history)
    first, second = e.ecc, e.ecc
    assert first is not second and np.shares_memory(first, second)
    assert first.flags.writeable
    before = [t.ecc for t in history]
    first[0] = 0.5
    assert second[0] == 0.5 and e.ecc[0] == 0.5
    assert [t.ecc for t in history] == before
    assert not np.shares_memory(e.ecc, e.sma)


def test_properties_are_read_only_and_documented():
    e = ELSET(tle_at(100.5))
    for name in ["size", "satname", "satno", "epoch", *ARRAYS]:
        with pytest.raises(AttributeError):
            setattr(e, name, None)
    docs = {
        name: vars(ELSET)[name].__doc__ for name in ["size", "satname", "satno", *ARRAYS, "epoch"]
    }
    assert docs == {
        "size": "ELSET.size: int",
        "satname": "ELSET.satname: str",
        "satno": "ELSET.satno: int | str",
        **{n: f"ELSET.{n}: ndarray[double]" for n in ARRAYS},
        "epoch": None,
    }
    declared = [n for n, v in vars(ELSET).items() if type(v).__name__ == "getset_descriptor"]
    assert declared[: len(ELSET_PROPERTIES)] == ["size", "satname", "satno", *ARRAYS, "epoch"]
    assert ELSET.__doc__ == "TODO: must behave like Ephemeris"


def test_header_and_body_read_through_properties():
    class Renamed(ELSET):
        @property
        def satname(self):
            return 42

        @property
        def satno(self):
            return "X-7"

        @property
        def size(self):
            return 0

    r = Renamed(tle_at(100.5), tle_at(101.5), tle_at(102.5))
    assert r._get_header() == "ELSET 42 (X-7)"
    assert r._get_body() == "3 elements"
    for name in ("_get_header", "_get_body"):
        method = getattr(ELSET, name)
        assert method.__doc__ == f"ELSET.{name}(self) -> str"
        assert method.__annotations__ == {"return": "str"}
        assert str(inspect.signature(method)) == "(self) -> 'str'"
        message = rf"{name}\(\) takes exactly 0 positional arguments \(1 given\)"
        with pytest.raises(TypeError, match=message):
            getattr(r, name)(None)


@pytest.mark.parametrize(
    "action", [pickle.dumps, copy.copy, copy.deepcopy, lambda e: e.__setstate__(None)]
)
def test_pickling_is_refused(action):
    with pytest.raises(TypeError) as info:
        action(ELSET(tle_at(100.5)))
    assert str(info.value) == "no default __reduce__ due to non-trivial __cinit__"


def test_subclass_and_garbage_collection():
    freed = []

    class Flag:
        def __del__(self):
            freed.append(True)

    class Tracked(ELSET):
        def __init__(self, *elements, satname=None):
            self.count = len(elements)

    e = Tracked(tle_at(100.5), tle_at(101.5), satname="s")
    assert (e.count, e.size, e.satname) == (2, 2, "s")
    e.me = e
    e.flag = Flag()
    del e
    gc.collect()
    assert freed == [True]


def test_many_element_sets():
    days = np.random.default_rng(7).permutation(np.arange(1, 301)) + 0.25
    tles = [tle_at(float(d)) for d in days]
    e = ELSET(*tles)
    assert e.size == 300
    assert np.all(np.diff(e.epoch.int64) > 0)


def test_satellite_numbers_compare_as_values():
    # Different fields, one number: one satellite.
    e = ELSET(*[tle_at(100.5 + k, satno=f) for k, f in enumerate(["00005", "    5", "5    "])])
    assert e.satno == 5

    class Sub(TLE):
        pass

    mixed = ELSET(tle_at(100.5), Sub(line1(day="101.5"), L2), tle_at(102.5))
    assert mixed.satno == 25544
    # A second number anywhere in the run is found, also between repeats of the first.
    for order in ([1, 1, 2, 1], [2, 1, 1, 1], [1, 1, 1, 2]):
        tles = [tle_at(100.5 + k, satno=f"{s:05d}") for k, s in enumerate(order)]
        with pytest.raises(AssertionError):
            ELSET(*tles)


@pytest.mark.parametrize(
    "field, number",
    [
        ("A0000", 100000),
        ("A1234", 101234),
        ("H9999", 179999),
        ("J0000", 180000),
        ("N0001", 220001),
        ("P0000", 230000),
        ("Z9999", 339999),
    ],
)
def test_alpha5_numbers_are_stored_as_integers(field, number):
    tles = [tle_at(100.5 + k, satno=field) for k in range(3)]
    assert {t.satno for t in tles} == {field}  # TLE keeps the text
    e = ELSET(*tles, satname="DEBRIS")
    assert type(e.satno) is int and e.satno == number
    assert e.size == 3
    assert str(number) in format(e)


@pytest.mark.parametrize("field", ["I1234", "O1234", "A 234", "A12 4", "A-123", "ZZ123", "12A34"])
def test_other_text_numbers_still_refused(field):
    t = TLE(line1(satno=field), L2)
    assert isinstance(t.satno, str)
    with pytest.raises(TypeError) as info:
        ELSET(t)
    assert str(info.value) == "an integer is required"


@pytest.mark.parametrize(
    "satno", ["a1234", "A123", "A12345", " A1234", "A1234 ", "\uff211234", "A\u0661234", ""]
)
def test_alpha5_form_is_exact(satno):
    # Lower case, wrong lengths, blanks and non-ASCII letters or digits are no Alpha-5 number.
    with pytest.raises(TypeError) as info:
        ELSET(Duck(1, satno=satno))
    assert str(info.value) == "an integer is required"


def test_alpha5_text_of_tle_subclasses_and_str_subclasses():
    class Text(str):
        pass

    class Renumbered(TLE):
        satno = property(lambda self: Text("Y0001"))

    assert ELSET(Renumbered(*with_satno(5))).satno == 320001
    # The number is read before the elements are converted: Alpha-5 text passes that step.
    with pytest.raises(TypeError, match="Cannot convert"):
        ELSET(Duck(1, satno="B0042"))


def test_catalog_elset_of_alpha5_satellites():
    catalog = pytest.importorskip("orbivex.propagators.analytical.sgp4.catalog")
    text = "".join(
        f"OBJ {k}\n{a}\n{b}\n"
        for k, (a, b) in enumerate(
            [
                (line1(satno=f, day=f"{d:012.8f}"), f"2 {f}" + L2[7:])
                for f, d in [("A0001", 100.5), ("A0001", 101.5), ("Z9999", 100.5), ("99999", 1.5)]
            ]
        )
    )
    c = catalog.parse(text, checksums=False)
    for satno, sets, name in [(100001, 2, "OBJ 1"), (339999, 1, "OBJ 2"), (99999, 1, "OBJ 3")]:
        e = c.elset(satno)
        assert (e.satno, e.size, e.satname) == (satno, sets, name)
    assert c.elset("A0001").epoch.int64.tolist() == c.satellite(100001).epoch_ns.tolist()
