"""Every refusal through read(): each reason with its source, line, column and text, raised
(errors="raise") and kept (errors="skip"); lines that belong to no set; missing lines; the
checksum switch; and the accounting that loses no set."""

import pickle

import pytest

from .kernel import L1, L2, put
from .test_grammar import FAULTS

catalog = pytest.importorskip("orbivex.propagators.analytical.sgp4.catalog")

M1 = put(put(L1, 3, "A0042"), 19, "23001.25000000")
M2 = put(L2, 3, "A0042")


def damaged(line, col, text):
    lines = {1: L1, 2: L2}
    lines[line] = put(lines[line], col, text, resum=col != 69)
    return lines[1], lines[2]


def read_both(path):
    """The error read() raises, and the catalogue it gives with errors="skip"."""
    with pytest.raises(catalog.TLEFormatError) as raised:
        catalog.read(path)
    return raised.value, catalog.read(path, errors="skip")


def fields(e):
    return e.source, e.line, e.column, e.code, e.reason


@pytest.mark.parametrize(("line", "col", "text", "reason", "column", "found", "expected"), FAULTS)
def test_every_form_fault(kernel, tmp_path, line, col, text, reason, column, found, expected):
    # A name, a blank line, the damaged set, then a valid set that must still be read.
    l1, l2 = damaged(line, col, text)
    path = tmp_path / "active.tle"
    path.write_bytes(f"ISS (ZARYA)\n\n{l1}\n{l2}\nNEXT\n{M1}\n{M2}\n".encode("latin-1"))
    raised, skipped = read_both(path)
    text = kernel.fault_text(reason, line, column, found, expected)
    where = 3 if line == 1 else 4
    assert fields(raised) == (str(path), where, column, reason, text)
    assert str(raised) == f"{path}:{where}:{column}: {text}"
    assert isinstance(raised, ValueError)
    assert [fields(e) for e in skipped.rejected] == [fields(raised)]
    assert list(skipped.satno) == [100042]
    assert list(skipped.source_line) == [5]


@pytest.mark.parametrize(
    ("sets", "expected"),
    [
        # checksum digits: the example of the reader's documentation
        ([(L1, L2[:68] + "7")], [(2, 69, "checksum", "line 2 checksum is 7, computed 9")]),
        ([(L1[:68] + "0", L2)], [(1, 69, "checksum", "line 1 checksum is 0, computed 7")]),
        # lengths after trailing white space
        ([(L1[:67], L2)], [(1, 68, "length", "line 1 has 67 characters, expected 69")]),
        ([(L1, L2 + "  X")], [(2, 70, "length", "line 2 has 72 characters, expected 69")]),
        ([(L1 + "   \t", L2 + "  \r")], []),
        # a non-ASCII byte
        (
            [(L1.replace("98067A", "98067\u00e9"), L2)],
            [(1, 15, "non_ascii", "line 1 column 15: byte 0xC3 is not ASCII")],
        ),
    ],
)
def test_whole_line_faults(tmp_path, sets, expected):
    path = tmp_path / "sats.tle"
    path.write_text("".join(f"{a}\n{b}\n" for a, b in sets) + f"{M1}\n{M2}\n", encoding="utf-8")
    got = catalog.read(path, errors="skip")
    assert [(e.line, e.column, e.code, e.reason) for e in got.rejected] == expected
    assert len(got) + len(got.rejected) == len(sets) + 1


