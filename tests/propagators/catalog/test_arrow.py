"""Catalogues to and from Arrow, pandas and Parquet: the types, bit-exact round trips, the checks
of a foreign table, and the errors without the optional packages."""

import gzip
import io
import sys

import numpy as np
import pytest

from .reading import COLUMNS

catalog = pytest.importorskip("orbivex.propagators.analytical.sgp4.catalog")
pa = pytest.importorskip("pyarrow")
pq = pytest.importorskip("pyarrow.parquet")

Catalog = catalog.Catalog


def state(c):
    """The stored columns of `c` (text as bytes) as they pickle."""
    return c.__reduce__()[1][0]


def assert_identical(a, b):
    """The same stored columns, in order, dtype and bytes; names as the same str or None."""
    sa, sb = state(a), state(b)
    assert list(sa) == list(sb)
    for name, x in sa.items():
        y = sb[name]
        assert x.dtype == y.dtype, name
        if x.dtype == object:
            assert [(type(v), v) for v in x] == [(type(v), v) for v in y], name
        else:
            assert x.tobytes() == y.tobytes(), name


def edge_fields():
    """Records the text readers never give: a nine-digit number (no two-line form), names
    empty, None and beyond ASCII, signed zeros, epochs before 1970 and far after."""
    return dict(
        satno=[123456789, 5, 5, 339999],
        name=["Ünï 🛰", "", None, "Z"],
        classification=["U", "S", "C", "U"],
        intldes=["", "98067A", "24001ABC", "57001A"],
        epoch_ns=np.array([0, -(10**18), 10**18, 1]),
        ndot=[-0.0, 1e-5, 0.0, -1e-3],
        nddot=[0.0, -0.0, 1e-12, 0.0],
        bstar=[1e-4, -0.0, 3e-5, -2e-5],
        ephemeris_type=[0, 0, 2, 0],
        element_number=[999, 1, 0, 9999],
        revolution=[0, 99999, 12345, 7],
        inc=[51.6, -0.0, 180.0, 98.7],
        raa=[0.0, 359.9999, 1.0, 2.0],
        ecc=[0.0, 0.5, 0.9999999, 0.001],
        arp=[0.0, 1.0, 2.0, 3.0],
        mea=[0.0, 3.0, 4.0, 5.0],
        mnm=[15.5, 1.0027, 16.0, 14.2],
        source_line=[7, 3, 11, -1],
    )


@pytest.fixture(scope="module")
def generated(generator):
    text, _ = generator.make_catalog(3000, seed=91, form="3le", alpha5_share=0.3, damage=12)
    return catalog.parse(text, errors="skip")


@pytest.fixture(scope="module")
def two_line(generator):
    text, _ = generator.make_catalog(500, seed=92, form="2le", alpha5_share=0.5)
    return catalog.parse(text)


@pytest.fixture(scope="module")
def edge():
    return Catalog._from_fields(edge_fields())


@pytest.fixture(params=["generated", "two_line", "edge", "empty"])
def any_catalog(request):
    if request.param == "empty":
        return catalog.parse("")
    return request.getfixturevalue(request.param)


def test_arrow_schema_and_values(generated, two_line):
    table = generated.to_arrow()
    names = list(COLUMNS)
    names.insert(names.index("epoch_ns"), "epoch")
    assert table.column_names == names
    for name in table.column_names:
        t = table.schema.field(name).type
        column = getattr(generated, name) if name != "epoch" else None
        if name == "epoch":
            assert t == pa.timestamp("ns", tz="UTC")
        elif column.dtype == np.int64:
            assert t == pa.int64(), name
        elif column.dtype == np.float64:
            assert t == pa.float64(), name
        else:
            assert t == pa.string(), name
        if name != "name":
            assert table.column(name).null_count == 0, name
    assert table.column("epoch").cast(pa.int64()).to_pylist() == generated.epoch_ns.tolist()
    assert table.column("line1").to_pylist() == generated.line1.tolist()
    assert table.column("name").to_pylist() == list(generated.name)
    # Two-line sets have no name: nulls.
    assert two_line.to_arrow().column("name").null_count == len(two_line)
    assert table.column("mnm").to_numpy().view(np.uint64).tolist() == (
        generated.mnm.view(np.uint64).tolist()
    )


