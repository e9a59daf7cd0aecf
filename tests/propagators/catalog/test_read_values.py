"""Values read from generated files: every column against values worked out in Python from the
text, the elements and derived elements to the bit of TLE(line1, line2), exact epochs,
Alpha-5 numbers, catalogue order and source lines, the same catalogue on one thread and on
two, and agreement with python-sgp4's parser."""

import math
import random
from pathlib import Path

import numpy as np
import pytest
from hypothesis import given, settings
from hypothesis import strategies as st

from .kernel import summed
from .reading import COLUMNS, DERIVED, ELEMENTS, assert_same_columns, in_catalogue_order, text_sets
from .sets import alpha5_value, epoch_ns, reference, valid_sets

catalog = pytest.importorskip("orbivex.propagators.analytical.sgp4.catalog")


@pytest.fixture(scope="module")
def generated(generator, tmp_path_factory):
    """A three-line file in epoch order (several chunks: it is cut into pieces of 1 MiB and
    more), its text and its catalogue."""
    text, _ = generator.make_catalog(
        30000, seed=71, form="3le", alpha5_share=0.2, deep_share=0.3, blank_share=0.02
    )
    path = tmp_path_factory.mktemp("generated") / "history.tle"
    path.write_bytes(text)
    return path, text.decode(), catalog.read(path, threads=2)


def test_columns_from_the_text(generated):
    # Each row is one set of the text; sorted by satellite, then epoch, stably; every value
    # is the one Python works out from the lines.
    _, text, cat = generated
    sets = in_catalogue_order(
        text_sets(text), lambda s: alpha5_value(s[2][2:7]), lambda s: epoch_ns(s[2])
    )
    assert len(cat) == len(sets)
    assert list(cat.source_line) == [s[0] for s in sets]
    assert list(cat.name) == [s[1] for s in sets]
    assert list(cat.line1) == [s[2] for s in sets]
    assert list(cat.line2) == [s[3] for s in sets]
    ref = [reference(s[2], s[3]) for s in sets]
    for name in ("satno", "epoch_ns", "ephemeris_type", "element_number", "revolution"):
        assert list(getattr(cat, name)) == [r[name] for r in ref], name
    for name in ("ndot", "nddot", "bstar", *ELEMENTS):
        assert np.array_equal(
            getattr(cat, name).view(np.uint64), np.array([r[name] for r in ref]).view(np.uint64)
        ), name
    assert list(cat.classification) == [r["classification"].decode() for r in ref]
    assert list(cat.intldes) == [r["intldes"].decode() for r in ref]


def test_dtypes_and_read_only(generated):
    _, _, cat = generated
    kinds = {
        "name": "O",
        "classification": "<U1",
        "intldes": "<U8",
        "line1": "<U69",
        "line2": "<U69",
    }
    for name in COLUMNS:
        values = getattr(cat, name)
        expected = kinds.get(name, "<f8" if values.dtype.kind == "f" else "<i8")
        assert values.dtype.str == expected or (expected == "O" and values.dtype == object), name
        assert values.shape == (len(cat),) and not values.flags.writeable, name
        with pytest.raises(ValueError):
            values.flags.writeable = True
    assert cat.epoch.int64.tolist() == cat.epoch_ns.tolist()
    assert list(cat.satellites) == sorted(set(cat.satno.tolist()))


def test_elements_bit_identical_to_tle(generated, TLE):
    _, _, cat = generated
    rng = np.random.default_rng(72)
    for i in rng.choice(len(cat), size=1500, replace=False).tolist():
        tle = TLE(str(cat.line1[i]), str(cat.line2[i]))
        for name in ELEMENTS + DERIVED:
            assert math.copysign(1, getattr(tle, name)) == math.copysign(1, getattr(cat, name)[i])
            assert getattr(tle, name) == getattr(cat, name)[i], (i, name)
        assert tle.epoch.int64 // 1000 == pytest.approx(int(cat.epoch_ns[i]) // 1000, abs=40)
        # The same row through tle(i).
        assert cat.tle(i).tra == tle.tra