def test_missing_lines_and_stray_lines(tmp_path):
    text = (
        "\n".join(
            [
                "hello",  # 1: followed by another name: no set
                "world",  # 2: names the set of line 3, which has no line 2
                L1,  # 3
                "A",  # 4: followed by another name
                "B",  # 5: names a lone line 2
                L2,  # 6
                M1,  # 7
                M2,  # 8
                "",  # 9
                "1 HAM SAT",  # 10: too short for an element line: a name, followed by another
                "",  # 11
                "CUBE",  # 12: names a lone line 2
                M2,  # 13
                "TRAILING",  # 14: a name at the end
            ]
        )
        + "\n"
    )
    path = tmp_path / "mixed.tle"
    path.write_text(text, encoding="ascii")
    got = catalog.read(path, errors="skip")
    stray = "line is not part of an element set"
    assert [(e.line, e.column, e.code, e.reason) for e in got.rejected] == [
        (1, 1, "stray_line", stray),
        (3, 1, "missing_line2", "line 1 without its line 2"),
        (4, 1, "stray_line", stray),
        (6, 1, "missing_line1", "line 2 without its line 1"),
        (10, 1, "stray_line", stray),
        (13, 1, "missing_line1", "line 2 without its line 1"),
        (14, 1, "stray_line", stray),
    ]
    assert list(got.satno) == [100042]
    assert list(got.source_line) == [7] and list(got.name) == [None]
    # Each refused set or stray line counts as one: nothing is lost.
    assert len(got) + len(got.rejected) == 8
    with pytest.raises(catalog.TLEFormatError, match=rf"^{path}:1:1: {stray}$"):
        catalog.read(path)


def test_raise_names_the_first_fault_in_text_order(tmp_path, generator):
    # Many damaged sets on several threads and in several chunks: the error raised is the first.
    text, damage = generator.make_catalog(20000, seed=61, form="3le", damage=300)
    path = tmp_path / "many.tle"
    path.write_bytes(text)
    first = min(damage, key=lambda d: d.file_line)
    for threads in (1, 2):
        with pytest.raises(catalog.TLEFormatError) as raised:
            catalog.read(path, threads=threads)
        e = raised.value
        assert (e.line, e.code, e.column) == (first.file_line, first.reason, first.column)


def test_checksums_off(tmp_path):
    path = tmp_path / "sums.tle"
    path.write_text(f"{L1[:68]}0\n{L2[:68]}0\n{L1[:68]}X\n{L2}\n", encoding="ascii")
    got = catalog.read(path, checksums=False, errors="skip")
    assert list(got.satno) == [25544]
    assert [(e.line, e.code) for e in got.rejected] == [(3, "checksum_character")]
    # The stored lines are the text as read, wrong digit and all.
    assert got.line1[0] == L1[:68] + "0"
    assert [e.code for e in catalog.read(path, errors="skip").rejected] == [
        "checksum",
        "checksum_character",
    ]


def test_errors_pickle_and_keep_their_fields(tmp_path):
    path = tmp_path / "bad.tle"
    path.write_text(f"{L1}\n{L2[:68]}7\n", encoding="ascii")
    got = catalog.read(path, errors="skip")
    e = got.rejected[0]
    back = pickle.loads(pickle.dumps(e))
    assert type(back) is catalog.TLEFormatError
    assert fields(back) == fields(e) and str(back) == str(e)
    again = pickle.loads(pickle.dumps(got))
    assert [fields(x) for x in again.rejected] == [fields(e)]
    assert catalog.TLEFormatError.__module__ == catalog.__name__
    assert issubclass(catalog.TLEFormatError, ValueError)


def test_every_kind_of_damage_accounted_for(tmp_path, generator):
    # The generator's damaged files: every damaged set refused with the reason, line and
    # column its manifest names, every other set read, none lost.
    kinds = len(generator.DAMAGE_KINDS)
    for form, crlf, blank in (("3le", False, 0.0), ("0name", True, 0.1), ("2le", False, 0.05)):
        text, damage = generator.make_catalog(
            6000, seed=62, form=form, crlf=crlf, blank_share=blank, damage=4 * kinds
        )
        path = tmp_path / f"damaged-{form}.tle"
        path.write_bytes(text)
        for threads in (1, 2):
            got = catalog.read(path, errors="skip", threads=threads)
            assert len(got) + len(got.rejected) == 6000
            assert len(got.rejected) == len(damage)
            assert sorted((e.line, e.code, e.column) for e in got.rejected) == sorted(
                (d.file_line, d.reason, d.column) for d in damage
            )
            assert [e.line for e in got.rejected] == sorted(e.line for e in got.rejected)
            assert all(e.source == str(path) for e in got.rejected)