def test_from_arrow_inverts_to_arrow(any_catalog):
    back = Catalog.from_arrow(any_catalog.to_arrow())
    assert_identical(back, any_catalog)
    assert back.rejected == []


def test_edge_values_survive(edge):
    back = Catalog.from_arrow(edge.to_arrow())
    assert back.satno.tolist() == [5, 5, 339999, 123456789]
    assert list(back.name) == ["", None, "Z", "Ünï 🛰"]
    assert back.line1[3] == "" and back.intldes[3] == "" and back.line1[2] != ""
    assert np.signbit(back.ndot[3]) and not np.signbit(back.ndot[1])
    assert back.epoch_ns.tolist() == [-(10**18), 10**18, 1, 0]


def test_from_arrow_takes_other_arrangements(generated):
    table = generated.to_arrow()
    # Any column order, no epoch, several chunks, large strings, a record batch.
    shuffled = table.select(list(reversed(table.column_names)))
    assert_identical(Catalog.from_arrow(shuffled), generated)
    assert_identical(Catalog.from_arrow(table.drop_columns(["epoch"])), generated)
    chunked = pa.concat_tables([table.slice(0, 1000), table.slice(1000, 7), table.slice(1007)])
    assert chunked.column("line1").num_chunks == 3
    assert_identical(Catalog.from_arrow(chunked), generated)
    large = table.cast(
        pa.schema(
            [f.with_type(pa.large_string()) if f.type == pa.string() else f for f in table.schema]
        )
    )
    assert_identical(Catalog.from_arrow(large), generated)
    assert_identical(Catalog.from_arrow(table.to_batches(max_chunksize=10**9)[0]), generated)
    # A slice starts inside the Arrow buffers.
    part = state(Catalog.from_arrow(table.slice(100, 50)))
    for name, column in state(generated).items():
        assert part[name].tobytes() == column[100:150].tobytes() or name == "name", name
    assert list(part["name"]) == list(generated.name[100:150])


def test_from_arrow_sorts_stably(generated):
    table = generated.to_arrow()
    rng = np.random.default_rng(5)
    order = rng.permutation(len(table))
    # Repeated sets: equal satellite and epoch, told apart by their source line.
    order = np.concatenate([order, order[:300]])
    mixed = table.take(order)
    back = Catalog.from_arrow(mixed)
    satno = generated.satno[order]
    epoch = generated.epoch_ns[order]
    expected = order[np.lexsort((epoch, satno), axis=0)]
    assert back.source_line.tolist() == generated.source_line[expected].tolist()
    assert back.line2.tolist() == generated.line2[expected].tolist()


def column_replaced(table, name, array):
    return table.set_column(table.column_names.index(name), name, array)


@pytest.mark.parametrize(
    "change, message",
    [
        (lambda t: t.drop_columns(["bstar", "apg"]), "the table has no column 'bstar', 'apg'"),
        (
            lambda t: t.append_column("extra", pa.array([0] * len(t))),
            "unknown column 'extra' (a catalogue has exactly the columns of Catalog.to_arrow)",
        ),
        (lambda t: t.append_column("inc", t.column("inc")), "column 'inc' appears more than once"),
        (
            lambda t: column_replaced(t, "satno", t.column("satno").cast(pa.int32())),
            "column 'satno' is int32, not int64",
        ),
        (
            lambda t: column_replaced(t, "ecc", t.column("ecc").cast(pa.float32())),
            "column 'ecc' is float, not float64",
        ),
        (
            lambda t: column_replaced(t, "line1", t.column("line1").cast(pa.binary())),
            "column 'line1' is binary, not string",
        ),
        (
            lambda t: column_replaced(t, "name", pa.array([1] * len(t))),
            "column 'name' is int64, not string (nullable)",
        ),
        (
            lambda t: column_replaced(t, "mea", pa.array([0.0] * (len(t) - 1) + [None])),
            "column 'mea' row 5 is null",
        ),
        (
            lambda t: column_replaced(t, "intldes", pa.array(["98067A"] * 2 + ["123456789"] * 4)),
            "column 'intldes' row 2: 9 characters, more than 8",
        ),
        (
            lambda t: column_replaced(
                t, "classification", pa.array(["U", "U", "U", "Ü", "U", "U"])
            ),
            "column 'classification' row 3: the text is not ASCII",
        ),
        (
            lambda t: column_replaced(
                t, "epoch", t.column("epoch").cast(pa.timestamp("us", "UTC"))
            ),
            "column 'epoch' is timestamp[us, tz=UTC], not timestamp[ns, tz=UTC]",
        ),
        (
            lambda t: column_replaced(
                t, "epoch", pa.array(np.arange(6).view("M8[ns]"), pa.timestamp("ns", "UTC"))
            ),
            "row 0: epoch and epoch_ns disagree",
        ),
    ],
)
def test_from_arrow_refuses_other_tables(change, message, generated):
    table = generated.to_arrow().slice(0, 6)
    with pytest.raises(ValueError) as info:
        Catalog.from_arrow(change(table))
    assert str(info.value) == f"from_arrow: {message}"