@settings(max_examples=150, deadline=None)
@given(valid_sets(), st.sampled_from(["", "0 SAT A\n", "SAT A\n"]))
def test_any_valid_set(TLE, lines, name_line):
    line1, line2 = lines
    cat = catalog.parse(f"{name_line}{line1}\n{line2}\n")
    assert list(cat.name) == ["SAT A" if name_line else None]
    tle = TLE(line1, line2)
    ref = reference(line1, line2)
    assert cat.satno[0] == ref["satno"] and cat.epoch_ns[0] == ref["epoch_ns"]
    for k in ELEMENTS + DERIVED:
        assert getattr(cat, k).view(np.uint64)[0] == np.float64(getattr(tle, k)).view(np.uint64)
    assert cat.line1[0] == line1.strip() and cat.line2[0] == line2.strip()


@pytest.mark.parametrize(
    ("epoch", "iso"),
    [
        ("57001.00000000", "1957-01-01T00:00"),
        ("99365.99999999", "1999-12-31T23:59:59.999136"),
        ("00366.50000000", "2000-12-31T12:00"),
        ("24060.00000001", "2024-02-29T00:00:00.000864"),
        ("56366.75000000", "2056-12-31T18:00"),
        ("69365.99999999", "1969-12-31T23:59:59.999136"),
    ],
)
def test_exact_epochs(epoch, iso):
    from .kernel import L1, L2, put

    cat = catalog.parse(f"{put(L1, 19, epoch)}\n{L2}\n")
    assert cat.epoch_ns[0] == np.datetime64(iso, "ns").astype(np.int64)
    assert cat.epoch.int64[0] == cat.epoch_ns[0]


def test_alpha5_numbers(generator):
    text, _ = generator.make_catalog(3000, seed=73, form="2le", alpha5_share=0.5)
    cat = catalog.parse(text)
    fields = [line[2:7] for line in cat.line1]
    assert list(cat.satno) == [alpha5_value(f) for f in fields]
    assert any(f[0].isalpha() for f in fields) and cat.satno.max() > 100000
    letters = {f[0] for f in fields if f[0].isalpha()}
    assert not letters & {"I", "O"}


def test_one_thread_and_two_give_the_same_catalogue(generator, tmp_path):
    text, _ = generator.make_catalog(
        25000, seed=74, form="0name", crlf=True, damage=500, blank_share=0.05
    )
    path = tmp_path / "both.tle"
    path.write_bytes(text)
    one = catalog.read(path, errors="skip", threads=1)
    for threads in (2, 3, 7):
        other = catalog.read(path, errors="skip", threads=threads)
        assert_same_columns(one, other)
        assert [str(e) for e in one.rejected] == [str(e) for e in other.rejected]


@pytest.mark.parametrize("order", ["satellite", "epoch", "shuffled"])
def test_order_of_many_chunks_on_any_number_of_threads(generator, order):
    # Text in catalogue order already, in epoch order, and in no order; one set repeated (same
    # satellite and epoch, other revolution numbers) at the start, the middle and the end, so
    # that the copies lie in different chunks and parts of the sort and must keep the order of
    # the text.
    text, _ = generator.make_catalog(
        24000, seed=75, form="2le", order="epoch" if order == "shuffled" else order
    )
    lines = text.decode().splitlines()
    if order == "shuffled":
        pairs = [lines[i : i + 2] for i in range(0, len(lines), 2)]
        random.Random(76).shuffle(pairs)
        lines = [line for pair in pairs for line in pair]
    first = lines[:2]
    copies = []
    for rev in (11111, 22222):
        line2 = summed(first[1][:63] + f"{rev:5d}" + first[1][68:])
        copies.append([first[0], line2])
    half = len(lines) // 4 * 2
    lines = lines[:half] + copies[0] + lines[half:] + copies[1]
    text = "\n".join(lines) + "\n"
    sets = in_catalogue_order(
        text_sets(text), lambda s: alpha5_value(s[2][2:7]), lambda s: epoch_ns(s[2])
    )
    cats = [catalog.parse(text, threads=t) for t in (1, 2, 3, 4)]
    assert list(cats[0].line2) == [s[3] for s in sets]
    for other in cats[1:]:
        assert_same_columns(cats[0], other)
    rows = np.flatnonzero(cats[0].line1 == first[0])
    assert [int(cats[0].revolution[i]) for i in rows] == [int(first[1][63:68]), 11111, 22222]


