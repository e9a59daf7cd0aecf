"""Where catalogues come from and go to: paths and compressed files, text and binary file
objects, text; format detection and the tables through which formats read in Python plug in;
writing two- and three-line text and reading it back to the same columns; Ctrl-C; argument
errors."""

import bz2
import functools
import gzip
import io
import lzma
import os
import threading

import numpy as np
import pytest

from .kernel import L1, L2, put
from .reading import assert_interrupt_ends_early, assert_pending_interrupt_ends, assert_same_columns

catalog = pytest.importorskip("orbivex.propagators.analytical.sgp4.catalog")
helper = pytest.importorskip("orbivex.propagators.analytical.sgp4._catalog_py")


@pytest.fixture(scope="module")
def sample(generator):
    text, _ = generator.make_catalog(4000, seed=91, form="3le", alpha5_share=0.2, damage=30)
    return text, catalog.parse(text, errors="skip")


def same(a, b):
    assert_same_columns(a, b)
    assert [str(e).split(":", 1)[1] for e in a.rejected] == [
        str(e).split(":", 1)[1] for e in b.rejected
    ]


@pytest.mark.parametrize(
    ("suffix", "compress"),
    [
        (".tle", bytes),
        (".gz", gzip.compress),
        (".bz2", bz2.compress),
        (".xz", lzma.compress),
        (".TLE.GZ", gzip.compress),
    ],
)
def test_paths_and_compressed_files(tmp_path, sample, suffix, compress):
    text, expected = sample
    path = tmp_path / f"sats{suffix}"
    path.write_bytes(compress(text))
    for source in (path, str(path), bytes(path)):
        got = catalog.read(source, errors="skip")
        same(got, expected)
    assert got.rejected[0].source == str(path)


def test_plain_files_read_in_blocks(tmp_path, generator):
    # Over 4 MiB: several blocks, read on as many threads as asked, in order.
    text = generator.make_catalog(30000, seed=95, form="3le")[0] * 3
    assert len(text) > 3 * (4 << 20)
    path = tmp_path / "big.tle"
    path.write_bytes(text)
    for threads in (1, 2, 3, 64):
        assert catalog._read_file(str(path), threads) == text
    expected = catalog.parse(text)
    for threads in (1, 2):
        assert_same_columns(catalog.read(path, threads=threads), expected)


def test_files_without_a_size_are_read_plainly(tmp_path, sample):
    text, expected = sample
    empty = tmp_path / "empty.tle"
    empty.write_bytes(b"")
    assert catalog._read_file(str(empty), 2) is None
    assert len(catalog.read(empty)) == 0
    # A FIFO is neither opened blocking nor read by size: the plain read takes it.
    fifo = tmp_path / "sats.fifo"
    os.mkfifo(fifo)
    writer = threading.Thread(target=fifo.write_bytes, args=(text,))
    writer.start()
    same(catalog.read(fifo, errors="skip"), expected)
    writer.join()
    assert catalog._read_file("/proc/self/status", 1) is None
    # A file that holds less than its size says ends where its reads end.
    short = "/sys/devices/system/cpu/online"
    if os.path.exists(short) and os.stat(short).st_size > 64:
        with open(short, "rb") as f:
            assert catalog._read_file(short, 2) == f.read()


def test_file_errors_name_the_path(tmp_path):
    with pytest.raises(FileNotFoundError) as missing:
        catalog.read(tmp_path / "none.tle")
    assert missing.value.filename == str(tmp_path / "none.tle")
    with pytest.raises(IsADirectoryError):
        catalog.read(tmp_path)
    with pytest.raises(TypeError):
        catalog._read_file(3, 1)
    with pytest.raises(ValueError, match="null"):
        catalog._read_file("a\0b", 1)
    with pytest.raises(TypeError, match="takes 2 arguments"):
        catalog._read_file("x")