def test_from_arrow_refuses_what_is_no_table(generated):
    with pytest.raises(TypeError, match="needs a pyarrow Table, not 'dict'"):
        Catalog.from_arrow({"satno": [1]})
    with pytest.raises(TypeError):
        Catalog.from_arrow()


def test_to_pandas(generated, edge):
    pd = pytest.importorskip("pandas")
    df = generated.to_pandas()
    assert list(df.columns) == generated.to_arrow().column_names
    assert df["epoch"].dtype == pd.DatetimeTZDtype("ns", "UTC")
    assert df["epoch"].array.asi8.tolist() == generated.epoch_ns.tolist()
    for name in ("satno", "epoch_ns", "revolution", "source_line"):
        assert df[name].dtype == np.int64 and df[name].tolist() == getattr(generated, name).tolist()
    for name in ("bstar", "inc", "sma", "apg"):
        assert df[name].to_numpy().view(np.uint64).tolist() == (
            getattr(generated, name).view(np.uint64).tolist()
        )
    assert df["line1"].tolist() == generated.line1.tolist()
    names = edge.to_pandas()["name"]
    assert names.dtype == object and names.tolist() == ["", None, "Z", "Ünï 🛰"]
    # A copy: changing the frame leaves the catalogue alone.
    df.loc[0, "inc"] = 123.0
    assert generated.inc[0] != 123.0
    assert len(catalog.parse("").to_pandas()) == 0


def test_pandas_back_through_arrow(generated, edge):
    for c in (generated, edge):
        assert_identical(Catalog.from_arrow(pa.Table.from_pandas(c.to_pandas())), c)


# ---- Parquet ----------------------------------------------------------------------------------


def test_parquet_round_trips(any_catalog, tmp_path):
    path = tmp_path / "sets.parquet"
    any_catalog.write(path, "parquet")
    assert path.read_bytes()[:4] == b"PAR1"
    assert_identical(catalog.read(path), any_catalog)
    assert_identical(catalog.read(str(path), format="parquet"), any_catalog)
    odd = tmp_path / "sets.dat"
    odd.write_bytes(path.read_bytes())
    assert_identical(catalog.read(odd), any_catalog)
    assert_identical(catalog.parse(path.read_bytes()), any_catalog)
    # Compressed again by suffix, as the other formats are.
    gz = tmp_path / "sets.parquet.gz"
    any_catalog.write(gz, "parquet")
    assert gzip.decompress(gz.read_bytes())[:4] == b"PAR1"
    assert_identical(catalog.read(gz), any_catalog)


def test_parquet_file_objects(generated, tmp_path):
    sink = io.BytesIO()
    generated.write(sink, "parquet")
    assert not sink.closed
    sink.seek(0)
    assert_identical(catalog.read(sink), generated)
    with open(tmp_path / "f.parquet", "wb") as f:
        generated.write(f, "parquet")
    with open(tmp_path / "f.parquet", "rb") as f:
        assert_identical(catalog.read(f, format="parquet", threads=1), generated)
    with pytest.raises(TypeError, match="Parquet is binary"):
        generated.write(io.StringIO(), "parquet")
    with pytest.raises(TypeError, match="Parquet is binary"):
        catalog.read(io.StringIO("PAR1 not really"), format="parquet")
    with pytest.raises(TypeError, match="needs a path or a file object, not 'int'"):
        generated.write(3, "parquet")