def test_stable_order_of_equal_keys():
    # Sets of one satellite at one epoch keep the order of the text.
    from .kernel import L1, L2, put

    lines = []
    for k, rev in enumerate((5, 3, 9, 1)):
        l2 = put(L2, 64, f"{rev:5d}")
        lines += [
            f"N{k}",
            put(L1, 3, "00007") if k % 2 else L1,
            put(l2, 3, "00007") if k % 2 else l2,
        ]
    cat = catalog.parse("\n".join(lines) + "\n")
    assert list(cat.satno) == [7, 7, 25544, 25544]
    assert list(cat.name) == ["N1", "N3", "N0", "N2"]
    assert list(cat.revolution) == [3, 1, 5, 9]


# ---- python-sgp4 ------------------------------------------------------------------------------

XPDOTP = 1440.0 / (2.0 * math.pi)  # rad/min per rev/day


def agree_with_sgp4(api, cat, i):
    sat = api.Satrec.twoline2rv(str(cat.line1[i]), str(cat.line2[i]))
    assert sat.satnum == cat.satno[i]
    jd_ns = ((sat.jdsatepoch - 2440587.5) + sat.jdsatepochF) * 86400e9
    assert abs(jd_ns - cat.epoch_ns[i]) < 50_000
    close = {"rel_tol": 1e-12, "abs_tol": 1e-300}
    assert math.isclose(sat.ndot * (XPDOTP * 1440.0), cat.ndot[i], **close)
    assert math.isclose(sat.nddot * (XPDOTP * 1440.0 * 1440.0), cat.nddot[i], **close)
    assert math.isclose(sat.bstar, cat.bstar[i], **close)
    for theirs, ours in (
        (sat.inclo, cat.inc[i]),
        (sat.nodeo, cat.raa[i]),
        (sat.ecco, cat.ecc[i]),
        (sat.argpo, cat.arp[i]),
        (sat.mo, cat.mea[i]),
        (sat.no_kozai, cat.mnm[i] * 60.0),
    ):
        assert math.isclose(theirs, ours, **close)
    assert (sat.revnum, sat.elnum, sat.ephtype) == (
        cat.revolution[i],
        cat.element_number[i],
        cat.ephemeris_type[i],
    )
    assert sat.classification == cat.classification[i]
    assert sat.intldesg == cat.intldes[i]


def test_agrees_with_python_sgp4_on_generated_sets(generated):
    api = pytest.importorskip("sgp4.api")
    _, _, cat = generated
    for i in range(0, len(cat), 7):
        agree_with_sgp4(api, cat, i)


def test_agrees_with_python_sgp4_on_its_own_test_file():
    api = pytest.importorskip("sgp4.api")
    import sgp4

    path = Path(sgp4.__file__).parent / "SGP4-VER.TLE"
    if not path.is_file():
        pytest.skip("python-sgp4 without its test file")
    # Its line 2s carry a time span after column 69, for its own test driver: cut it off.
    lines = [line[:69] if line.startswith("2 ") else line for line in path.read_text().splitlines()]
    text = "\n".join(lines)
    cat = catalog.parse(text, errors="skip")
    for i in range(len(cat)):
        agree_with_sgp4(api, cat, i)
    # What python-sgp4's lenient parser reads and this one refuses: a blank ephemeris type,
    # and three line 1s whose checksum digit is wrong.
    refused = [(e.code, e.column) for e in cat.rejected if e.code != "stray_line"]
    assert len(cat) == 29
    assert refused == [("ephemeris_type", 63)] + [("checksum", 69)] * 3
    relaxed = catalog.parse(text, errors="skip", checksums=False)
    assert len(relaxed) == 32
    for i in range(len(relaxed)):
        agree_with_sgp4(api, relaxed, i)