def test_concatenated_compressed_streams(tmp_path, sample):
    text, expected = sample
    half = text.index(b"\n", len(text) // 2) + 1
    for suffix, compress in (
        (".gz", gzip.compress),
        (".bz2", bz2.compress),
        (".xz", lzma.compress),
    ):
        path = tmp_path / f"two{suffix}"
        path.write_bytes(compress(text[:half]) + compress(text[half:]))
        same(catalog.read(path, errors="skip"), expected)


def test_truncated_compressed_file(tmp_path, sample):
    path = tmp_path / "cut.gz"
    path.write_bytes(gzip.compress(sample[0])[:-100])
    with pytest.raises(EOFError, match="ends before its end marker"):
        catalog.read(path)


def test_file_objects_and_text(tmp_path, sample):
    text, expected = sample
    same(catalog.read(io.BytesIO(text), errors="skip"), expected)
    same(catalog.read(io.StringIO(text.decode()), errors="skip"), expected)
    path = tmp_path / "sats.tle"
    path.write_bytes(text)
    with open(path, encoding="utf-8") as f:
        got = catalog.read(f, errors="skip")
    same(got, expected)
    assert got.rejected[0].source == str(path)
    with gzip.open(tmp_path / "sats.gz", "wb") as f:
        f.write(text)
    with gzip.open(tmp_path / "sats.gz", "rb") as f:
        same(catalog.read(f, errors="skip"), expected)
    assert catalog.read(io.BytesIO(text), errors="skip").rejected[0].source == "<BytesIO>"
    for data in (text, text.decode(), bytearray(text), memoryview(text)):
        same(catalog.parse(data, errors="skip"), expected)
    assert catalog.parse(text, errors="skip").rejected[0].source == "<text>"


def test_names_read_as_utf8():
    text = f"\u00c9TOILE \u2606\n{L1}\n{L2}\n"
    assert list(catalog.parse(text).name) == ["\u00c9TOILE \u2606"]
    assert list(catalog.parse(text.encode()).name) == ["\u00c9TOILE \u2606"]
    # Bytes that are not UTF-8 read as replacement characters.
    assert list(catalog.parse(b"\xffSAT\n" + f"{L1}\n{L2}\n".encode()).name) == ["\ufffdSAT"]


def test_byte_order_mark_and_line_ends():
    text = f"\ufeff0 ISS (ZARYA)\r\n{L1}\r\n\r\n{L2}\r\n"
    cat = catalog.parse(text)
    assert list(cat.name) == ["ISS (ZARYA)"] and list(cat.line2) == [L2]


@pytest.mark.parametrize(
    ("head", "fmt"),
    [
        (b"PAR1\x15\x04", "parquet"),
        (b'  [{"OBJECT_NAME": "ISS"}]', "omm-json"),
        (b"\xef\xbb\xbf{}", "omm-json"),
        (b'<?xml version="1.0"?>', "omm-xml"),
        (b"CCSDS_OMM_VERS = 2.0\n", "omm-kvn"),
        (b"OBJECT_NAME,OBJECT_ID,EPOCH\nISS,", "omm-csv"),
        (b"norad_cat_id,mean_motion\n", "omm-csv"),
        (L1.encode(), "tle"),
        (b"", "tle"),
        (b"ISS, THE STATION\n", "tle"),
    ],
)
def test_format_detection(head, fmt):
    assert helper.detect_format(head) == fmt
    assert helper.detect_format(head.decode("utf-8", "replace")) == fmt


@pytest.mark.parametrize("fmt", ["omm-csv", "omm-json", "omm-xml", "omm-kvn", "parquet"])
def test_formats_without_a_reader_are_refused_clearly(tmp_path, fmt, monkeypatch):
    monkeypatch.setattr(helper, "READERS", {})
    monkeypatch.setattr(helper, "WRITERS", {})
    path = tmp_path / "data.bin"
    path.write_bytes(b"PAR1" if fmt == "parquet" else b"{}")
    refused = rf"^{path}: cannot read .* \(format '{fmt}'\): READERS holds no reader for it$"
    with pytest.raises(ValueError, match=refused):
        catalog.read(path, format=fmt)
    with pytest.raises(ValueError, match=rf"cannot write .* \(format '{fmt}'\): WRITERS holds"):
        catalog.parse(f"{L1}\n{L2}\n").write(tmp_path / "out", format=fmt)


def test_detected_format_goes_to_its_reader(tmp_path, monkeypatch, sample):
    # A reader written in Python plugs in through READERS and returns the fields in the
    # published units; the catalogue made of them equals the one read from the text.
    text, expected = sample
    calls = []

    def reader(data, *, source, errors, checksums, threads):
        calls.append((bytes(data[:1]), source, errors, checksums, threads))
        return published_fields(expected), expected.rejected

    monkeypatch.setitem(helper.READERS, "omm-json", reader)
    path = tmp_path / "sats.json"
    path.write_bytes(b"[]")
    got = catalog.read(path, errors="skip", checksums=False, threads=3)
    assert calls == [(b"[", str(path), "skip", False, 3)]
    same(got, expected)
    # A reader may also give a Catalog, which is returned as it is.
    monkeypatch.setitem(helper.READERS, "omm-json", lambda data, **kw: expected)
    assert catalog.parse("[]") is expected
    monkeypatch.setitem(helper.READERS, "omm-json", lambda data, **kw: 42)
    with pytest.raises(TypeError, match="not a Catalog or \\(fields, rejected\\)"):
        catalog.parse("[]")


def test_writers_plug_in(tmp_path, monkeypatch, sample):
    seen = []
    monkeypatch.setitem(helper.WRITERS, "omm-csv", lambda cat, target: seen.append((cat, target)))
    cat = sample[1]
    cat.write(tmp_path / "x.csv", format="omm-csv")
    assert seen == [(cat, tmp_path / "x.csv")]


# ---- the fields of formats read in Python -----------------------------------------------------

DEG, REV, DAY = np.pi / 180.0, 2.0 * np.pi, 86400.0


def published_fields(cat):
    """The fields of a catalogue as a format that publishes them gives them: the numbers of
    the text (degrees and rev/day as written, the text read by Python)."""
    line2 = [str(x) for x in cat.line2]
    out = {
        name: getattr(cat, name)
        for name in (
            "satno",
            "epoch_ns",
            "ndot",
            "nddot",
            "bstar",
            "ephemeris_type",
            "element_number",
            "revolution",
            "source_line",
        )
    }
    out["name"] = list(cat.name)
    out["classification"] = [str(x) for x in cat.classification]
    out["intldes"] = np.array([str(x) for x in cat.intldes])
    for name, cols in (
        ("inc", slice(8, 16)),
        ("raa", slice(17, 25)),
        ("arp", slice(34, 42)),
        ("mea", slice(43, 51)),
        ("mnm", slice(52, 63)),
    ):
        out[name] = np.array([float(line[cols]) for line in line2])
    out["ecc"] = np.array([float("." + line[26:33]) for line in line2])
    return out


def test_fields_give_the_columns_of_the_text(sample):
    expected = sample[1]
    fields = published_fields(expected)
    # Any row order: the rows are sorted.
    order = np.random.default_rng(92).permutation(len(expected))
    shuffled = {
        k: np.asarray(v, dtype=object if k == "name" else None)[order] for k, v in fields.items()
    }
    got = catalog.Catalog._from_fields(shuffled, expected.rejected)
    same(got, expected)


def test_fields_defaults_and_values_without_two_lines():
    cat = catalog.parse(f"SAT\n{L1}\n{L2}\n")
    fields = published_fields(cat)
    del fields["source_line"]
    fields["satno"] = np.array([400_000])
    got = catalog.Catalog._from_fields(fields)
    assert list(got.source_line) == [1]
    assert got.line1[0] == "" and got.line2[0] == "" and got.inc[0] == cat.inc[0]
    with pytest.raises(ValueError, match="has no two-line form: the format cannot hold its satno"):
        got.tle(0)
    with pytest.raises(ValueError, match=r"row 0 \(satellite 400000\) has no two-line form"):
        got.write(io.BytesIO())


@pytest.mark.parametrize(
    ("change", "error", "match"),
    [
        ({"inc": [1.0, 2.0]}, ValueError, "'inc' has 2 items, the fields before it 1"),
        ({"inclination": [1.0]}, ValueError, "unknown field 'inclination'"),
        ({"intldes": ["123456789"]}, ValueError, "intldes\\[0\\] is not ASCII text of at most 8"),
        ({"classification": ["\u00e9"]}, ValueError, "classification\\[0\\] is not ASCII"),
        ({"name": [3]}, TypeError, "name\\[0\\] is 'int', not str or None"),
        ({"satno": [1.5]}, TypeError, "Cannot cast"),
        ({"epoch_ns": [np.iinfo(np.int64).min]}, ValueError, "epoch_ns\\[0\\] is NaT"),
    ],
)
def test_fields_refused(change, error, match):
    fields = published_fields(catalog.parse(f"{L1}\n{L2}\n"))
    fields.update(change)
    with pytest.raises(error, match=match):
        catalog.Catalog._from_fields(fields)


def test_fields_of_no_records():
    fields = published_fields(catalog.parse(f"{L1}\n{L2}\n"))
    got = catalog.Catalog._from_fields({k: [] for k in fields})
    assert len(got) == 0 and got.satno.dtype == np.int64 and got.line1.dtype == np.dtype("<U69")


def test_fields_missing_or_not_a_dict():
    fields = published_fields(catalog.parse(f"{L1}\n{L2}\n"))
    with pytest.raises(ValueError, match="no field 'mnm'"):
        catalog.Catalog._from_fields({k: v for k, v in fields.items() if k != "mnm"})
    with pytest.raises(TypeError, match="fields must be a dict"):
        catalog.Catalog._from_fields(list(fields.items()))


# ---- writing ----------------------------------------------------------------------------------


@pytest.mark.parametrize("fmt", ["tle", "3le"])
def test_write_then_read_gives_the_same_columns(tmp_path, sample, fmt):
    _, cat = sample
    for suffix in (".tle", ".gz", ".bz2", ".xz"):
        path = tmp_path / f"out{suffix}"
        cat.write(path, format=fmt)
        back = catalog.read(path)
        skip = ("source_line",) if fmt == "3le" else ("source_line", "name")
        assert_same_columns(back, cat, skip=skip)
        if fmt == "tle":
            assert set(back.name) == {None}
    # The stored lines are what is written: a valid text writes back its own lines.
    buf = io.BytesIO()
    cat.write(buf, format=fmt)
    lines = buf.getvalue().decode().splitlines()
    assert lines[-2:] == [cat.line1[-1], cat.line2[-1]]


def test_write_to_file_objects(sample):
    _, cat = sample
    binary, text = io.BytesIO(), io.StringIO()
    cat.write(binary, "3le")
    cat.write(text, "3le")
    assert binary.getvalue().decode() == text.getvalue()
    assert binary.getvalue().startswith((str(cat.name[0]).ljust(24) + "\n").encode())


def test_names_that_need_the_zero_form(tmp_path):
    names = [
        "0 ZERO",
        "1" + " " * 30 + "LONG NAME THAT LOOKS LIKE LINE 1",
        "x" * 24,
        None,
        "2 25544  51.6400 208.9163 0006703  69.9862  2",
    ]
    sets = []
    for k, name in enumerate(names):
        sets.append((name, put(L1, 3, f"{k + 1:05d}"), put(L2, 3, f"{k + 1:05d}")))
    text = "".join((f"0 {n}\n" if n else "") + f"{a}\n{b}\n" for n, a, b in sets)
    cat = catalog.parse(text)
    assert list(cat.name) == names
    path = tmp_path / "names.tle"
    cat.write(path, format="3le")
    assert list(catalog.read(path).name) == names
    written = path.read_text().splitlines()
    assert written[0] == "0 0 ZERO" and written[6] == "x" * 24 and written[9] == sets[3][1]
    line_end = catalog.Catalog._from_fields(
        {**published_fields(cat.satellite(1)), "name": ["A\nB"]}
    )
    with pytest.raises(ValueError, match="has a line end"):
        line_end.write(io.BytesIO(), "3le")


def test_write_refuses_bad_targets(sample):
    with pytest.raises(TypeError, match="write\\(\\) needs a path or a file object"):
        sample[1].write(42)
    with pytest.raises(ValueError, match="unknown format 'csv'"):
        sample[1].write(io.BytesIO(), format="csv")


# ---- Ctrl-C, arguments ------------------------------------------------------------------------


def test_ctrl_c_ends_a_read(generator, tmp_path):
    text, _ = generator.make_catalog(20000, seed=93, form="2le")
    assert_pending_interrupt_ends(functools.partial(catalog.parse, text, threads=1))
    path = tmp_path / "sats.tle"
    path.write_bytes(text)
    assert_pending_interrupt_ends(functools.partial(catalog._read_file, str(path), 1))
    # One that arrives during a long read ends it early, on one thread and on two.
    big = text * 15
    for threads in (1, 2):
        assert_interrupt_ends_early(functools.partial(catalog.parse, big, threads=threads))


@pytest.mark.parametrize(
    ("kwargs", "error", "match"),
    [
        ({"errors": "ignore"}, ValueError, "errors must be 'raise' or 'skip', not 'ignore'"),
        ({"errors": 1}, TypeError, "errors must be a str"),
        ({"threads": 0}, ValueError, "threads must be at least 1"),
        ({"threads": -(2**70)}, ValueError, "threads must be at least 1"),
        ({"threads": True}, TypeError, "threads must be an int or None"),
        ({"format": "csv"}, ValueError, "unknown format 'csv'"),
        ({"format": b"tle"}, TypeError, "format must be a str or None"),
        ({"strict": True}, TypeError, "unexpected keyword argument 'strict'"),
    ],
)
def test_argument_errors(kwargs, error, match):
    with pytest.raises(error, match=match):
        catalog.parse(f"{L1}\n{L2}\n", **kwargs)


def test_sources_refused():
    with pytest.raises(TypeError, match="needs a path or a file object, not 'int'"):
        catalog.read(3)
    with pytest.raises(TypeError, match="parse\\(\\) needs the text as str or bytes"):
        catalog.parse(3)

    class Odd:
        def read(self):
            return 3

    with pytest.raises(TypeError, match="read\\(\\) returned 'int'"):
        catalog.read(Odd())
    with pytest.raises(FileNotFoundError):
        catalog.read("/nonexistent/sats.tle")
    assert len(catalog.parse(f"{L1}\n{L2}\n", threads=2**70)) == 1