def test_parquet_keeps_no_rejected_sets(generated, tmp_path):
    assert len(generated.rejected) == 12
    generated.write(tmp_path / "r.parquet", "parquet")
    back = catalog.read(tmp_path / "r.parquet", errors="skip", checksums=False)
    assert back.rejected == [] and len(back) == len(generated)
    assert "0 rejected" in repr(back)


def test_parquet_that_is_no_catalogue(tmp_path):
    bad = tmp_path / "bad.parquet"
    bad.write_bytes(b"PAR1 and then nothing of the kind")
    with pytest.raises(ValueError, match=f"^{bad}: not a readable Parquet file"):
        catalog.read(bad)
    foreign = tmp_path / "foreign.parquet"
    pq.write_table(pa.table({"satno": [1, 2], "x": [1.0, 2.0]}), foreign)
    with pytest.raises(ValueError) as info:
        catalog.read(foreign)
    assert str(info.value).startswith(f"{foreign}: from_arrow: the table has no column 'name',")


# ---- without the optional packages ------------------------------------------------------------


@pytest.mark.parametrize(
    "blocked, call, what",
    [
        (["pyarrow"], lambda c, p: c.to_arrow(), "Catalog.to_arrow needs pyarrow"),
        (["pyarrow"], lambda c, p: Catalog.from_arrow(None), "Catalog.from_arrow needs pyarrow"),
        (["pandas"], lambda c, p: c.to_pandas(), "Catalog.to_pandas needs pandas"),
        (
            ["pyarrow", "pyarrow.parquet"],
            lambda c, p: c.write(p, "parquet"),
            "writing Parquet needs pyarrow",
        ),
        (
            ["pyarrow", "pyarrow.parquet"],
            lambda c, p: catalog.read(p),
            "reading Parquet needs pyarrow",
        ),
    ],
)
def test_clear_error_without_the_extra(blocked, call, what, generated, tmp_path, monkeypatch):
    path = tmp_path / "x.parquet"
    generated.write(path, "parquet")
    for name in blocked:
        monkeypatch.setitem(sys.modules, name, None)  # import raises ImportError
    with pytest.raises(ImportError) as info:
        call(generated, path)
    assert str(info.value) == f"{what}: pip install orbivex[arrow]"


def test_from_arrow_reads_the_arrow_stream_of_other_libraries(generated):
    pytest.importorskip("pandas")
    df = generated.to_pandas()
    if not hasattr(df, "__arrow_c_stream__"):
        pytest.skip("this pandas has no Arrow stream")
    assert_identical(Catalog.from_arrow(df), generated)


def test_methods_reach_the_python_half(generated, monkeypatch):
    # The native methods look the functions up on each call: what is there then is called,
    # and a missing module or function is the import's or the lookup's own error.
    from orbivex.propagators.analytical.sgp4 import _catalog_arrow

    seen = []
    monkeypatch.setattr(_catalog_arrow, "to_arrow", lambda c: seen.append(c) or "table")
    assert generated.to_arrow() == "table" and seen == [generated]
    monkeypatch.setattr(_catalog_arrow, "from_arrow", lambda t: ("made", t))
    assert Catalog.from_arrow(7) == ("made", 7)
    monkeypatch.delattr(_catalog_arrow, "to_pandas")
    with pytest.raises(AttributeError, match="to_pandas"):
        generated.to_pandas()
    monkeypatch.setitem(sys.modules, _catalog_arrow.__name__, None)
    with pytest.raises(ImportError):
        generated.to_arrow()


def test_signatures():
    import inspect

    assert str(inspect.signature(Catalog.from_arrow)) == "(table, /)"
    assert str(inspect.signature(Catalog.to_arrow)) == "(self, /)"
    assert str(inspect.signature(Catalog.to_pandas)) == "(self, /)"
    assert Catalog.from_arrow.__self__ is Catalog and Catalog.from_arrow.__qualname__ == (
        "Catalog.from_arrow"
    )
