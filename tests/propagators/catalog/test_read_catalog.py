"""Catalog's selections (satellite, latest, at, drop_duplicates, concat), its rows as TLE and
ELSET, pickling, repr and length, on a small catalogue whose answers are known."""

import pickle
import sys

import numpy as np
import pytest

from .kernel import L1, L2, put
from .reading import DERIVED, ELEMENTS, assert_same_columns

catalog = pytest.importorskip("orbivex.propagators.analytical.sgp4.catalog")
Time = pytest.importorskip("orbivex.time.time").Time


def set_lines(field, day, rev=1000):
    """Lines of satellite `field` (its five columns) at day `day` of 2024, noon."""
    return (
        put(put(L1, 3, field), 19, f"24{day:03d}.50000000"),
        put(put(L2, 3, field), 64, f"{rev:5d}"),
    )


def day(d):
    """The instant of day `d` of 2024 at noon, in ns."""
    return int(np.datetime64("2024-01-01T12:00", "ns").astype(np.int64)) + (d - 1) * 86400 * 10**9


# Satellite 5 at days 10, 20, 30; A0042 (100042) at 15 and 25; 25544 at 40. Epoch order.
SETS = [
    ("00005", 10, "FIVE"),
    ("A0042", 15, "FORTY-TWO"),
    ("00005", 20, "FIVE"),
    ("A0042", 25, None),
    ("00005", 30, "FIVE B"),
    ("25544", 40, "ISS (ZARYA)"),
]


def text_of(sets):
    out = []
    for field, d, name in sets:
        if name:
            out.append(name)
        out += set_lines(field, d)
    return "\n".join(out) + "\n"


@pytest.fixture(scope="module")
def small():
    return catalog.parse(text_of(SETS))


def rows(cat):
    days = (cat.epoch_ns - day(1)) // (86400 * 10**9) + 1
    return [(int(s), int(d)) for s, d in zip(cat.satno, days, strict=True)]


def test_catalogue_order_and_names(small):
    assert rows(small) == [(5, 10), (5, 20), (5, 30), (25544, 40), (100042, 15), (100042, 25)]
    assert list(small.name) == ["FIVE", "FIVE", "FIVE B", "ISS (ZARYA)", "FORTY-TWO", None]
    assert list(small.source_line) == [1, 7, 12, 15, 4, 10]
    assert list(small.satellites) == [5, 25544, 100042]
    assert len(small) == 6


def test_names_hold_one_reference_a_row(generator):
    # Runs of a name share one str, filled on several threads: each row owns a reference.
    # Satellites of one name share it too.
    text, _ = generator.make_catalog(60000, seed=97, form="3le")
    cat = catalog.parse(text, threads=2)
    names = cat.name
    by_text = {}
    for x in names:
        by_text.setdefault(x, set()).add(id(x))
    assert len(by_text) < len(cat.satellites)
    assert all(len(ids) == 1 for ids in by_text.values())
    del by_text
    first = names[0]
    rows_of_first = sum(1 for x in names if x is first)
    assert rows_of_first > 1
    assert sys.getrefcount(first) == rows_of_first + 2
    del cat, names
    assert sys.getrefcount(first) == 2


def test_satellite(small):
    assert rows(small.satellite(5)) == [(5, 10), (5, 20), (5, 30)]
    assert (
        rows(small.satellite("A0042"))
        == rows(small.satellite(100042))
        == [(100042, 15), (100042, 25)]
    )
    assert rows(small.satellite("    5")) == rows(small.satellite(np.int64(5)))
    assert len(small.satellite(6)) == 0 and len(small.satellite(2**70)) == 0
    history = small.satellite(5)
    assert history.rejected == [] and list(history.name) == ["FIVE", "FIVE", "FIVE B"]
    for bad in ("I0001", "", "123456", "A00X1"):
        with pytest.raises(ValueError, match="is not a catalogue number"):
            small.satellite(bad)
    with pytest.raises(TypeError):
        small.satellite(5.0)


def test_latest(small):
    assert rows(small.latest()) == [(5, 30), (25544, 40), (100042, 25)]
    assert len(catalog.parse("").latest()) == 0


@pytest.mark.parametrize(
    ("when", "pick", "expected"),
    [
        (day(12), "newest", [(5, 10)]),  # the others start later: left out
        (day(22), "newest", [(5, 20), (100042, 15)]),
        (day(20), "newest", [(5, 20), (100042, 15)]),  # at the instant counts as before
        (day(20) - 1, "newest", [(5, 10), (100042, 15)]),
        (day(99), "newest", [(5, 30), (25544, 40), (100042, 25)]),
        (day(1), "newest", []),
        (day(22), "nearest", [(5, 20), (25544, 40), (100042, 25)]),
        (day(25), "nearest", [(5, 20), (25544, 40), (100042, 25)]),  # a tie takes the earlier
        (day(25) + 1, "nearest", [(5, 30), (25544, 40), (100042, 25)]),
        (day(1), "nearest", [(5, 10), (25544, 40), (100042, 15)]),
    ],
)
def test_at(small, when, pick, expected):
    assert rows(small.at(Time(when), pick=pick)) == expected
    assert rows(small.at(np.datetime64(when, "ns"), pick)) == expected


def test_at_reads_time_as_time_does(small):
    assert rows(small.at("2024-01-22")) == rows(small.at(Time(day(22))))
    with pytest.raises(TypeError, match="one instant"):
        small.at(Time([day(1), day(2)]))
    with pytest.raises(ValueError, match="pick must be 'newest' or 'nearest'"):
        small.at(day(3), pick="first")
    with pytest.raises(TypeError):
        small.at()


def test_drop_duplicates():
    # The same set twice (once without its name), and a set at the same epoch that differs.
    a = set_lines("00005", 10)
    other = set_lines("00005", 10, rev=1001)
    text = "\n".join(["FIRST", *a, *other, *a, "LATER", *a]) + "\n"
    cat = catalog.parse(text)
    assert len(cat) == 4
    kept = cat.drop_duplicates()
    assert list(kept.revolution) == [1000, 1001] and list(kept.name) == ["FIRST", None]
    assert list(kept.source_line) == [1, 4]
    assert kept.drop_duplicates() is kept


def test_drop_duplicates_compares_published_values_and_lines(small):
    # Two rows of one satellite and epoch that differ in one column only: repeated sets unless
    # that column is a published value or a line.
    _, (columns, _) = small.__reduce__()
    compared = {"classification", "intldes", "ndot", "nddot", "bstar", "ephemeris_type"}
    compared |= {"element_number", "revolution", *ELEMENTS, "line1", "line2"}
    for name in set(columns) - {"satno", "epoch_ns"}:
        pair = {k: np.repeat(v[:1], 2) for k, v in columns.items()}
        column = pair[name].copy()
        if column.dtype.kind == "S":
            column[1] = b"X" * column.dtype.itemsize
        elif column.dtype.kind == "O":
            column[1] = "OTHER"
        else:
            column[1] = column[1] + 1
        pair[name] = column
        kept = catalog.Catalog._from_columns(pair).drop_duplicates()
        assert len(kept) == (2 if name in compared else 1), name


def test_concat(small, tmp_path):
    extra_text = text_of([("00005", 20, "FIVE AGAIN"), ("00009", 5, None)]) + "stray\n"
    extra = catalog.parse(extra_text, errors="skip")
    both = catalog.Catalog.concat(small, extra)
    assert rows(both) == [
        (5, 10),
        (5, 20),
        (5, 20),
        (5, 30),
        (9, 5),
        (25544, 40),
        (100042, 15),
        (100042, 25),
    ]
    # Rows with equal keys keep the order of the arguments.
    assert list(both.name[1:3]) == ["FIVE", "FIVE AGAIN"]
    assert [e.code for e in both.rejected] == ["stray_line"]
    assert len(catalog.Catalog.concat()) == 0
    assert_same_columns(catalog.Catalog.concat(small), small)
    with pytest.raises(TypeError, match="concat\\(\\) takes Catalogs"):
        catalog.Catalog.concat(small, [1])


def test_tle_of_a_row(small, TLE):
    tle = small.tle(3)
    assert isinstance(tle, TLE) and tle.satno == 25544
    assert small.tle(-1).line1 == str(small.line1[-1])
    for name in (*ELEMENTS, *DERIVED):
        assert getattr(small.tle(0), name) == getattr(small, name)[0]
    with pytest.raises(IndexError):
        small.tle(6)
    with pytest.raises(IndexError):
        small.tle(-7)


def test_elset_of_a_satellite(small):
    elset = small.elset(5)
    assert elset.satno == 5 and elset.satname == "FIVE B" and elset.size == 3
    assert np.array_equal(elset.inc, small.satellite(5).inc)
    with pytest.raises(KeyError):
        small.elset(6)


def test_pickles_as_its_columns(small, generator):
    text, _ = generator.make_catalog(2000, seed=81, form="3le", damage=20)
    cat = catalog.parse(text, errors="skip")
    for c in (cat, small, small.satellite(5), catalog.parse("")):
        back = pickle.loads(pickle.dumps(c, protocol=pickle.HIGHEST_PROTOCOL))
        assert_same_columns(back, c)
        assert [str(e) for e in back.rejected] == [str(e) for e in c.rejected]
        assert repr(back) == repr(c)
    # The state is the stored columns, text as bytes.
    make, (columns, rejected) = cat.__reduce__()
    assert make == catalog.Catalog._from_columns
    assert columns["line1"].dtype == np.dtype("S69") and len(rejected) == 20


def test_columns_state_is_checked(small):
    _, (columns, rejected) = small.__reduce__()
    swapped = dict(columns, satno=columns["satno"][::-1].copy())
    with pytest.raises(ValueError, match="not in catalogue order"):
        catalog.Catalog._from_columns(swapped)
    with pytest.raises(ValueError, match="the 26 columns"):
        catalog.Catalog._from_columns({k: v for k, v in columns.items() if k != "apg"})
    with pytest.raises(ValueError, match="'inc' has 5 items"):
        catalog.Catalog._from_columns(dict(columns, inc=columns["inc"][:5]))
    with pytest.raises(TypeError, match="not str or None"):
        catalog.Catalog._from_columns(dict(columns, name=np.array([1] * 6, dtype=object)))
    with pytest.raises(TypeError, match="not TLEFormatError"):
        catalog.Catalog._from_columns(columns, [ValueError("x")])


def test_repr_and_construction(small):
    assert repr(small) == (
        "Catalog(6 sets of 3 satellites, epochs 2024-01-10T12:00:00 to "
        "2024-02-09T12:00:00, 0 rejected)"
    )
    assert repr(small.satellite(25544)) == (
        "Catalog(1 set of 1 satellite, epochs 2024-02-09T12:00:00 to 2024-02-09T12:00:00, "
        "0 rejected)"
    )
    assert repr(catalog.parse("x\n", errors="skip")) == "Catalog(0 sets, 1 rejected)"
    with pytest.raises(TypeError):
        catalog.Catalog()
