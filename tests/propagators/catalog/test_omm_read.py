"""Orbit mean-element messages read: the four forms and their detection, values as Catalog
._from_fields converts the same published numbers, exact epochs, every refused record with its
line, column and reason, the same catalogue on one thread and on several, and agreement with
python-sgp4's OMM parser."""

import io
import json
import math

import numpy as np
import pytest
from hypothesis import given, settings
from hypothesis import strategies as st

from .reading import assert_interrupt_ends_early, assert_pending_interrupt_ends, assert_same_columns

catalog = pytest.importorskip("orbivex.propagators.analytical.sgp4.catalog")

KEYS = (
    "OBJECT_NAME",
    "OBJECT_ID",
    "EPOCH",
    "MEAN_MOTION",
    "ECCENTRICITY",
    "INCLINATION",
    "RA_OF_ASC_NODE",
    "ARG_OF_PERICENTER",
    "MEAN_ANOMALY",
    "EPHEMERIS_TYPE",
    "CLASSIFICATION_TYPE",
    "NORAD_CAT_ID",
    "ELEMENT_SET_NO",
    "REV_AT_EPOCH",
    "BSTAR",
    "MEAN_MOTION_DOT",
    "MEAN_MOTION_DDOT",
)

ISS = {
    "OBJECT_NAME": "ISS (ZARYA)",
    "OBJECT_ID": "1998-067A",
    "EPOCH": "2026-02-23T06:28:41.856192",
    "MEAN_MOTION": "15.49438695",
    "ECCENTRICITY": "0.0005991",
    "INCLINATION": "51.6372",
    "RA_OF_ASC_NODE": "290.9753",
    "ARG_OF_PERICENTER": "34.6694",
    "MEAN_ANOMALY": "131.1947",
    "EPHEMERIS_TYPE": "0",
    "CLASSIFICATION_TYPE": "U",
    "NORAD_CAT_ID": "25544",
    "ELEMENT_SET_NO": "999",
    "REV_AT_EPOCH": "47914",
    "BSTAR": "0.00032055",
    "MEAN_MOTION_DOT": "0.00020836",
    "MEAN_MOTION_DDOT": "0",
}
HUBBLE = dict(
    ISS,
    OBJECT_NAME="HST",
    OBJECT_ID="1990-037B",
    EPOCH="2026-02-22T23:01:02.5",
    NORAD_CAT_ID="20580",
    MEAN_MOTION="15.2809",
    ECCENTRICITY="2.1e-4",
    BSTAR="-1.2345E-5",
)


# ---- the four forms, written here as their publishers lay them out ---------------------------


def csv_text(records, keys=KEYS):
    rows = [",".join(keys)]
    for r in records:
        rows.append(",".join(r.get(k, "") for k in keys))
    return "\r\n".join(rows) + "\r\n"


def json_text(records, numbers=True):
    def value(k, v):
        return (
            v
            if not numbers or k in ("OBJECT_NAME", "OBJECT_ID", "EPOCH", "CLASSIFICATION_TYPE")
            else json.loads(v)
        )

    return json.dumps([{k: value(k, v) for k, v in r.items()} for r in records], indent=1)


def xml_text(records):
    meta = ("OBJECT_NAME", "OBJECT_ID")
    mean = KEYS[2:9]
    tle = KEYS[9:]
    out = [
        '<?xml version="1.0" encoding="UTF-8"?>',
        '<ndm xmlns:xsi="http://www.w3.org/2001/XMLSchema-instance">',
    ]
    for r in records:

        def els(keys, r=r):
            return "".join(f"<{k}>{r[k]}</{k}>" for k in keys if k in r)

        out.append(
            '<omm id="CCSDS_OMM_VERS" version="2.0">\n<header><CREATION_DATE/><ORIGINATOR/>'
            f"</header>\n<body><segment><metadata>{els(meta)}<CENTER_NAME>EARTH</CENTER_NAME>"
            "<REF_FRAME>TEME</REF_FRAME><TIME_SYSTEM>UTC</TIME_SYSTEM>"
            f"<MEAN_ELEMENT_THEORY>SGP4</MEAN_ELEMENT_THEORY></metadata>\n<data>"
            f"<meanElements>{els(mean)}</meanElements>\n"
            f"<tleParameters>{els(tle)}</tleParameters></data></segment></body></omm>"
        )
    out.append("</ndm>")
    return "\n".join(out) + "\n"


def kvn_text(records):
    out = []
    for r in records:
        out += [
            "CCSDS_OMM_VERS = 2.0",
            "COMMENT GENERATED VIA SPACE-TRACK.ORG API",
            "CREATION_DATE = 2026-02-23T12:00:00",
            "ORIGINATOR = 18 SPCS",
        ]
        out += [f"{k} = {v}" for k, v in r.items()]
        out.append("")
    return "\n".join(out)


FORMS = {"omm-csv": csv_text, "omm-json": json_text, "omm-xml": xml_text, "omm-kvn": kvn_text}


def expected_fields(records):
    """The records through Catalog._from_fields: the published numbers as Python reads them."""
    f = {
        "satno": [int(r["NORAD_CAT_ID"]) for r in records],
        "name": [r.get("OBJECT_NAME") for r in records],
        "classification": [r.get("CLASSIFICATION_TYPE", "U") for r in records],
        "intldes": [r["OBJECT_ID"][2:4] + r["OBJECT_ID"][5:] for r in records],
        "epoch_ns": [int(np.datetime64(r["EPOCH"], "ns").astype(np.int64)) for r in records],
        "ephemeris_type": [int(r.get("EPHEMERIS_TYPE", 0)) for r in records],
        "element_number": [int(r["ELEMENT_SET_NO"]) for r in records],
        "revolution": [int(r["REV_AT_EPOCH"]) for r in records],
    }
    for column, key in (
        ("ndot", "MEAN_MOTION_DOT"),
        ("nddot", "MEAN_MOTION_DDOT"),
        ("bstar", "BSTAR"),
        ("inc", "INCLINATION"),
        ("raa", "RA_OF_ASC_NODE"),
        ("ecc", "ECCENTRICITY"),
        ("arp", "ARG_OF_PERICENTER"),
        ("mea", "MEAN_ANOMALY"),
        ("mnm", "MEAN_MOTION"),
    ):
        f[column] = [float(r[key]) for r in records]
    f["source_line"] = [0] * len(records)
    return catalog.Catalog._from_fields(f)


@pytest.mark.parametrize("form", FORMS)
def test_each_form_reads_the_published_values(form):
    text = FORMS[form]([ISS, HUBBLE])
    for cat in (
        catalog.parse(text, format=form),
        catalog.parse(text),
        catalog.parse(text.encode()),
    ):
        assert_same_columns(cat, expected_fields([ISS, HUBBLE]), skip=("source_line",))
        assert list(cat.satno) == [20580, 25544] and list(cat.intldes) == ["90037B", "98067A"]
        assert cat.rejected == []
    # The two-line form of the ISS: its fields, and checksums computed here.
    for line, body in (
        (cat.line1[1], "1 25544U 98067A   26054.26992889  .00020836  00000-0  32055-3 0  999"),
        (cat.line2[1], "2 25544  51.6372 290.9753 0005991  34.6694 131.1947 15.4943869547914"),
    ):
        digits = sum(int(ch) if ch.isdigit() else ch == "-" for ch in body)
        assert line == body + str(digits % 10)


def test_json_values_as_numbers_or_strings_and_a_single_object():
    as_numbers = catalog.parse(json_text([ISS, HUBBLE]))
    as_strings = catalog.parse(json_text([ISS, HUBBLE], numbers=False))
    assert_same_columns(as_numbers, as_strings)
    one = catalog.parse(json.dumps(ISS))
    assert_same_columns(one, as_numbers.satellite(25544), skip=("source_line",))
    # Members the reader does not take are passed over, nested values whole; escapes decoded.
    extra = dict(
        json.loads(json_text([ISS])[1:-1]),
        DECAY_DATE=None,
        TLE=["1 x", {"a": "}"}],
        OBJECT_NAME='ISS \u00e9\ud83d\ude80 "Z"',
    )
    got = catalog.parse(json.dumps([extra]))
    assert got.name[0] == 'ISS \u00e9\U0001f680 "Z"'
    assert got.mnm[0] == as_numbers.mnm[1]


def test_json_members_in_any_order_record_by_record():
    # A member is first looked for under the name of its place in the record before: records
    # whose order changes, names written with an escape or blanks around the colon, members not
    # read among them and more of them than the places remembered, all read as the plain ones.
    base = [dict(ISS, NORAD_CAT_ID=str(n), MEAN_ANOMALY=f"{n}.5") for n in range(1, 9)]
    plain = catalog.parse(json_text(base))
    records = []
    for n, r in enumerate(json.loads(json_text(base))):
        items = list(r.items())
        if n in (2, 3):
            items.reverse()
        if n == 3:
            items = [(f"X{k}", k) for k in range(40)] + items
        records.append("{" + ",".join(f"{json.dumps(k)}:{json.dumps(v)}" for k, v in items) + "}")
    records[1] = records[1].replace('"EPOCH":', '"EP\\u004FCH":')
    records[5] = records[5].replace('"BSTAR":', '"BSTAR"\n:')
    records[6] = records[6].replace('"EPOCH":', '"EPOCH" :  ')
    text = "[" + ",\n".join(records) + "]"
    assert_same_columns(catalog.parse(text), plain, skip=("source_line",))
    # A control character inside a number ends no token: the number is refused whole.
    bad = text.replace('"MEAN_ANOMALY":5.5', '"MEAN_ANOMALY":5.\x015')
    (e,) = catalog.parse(bad, errors="skip").rejected
    assert e.reason == "MEAN_ANOMALY is not a decimal number: '5.\x015'"


def test_kvn_lines_in_any_order_record_by_record():
    # A line's key is first compared with the key of its place in the record before: keys of
    # one length that swap places (EPOCH and BSTAR, MEAN_MOTION and INCLINATION), a key not
    # read of a known one's length, comments and blank lines between, all read as the plain.
    base = [dict(ISS, NORAD_CAT_ID=str(n), MEAN_ANOMALY=f"{n}.5") for n in range(1, 9)]
    plain = catalog.parse(kvn_text(base))
    swaps = {"EPOCH": "BSTAR", "BSTAR": "EPOCH", "MEAN_MOTION": "INCLINATION"}
    swaps["INCLINATION"] = "MEAN_MOTION"
    records = []
    for n, r in enumerate(base):
        if n % 2:
            r = {swaps.get(k, k): r[swaps.get(k, k)] for k in r}
        text = kvn_text([r])
        if n == 4:
            text = text.replace("ECCENTRICITY", "ECCENTRICITX = 7\n\nCOMMENT x\nECCENTRICITY")
        records.append(text)
    assert_same_columns(catalog.parse("".join(records)), plain, skip=("source_line",))


@pytest.mark.parametrize("threads", [1, 2])
def test_a_run_of_rows_shares_one_name_object(threads):
    # One str for each run of rows with the same name, holding a reference for each row.
    import sys

    names = ["AB", "AB", "AB", None, None, "CD", "AB"]
    records = [
        dict(ISS, OBJECT_NAME=name, NORAD_CAT_ID="7", ELEMENT_SET_NO=str(k))
        for k, name in enumerate(names)
    ]
    for r in records:
        if r["OBJECT_NAME"] is None:
            del r["OBJECT_NAME"]
    records = [dict(r, EPOCH=f"2026-02-{k + 1:02d}T00:00:00") for k, r in enumerate(records)]
    cat = catalog.parse(json_text(records), threads=threads)
    got = list(cat.name)
    assert got == names
    assert got[0] is got[1] is got[2] and got[6] is not got[0]
    # Three rows and three items of `got` against one and one; then the items alone.
    assert sys.getrefcount(got[0]) - sys.getrefcount(got[5]) == 4
    del cat
    assert sys.getrefcount(got[0]) - sys.getrefcount(got[5]) == 2


def test_csv_quoted_fields_any_column_order_and_missing_optional_keywords():
    keys = tuple(reversed([k for k in KEYS if k not in ("CLASSIFICATION_TYPE", "EPHEMERIS_TYPE")]))
    names = ['"A, ""B"""', '"LINE\nBREAK"', "", '""']
    records = [dict(ISS, OBJECT_NAME=n, NORAD_CAT_ID=str(k + 1)) for k, n in enumerate(names)]
    cat = catalog.parse(csv_text(records, keys))
    assert list(cat.name) == ['A, "B"', "LINE\nBREAK", None, ""]
    assert list(cat.classification) == ["U"] * 4 and list(cat.ephemeris_type) == [0] * 4
    # The record after the quoted line end starts on line 4.
    assert list(cat.source_line) == [2, 3, 5, 6]


def test_xml_namespaces_entities_cdata_and_comments():
    text = (
        xml_text([dict(ISS, OBJECT_NAME="A &amp; B &lt;&#65;&#x42;&gt;")])
        .replace("<meanElements>", "<!-- mean elements --><meanElements>")
        .replace("<ndm ", "<ndm:ndm ")
        .replace("<omm ", "<ndm:omm ")
        .replace("</omm>", "</ndm:omm>")
        .replace("<MEAN_MOTION>15.49438695", "<MEAN_MOTION><![CDATA[15.49438695]]>")
    )
    cat = catalog.parse(text)
    assert cat.name[0] == "A & B <AB>"
    assert_same_columns(cat, expected_fields([ISS]), skip=("source_line", "name"))


def test_xml_tags_with_attributes_prefixes_and_blanks():
    # A tag ends at the first '>' outside quotes and its name at a blank, '>' or '/', the local
    # name after the last ':'; names and attributes longer than a word of eight bytes too.
    text = (
        xml_text([ISS, HUBBLE])
        .replace("<meanElements>", '<meanElements a=\'x>"y\' b=">\'>" c="">')
        .replace("<EPOCH>", "<p:EPOCH>")
        .replace("</EPOCH>", "</p:EPOCH>")
        .replace("<INCLINATION>", "<a:b:INCLINATION\t>")
        .replace("</INCLINATION>", "</a:b:INCLINATION\n>")
        .replace("<BSTAR>", '<BSTAR units="1/ER" >')
        .replace("<tleParameters>", "<tleParameters/><tleParameters>")
    )
    plain = catalog.parse(xml_text([ISS, HUBBLE]))
    assert_same_columns(catalog.parse(text), plain, skip=("source_line",))
    # A quote that is not closed leaves the tag open to the end of the text.
    end = text.rindex("</omm>")
    cat = catalog.parse(text[:end] + '<x a=">' + text[end:], errors="skip")
    assert [e.reason for e in cat.rejected] == ["a tag is not closed"]
    assert list(cat.satno) == [25544]


def test_kvn_units_comments_and_markers():
    text = kvn_text([ISS]).replace(
        "MEAN_MOTION = 15.49438695", "MEAN_MOTION = 15.49438695 [rev/day]"
    )
    text = text.replace(
        "INCLINATION = 51.6372", "META_START\nINCLINATION    =   51.6372  [deg]\nMETA_STOP"
    )
    cat = catalog.parse(text)
    assert_same_columns(cat, expected_fields([ISS]), skip=("source_line",))
    # Names keep what looks like a unit.
    assert catalog.parse(kvn_text([dict(ISS, OBJECT_NAME="SAT [+]")])).name[0] == "SAT [+]"


# Decimals either side of where the one-product path ends: 15 to 21 significant digits, the
# digits' integer beside 2^53, powers of ten beside 22, exponents of every length, underflow.
DECIMALS = [
    "123456789012345",
    "1234567890123456",
    "12345678901234567",
    "0.1234567890123456789",
    "1.23456789012345678901",
    "9007199254740992",
    "9007199254740993",
    "9007199254740993e-5",
    "900719925474099.3",
    "90071992547409.93e3",
    "1e22",
    "1e23",
    "3e-22",
    "3e-23",
    "123e-25",
    "4.5e21",
    "4.5e-21",
    "8.589e-06",
    "7E+2",
    "1e-300",
    "1e0005",
    "5e-324",
    "2e-400",
    "-0",
    "-0e5",
    "+1.5e3",
    "-.5",
    "5.",
    ".5e1",
    "5.e1",
    "00000000000000000000001.5",
    "0.000000000000000000000000001",
]


@pytest.mark.parametrize("form", ["omm-csv", "omm-json"])
def test_decimals_round_as_python_reads_them(form):
    records = [
        dict(ISS, BSTAR=t, MEAN_MOTION_DOT=t, NORAD_CAT_ID=str(k + 1))
        for k, t in enumerate(DECIMALS)
    ]
    text = csv_text(records) if form == "omm-csv" else json_text(records, numbers=False)
    cat = catalog.parse(text, format=form)
    assert [x.hex() for x in cat.bstar] == [float(t).hex() for t in DECIMALS]
    assert [x.hex() for x in cat.ndot] == [float(t).hex() for t in DECIMALS]


@settings(max_examples=300, deadline=None)
@given(
    st.integers(0, 10**22),
    st.integers(0, 24),
    st.sampled_from(["", "e", "E-", "e+"]),
    st.integers(0, 330),
)
def test_any_decimal_rounds_as_python_reads_it(digits, point, marker, power):
    text = str(digits)
    text = (
        text[: len(text) - point] + "." + text[len(text) - point :] if point < len(text) else text
    )
    if marker:
        text += marker + str(power)
    value = float(text)
    if math.isinf(value):
        return
    cat = catalog.parse(csv_text([dict(ISS, BSTAR=text)]))
    assert cat.bstar[0].hex() == value.hex(), text


@pytest.mark.parametrize(
    "text", ["1e", "1e+", "e5", ".", "-", "1.2.3", "1e5.0", "0x10", "1_0", "1e400"]
)
def test_text_that_is_no_decimal_is_refused(text):
    (e,) = catalog.parse(csv_text([dict(ISS, BSTAR=text)]), errors="skip").rejected
    assert e.reason == f"BSTAR is not a decimal number: '{text}'"


@pytest.mark.parametrize(
    ("text", "expected"),
    [
        ("2024-02-29T23:59:59.123456789", "2024-02-29T23:59:59.123456789"),
        ("2024-060T00:00:00", "2024-02-29T00:00:00"),
        ("1957-10-04T19:28:34.5Z", "1957-10-04T19:28:34.5"),
        ("2000-01-01 12:00:00.000000000000", "2000-01-01T12:00:00"),
    ],
)
def test_exact_epochs(text, expected):
    cat = catalog.parse(json.dumps([dict(ISS, EPOCH=text)]))
    assert cat.epoch_ns[0] == np.datetime64(expected, "ns").astype(np.int64)


@settings(max_examples=200, deadline=None)
@given(st.integers(-(10**9) * 86400 * 365 * 100, 10**9 * 86400 * 365 * 200), st.integers(0, 9))
def test_any_epoch_to_the_nanosecond(ns, digits):
    # An integer reference: the text of the instant cut to `digits` fraction digits.
    unit = 10 ** (9 - digits)
    ns -= ns % unit
    seconds, frac = divmod(ns, 10**9)
    whole = str(np.datetime64(seconds, "s"))
    text = whole + ("." + str(frac).zfill(9)[:digits] if digits else "")
    cat = catalog.parse(csv_text([dict(ISS, EPOCH=text)]))
    assert cat.epoch_ns[0] == ns


def test_threads_and_pieces_give_the_same_catalogue(generator):
    text, _ = generator.make_catalog(40000, seed=5, form="3le", alpha5_share=0.2)
    base = catalog.parse(text)
    for form in ("omm-csv", "omm-json", "omm-kvn", "omm-xml"):
        out = io.BytesIO()
        base.write(out, form)
        data = out.getvalue()
        one = catalog.parse(data, threads=1)
        assert_same_columns(one, base, skip=("source_line",))
        # Each row's line is where its record starts in the text, whichever piece it was in.
        first = {"omm-csv": "", "omm-json": "{", "omm-kvn": "CCSDS_OMM_VERS", "omm-xml": "<omm"}
        first = first[form]
        lines = data.decode().splitlines()
        header = 1 if form == "omm-csv" else 0
        starts = [k + 1 for k, line in enumerate(lines) if k >= header and line.startswith(first)]
        assert list(one.source_line) == starts
        for threads in (2, 3, 8):
            assert_same_columns(one, catalog.parse(data, threads=threads))
        # On one line, and with "},{" inside names: the pieces are checked and the cut undone.
        if form == "omm-json":
            squeezed = data.replace(b",\n{", b",{").replace(
                b'"OBJECT_NAME":"', b'"OBJECT_NAME":"},{'
            )
            again = catalog.parse(squeezed, threads=4)
            assert [n.removeprefix("},{") for n in again.name] == list(one.name)
            assert_same_columns(again, one, skip=("name", "source_line"))
            assert set(again.source_line) == {2}
        # "<omm" inside a comment or an attribute value late in each record, where most cuts
        # then fall: the pieces are checked and the cut undone.
        if form == "omm-xml":
            for trap in (b"</segment><!-- <omm -->", b'</segment><x a="<omm ">'):
                again = catalog.parse(data.replace(b"</segment>", trap), threads=4)
                assert_same_columns(again, one)


# ---- refused records --------------------------------------------------------------------------


def refusals(text, form):
    cat = catalog.parse(text, format=form, errors="skip")
    return cat, [(e.line, e.column, e.code, e.reason) for e in cat.rejected]


BAD_VALUES = [
    ("MEAN_MOTION", "abc", "omm_value", "MEAN_MOTION is not a decimal number: 'abc'"),
    ("MEAN_MOTION", "-15.5", "mnm_not_positive", "MEAN_MOTION -15.5 is not greater than 0"),
    ("MEAN_MOTION", "0", "mnm_not_positive", "MEAN_MOTION 0 is not greater than 0"),
    ("ECCENTRICITY", "1.0", "ecc_range", "ECCENTRICITY 1.0 is not in [0, 1)"),
    ("ECCENTRICITY", "-0.1", "ecc_range", "ECCENTRICITY -0.1 is not in [0, 1)"),
    ("INCLINATION", "nan", "omm_value", "INCLINATION is not a decimal number: 'nan'"),
    ("BSTAR", "1e999", "omm_value", "BSTAR is not a decimal number: '1e999'"),
    (
        "NORAD_CAT_ID",
        "1234567890",
        "satno",
        "NORAD_CAT_ID is not a catalogue number of 1 to 9 digits: '1234567890'",
    ),
    (
        "NORAD_CAT_ID",
        "-5",
        "satno",
        "NORAD_CAT_ID is not a catalogue number of 1 to 9 digits: '-5'",
    ),
    (
        "EPOCH",
        "2024-13-01T00:00:00",
        "epoch_range",
        "EPOCH is not a valid date and time: '2024-13-01T00:00:00'",
    ),
    (
        "EPOCH",
        "2023-02-29T00:00:00",
        "epoch_range",
        "EPOCH is not a valid date and time: '2023-02-29T00:00:00'",
    ),
    (
        "EPOCH",
        "2024-01-01T24:00:00",
        "epoch_range",
        "EPOCH is not a valid date and time: '2024-01-01T24:00:00'",
    ),
    ("EPOCH", "2024-01-01", "epoch", "EPOCH is not YYYY-MM-DDTHH:MM:SS[.F]: '2024-01-01'"),
    (
        "EPOCH",
        "2024-01-01T00:00:00.0000000001",
        "epoch",
        "EPOCH is finer than a nanosecond: '2024-01-01T00:00:00.0000000001'",
    ),
    (
        "EPOCH",
        "3000-01-01T00:00:00",
        "epoch_range",
        "EPOCH is not a valid date and time: '3000-01-01T00:00:00'",
    ),
    ("ELEMENT_SET_NO", "9.5", "omm_value", "ELEMENT_SET_NO is not an integer: '9.5'"),
    (
        "CLASSIFICATION_TYPE",
        "u",
        "classification",
        "CLASSIFICATION_TYPE is not a capital letter: 'u'",
    ),
    (
        "OBJECT_ID",
        "1998-067-A",
        "intldes",
        "OBJECT_ID is not YYYY-NNNP or up to 8 ASCII characters: '1998-067-A'",
    ),
]


@pytest.mark.parametrize("form", FORMS)
def test_every_bad_value_is_refused_where_it_is(form):
    records = [ISS] + [dict(ISS, **{key: value}) for key, value, _, _ in BAD_VALUES] + [HUBBLE]
    # JSON as strings here: most of the bad values are no JSON numbers.
    text = json_text(records, numbers=False) if form == "omm-json" else FORMS[form](records)
    cat, got = refusals(text, form)
    assert len(cat) + len(cat.rejected) == len(records) and len(cat) == 2
    lines = text.splitlines()
    for (key, value, code, reason), (line, column, got_code, got_reason) in zip(
        BAD_VALUES, got, strict=True
    ):
        assert (got_code, got_reason) == (code, reason)
        # The line and column of the value's text (of its opening quote in JSON).
        shown = json.dumps(value) if form == "omm-json" else value
        assert lines[line - 1][column - 1 :].startswith(shown), (key, lines[line - 1])
    with pytest.raises(catalog.TLEFormatError) as raised:
        catalog.parse(text, format=form)
    assert (raised.value.code, raised.value.reason) == BAD_VALUES[0][2:]
    assert str(raised.value).startswith(f"<text>:{got[0][0]}:{got[0][1]}: MEAN_MOTION")


@pytest.mark.parametrize("form", FORMS)
def test_missing_and_repeated_keywords(form):
    records = [{k: v for k, v in ISS.items() if k != key} for key in KEYS]
    text = FORMS[form](records)
    cat, got = refusals(text, form)
    optional = {"OBJECT_NAME", "OBJECT_ID", "CLASSIFICATION_TYPE", "EPHEMERIS_TYPE"}
    assert len(cat) == len(optional)
    assert [(code, reason) for _, _, code, reason in got] == [
        ("omm_missing", f"no {k}") for k in KEYS if k not in optional
    ]
    if form == "omm-kvn":
        twice = kvn_text([ISS]).replace("BSTAR =", "EPOCH = 2024-01-01T00:00:00\nBSTAR =")
        _, got = refusals(twice, form)
        assert got == [(19, 9, "omm_duplicate", "EPOCH is given twice")]


def test_csv_lines_with_and_without_quotes_read_alike():
    # Lines without a quote are cut at their commas in words of eight bytes; quoted ones field
    # by field. Names of 0-17 characters put the commas at every place in a word; a blank
    # before a comma, a carriage return inside a field and an empty last field are kept as
    # they are; a bad value and a short row are refused at the same place either way.
    records = [dict(ISS, OBJECT_NAME="N" * k, NORAD_CAT_ID=str(100 + k)) for k in range(18)]
    records += [
        dict(ISS, OBJECT_NAME="A\rB", NORAD_CAT_ID="7"),
        dict(ISS, MEAN_MOTION_DDOT="0 "),
        dict(ISS, OBJECT_NAME="", MEAN_ANOMALY="1x"),
        dict(ISS, MEAN_MOTION_DDOT=""),
    ]
    keys = (*KEYS[1:], "OBJECT_NAME")  # the name last: an empty last field
    plain = csv_text(records, keys).split("\r\n")
    plain[5] = plain[5].rsplit(",", 1)[0]
    quoted = [",".join(f'"{f}"' if f else "" for f in line.split(",")) for line in plain]
    a, b = (catalog.parse("\r\n".join(t), format="omm-csv", errors="skip") for t in (plain, quoted))
    assert len(a) == len(records) - 3
    assert_same_columns(a, b)
    assert [n for n in a.name if n and "\r" in n] == ["A\rB"]
    for text, cat in ((plain, a), (quoted, b)):
        got = [(e.line, e.code, e.reason) for e in cat.rejected]
        assert got == [
            (6, "omm_syntax", "record has 16 fields, the header 17"),
            (22, "omm_value", "MEAN_ANOMALY is not a decimal number: '1x'"),
            (23, "omm_missing", "no MEAN_MOTION_DDOT"),
        ]
        e = cat.rejected[1]
        assert text[e.line - 1][e.column - 1 :].lstrip('"').startswith("1x")


def test_broken_text_is_refused_record_by_record():
    # CSV: a short row, an unclosed quote at the end.
    text = csv_text([ISS, ISS]).replace("\r\n", "\n").splitlines()
    text[2] = text[2].rsplit(",", 1)[0]
    cat, got = refusals("\n".join(text + ['"OPEN,' + text[1]]) + "\n", "omm-csv")
    assert len(cat) == 1
    assert got == [
        (3, 1, "omm_syntax", "record has 16 fields, the header 17"),
        (4, 1, "omm_syntax", "a quoted field is not closed"),
    ]
    # JSON: a member without its colon, a missing comma between objects, an array element
    # that is no object, and a truncated object.
    good = json.dumps(ISS)
    bad = good.replace('"EPOCH": ', '"EPOCH" ')
    cat, got = refusals(f"[\n{good},\n{bad},\n{good}\n{good},\n7,\n{good[:40]}", "omm-json")
    assert len(cat) == 2 and len(cat.rejected) == 4
    assert [(line, code) for line, _, code, _ in got] == [(3, "omm_syntax")] * 1 + [
        (5, "omm_syntax"),
        (6, "omm_syntax"),
        (7, "omm_syntax"),
    ]
    assert [r for *_, r in got] == [
        "expected ':' after a member name",
        "expected ',' between the objects",
        "expected an object",
        "a string is not closed",
    ]
    # XML: an unknown entity in a value; an <omm> never closed.
    text = xml_text([dict(ISS, OBJECT_NAME="A &bad; B"), ISS, ISS])
    text = text[: text.rindex("</omm>")]
    cat, got = refusals(text, "omm-xml")
    assert len(cat) == 1 and [r for *_, r in got] == [
        "an unknown entity reference",
        "the <omm> element is not closed",
    ]
    # KVN: a line that is not KEY = value.
    cat, got = refusals(
        kvn_text([ISS]).replace("ORIGINATOR = 18 SPCS", "ORIGINATOR 18 SPCS"), "omm-kvn"
    )
    assert got == [(4, 1, "omm_syntax", "line is not KEY = value")]
    # Not a document of the form at all.
    for form, text in (("omm-json", "hello"), ("omm-csv", "A,B\n1,2\n")):
        cat, got = refusals(text, form)
        assert len(cat) == 0 and len(got) == 1 and got[0][2] == "omm_syntax"


def test_detection(tmp_path):
    for form, make in FORMS.items():
        text = make([ISS])
        assert catalog.parse("\ufeff" + text).satno[0] == 25544, form
        path = tmp_path / ("iss." + form)
        path.write_text(text)
        assert len(catalog.read(path)) == 1
    # Lower-case headers of CSV are keywords too.
    assert (
        catalog.parse(
            csv_text([ISS]).replace("NORAD_CAT_ID", "norad_cat_id"), format="omm-csv"
        ).satno[0]
        == 25544
    )


# ---- python-sgp4 ------------------------------------------------------------------------------


def test_agrees_with_python_sgp4s_omm_parser(generator, tmp_path):
    omm = pytest.importorskip("sgp4.omm")
    api = pytest.importorskip("sgp4.api")
    text, _ = generator.make_catalog(3000, seed=9, form="3le", alpha5_share=0.1, deep_share=0.3)
    base = catalog.parse(text)
    for form, parse in (("omm-csv", omm.parse_csv), ("omm-xml", omm.parse_xml)):
        path = tmp_path / f"sets.{form}"
        base.write(path, form)
        cat = catalog.read(path)
        with open(path) as f:
            theirs = list(parse(f))
        assert len(theirs) == len(cat)
        for i in range(0, len(cat), 5):
            # Their XML reading gives None for an empty element (a blank designator).
            fields = {k: v or "" for k, v in theirs[i].items()}
            # Their fields are the published texts: ours are those numbers converted.
            assert int(fields["NORAD_CAT_ID"]) == cat.satno[i]
            assert float(fields["INCLINATION"]) * (math.pi / 180) == cat.inc[i]
            assert (float(fields["MEAN_MOTION"]) * (2 * math.pi)) / 86400 == cat.mnm[i]
            assert float(fields["ECCENTRICITY"]) == cat.ecc[i]
            assert float(fields["BSTAR"]) == cat.bstar[i]
            sat = api.Satrec()
            omm.initialize(sat, fields)
            assert sat.satnum == cat.satno[i]
            jd_ns = ((sat.jdsatepoch - 2440587.5) + sat.jdsatepochF) * 86400e9
            assert abs(jd_ns - cat.epoch_ns[i]) < 50_000
            for theirs_value, ours in (
                (sat.inclo, cat.inc[i]),
                (sat.nodeo, cat.raa[i]),
                (sat.argpo, cat.arp[i]),
                (sat.mo, cat.mea[i]),
                (sat.ecco, cat.ecc[i]),
                (sat.no_kozai, cat.mnm[i] * 60),
            ):
                assert math.isclose(theirs_value, ours, rel_tol=1e-12, abs_tol=1e-300)
            assert (sat.revnum, sat.elnum, sat.classification) == (
                cat.revolution[i],
                cat.element_number[i],
                cat.classification[i],
            )


def test_the_native_readers_sit_in_the_readers_table(monkeypatch):
    helper = pytest.importorskip("orbivex.propagators.analytical.sgp4._catalog_py")
    text = csv_text([ISS])
    cat = helper.READERS["omm-csv"](text, source="x.csv", errors="raise", checksums=True, threads=1)
    assert cat.satno[0] == 25544
    with pytest.raises(catalog.TLEFormatError, match=r"^x.csv:2:"):
        helper.READERS["omm-csv"](
            text.replace("25544", "x"), source="x.csv", errors="raise", checksums=True, threads=1
        )
    # A reader put in the table instead is the one read() calls.
    monkeypatch.setitem(helper.READERS, "omm-csv", lambda data, **kw: cat)
    assert catalog.parse(text) is cat
    with pytest.raises(TypeError, match="takes 5 arguments"):
        catalog._read_omm(text, "omm-csv")
    with pytest.raises(ValueError, match="is not an OMM format"):
        catalog._read_omm(text, "tle", "s", "raise", 1)
    with pytest.raises(TypeError, match="source must be a str"):
        catalog._read_omm(text, "omm-csv", None, "raise", 1)
    with pytest.raises(ValueError, match="errors must be 'raise' or 'skip'"):
        catalog._read_omm(text, "omm-csv", "s", "ignore", 1)
    with pytest.raises(TypeError, match="needs str or bytes"):
        catalog._read_omm(3, "omm-csv", "s", "raise", 1)


@pytest.mark.parametrize("form", ["omm-csv", "omm-xml"])
def test_ctrl_c_ends_a_read(generator, form):
    import functools

    text, _ = generator.make_catalog(20000, seed=93, form="2le")
    out = io.BytesIO()
    catalog.parse(text).write(out, form)
    data = out.getvalue()
    assert_pending_interrupt_ends(functools.partial(catalog.parse, data, threads=1))
    # One that arrives during a long read ends it early: CSV between its pieces, XML (read on
    # a worker thread) while this thread waits for it.
    big = data + data[data.index(b"\n") + 1 :] * 9 if form == "omm-csv" else data * 10
    assert_interrupt_ends_early(
        functools.partial(catalog.parse, big, format=form, threads=1, errors="skip")
    )


def test_two_line_text_beside_the_values():
    # As one publisher gives it: kept as the lines when it is a set of the same values.
    # An epoch the two-line form holds exactly (a multiple of 864 us).
    lines = catalog.parse(json.dumps([ISS]))
    exact = catalog.parse(f"{lines.line1[0]}\n{lines.line2[0]}\n").epoch_ns[0]
    record = dict(ISS, EPOCH=str(np.datetime64(int(exact), "ns")))
    base = catalog.parse(json.dumps([record]))
    l1 = str(base.line1[0]).replace(" 00000-0 ", " 00000+0 ")
    l2 = str(base.line2[0])
    with_lines = catalog.parse(
        json.dumps([dict(record, TLE_LINE0="0 ISS", TLE_LINE1=l1, TLE_LINE2=l2)])
    )
    assert (with_lines.line1[0], with_lines.line2[0]) == (l1, l2)
    assert_same_columns(with_lines, base, skip=("line1",))
    # Lines of other values, or no set at all, give way to the values' own form.
    for other in (l1.replace("25544U", "25545U"), l1[:60], "1 garbage"):
        got = catalog.parse(json.dumps([dict(record, TLE_LINE1=other, TLE_LINE2=l2)]))
        assert_same_columns(got, base)
    # Another epoch by a microsecond: the values differ, the lines are theirs.
    moved = dict(record, EPOCH=str(np.datetime64(int(exact) + 1000, "ns")))
    got = catalog.parse(json.dumps([dict(moved, TLE_LINE1=l1, TLE_LINE2=l2)]))
    assert_same_columns(got, catalog.parse(json.dumps([moved])))
    assert got.line1[0] != l1


def _json_member(member):
    """The ISS as one JSON object on one line, with `member` in front of its members."""
    return "[{" + member + json.dumps(ISS)[1:] + "]"


SYNTAX_FAULTS = [
    # form, text, (line, column, reason) of the one refusal
    (
        "omm-csv",
        csv_text([ISS]).replace("ISS (ZARYA)", '"ISS" (ZARYA)'),
        (2, 6, "text after the closing quote of a field"),
    ),
    ("omm-csv", '"OBJECT_NAME\n', (1, 1, "header: a quoted field is not closed")),
    ("omm-json", _json_member('"A": "\\x", '), (1, 9, "unknown escape in a string")),
    (
        "omm-json",
        _json_member('"A": "\\u12G4", '),
        (1, 9, "a \\u escape is not four hexadecimal digits"),
    ),
    ("omm-json", _json_member("A: 1, "), (1, 3, "expected a member name in quotes")),
    ("omm-json", _json_member('"EPOCH": [1, 2], '), (1, 12, "EPOCH is not a single value")),
    ("omm-json", _json_member('"A": , '), (1, 8, "expected a value")),
    (
        "omm-json",
        "[" + json.dumps(ISS)[:-1] + ' "X" 1}]',
        (1, None, "expected ',' or '}' after a member"),
    ),
    ("omm-xml", "<omm><!-- open", (1, None, "a comment is not closed")),
    ("omm-xml", "<omm><EPOCH><![CDATA[x</EPOCH></omm>", (1, None, "a CDATA section is not closed")),
    ("omm-xml", "<omm><!DOCTYPE x", (1, None, "a declaration is not closed")),
    ("omm-xml", "<omm><EPOCH", (1, None, "a tag is not closed")),
    (
        "omm-xml",
        "<omm><EPOCH>1<BSTAR>2</BSTAR></EPOCH></omm>",
        (1, 14, "an element inside a keyword's element"),
    ),
    (
        "omm-xml",
        "<omm><EPOCH>&#xD800;</EPOCH></omm>",
        (1, 13, "a character reference that is no character"),
    ),
    ("omm-xml", "<omm><EPOCH>a & b</EPOCH></omm>", (1, 13, "'&' that starts no reference")),
]


@pytest.mark.parametrize(("form", "text", "where"), SYNTAX_FAULTS)
def test_broken_text_reasons(form, text, where):
    cat, got = refusals(text, form)
    assert len(cat) == 0 and len(got) == 1, got
    line, column, reason = where
    assert got[0][3] == reason
    assert got[0][0] == line and (column is None or got[0][1] == column), got
    assert got[0][2] == "omm_syntax"


def test_an_omm_inside_another_ends_the_outer_record():
    _, got = refusals("<omm><EPOCH>2024<omm></omm>", "omm-xml")
    assert got == [
        (1, 17, "omm_syntax", "an <omm> element inside another"),
        (1, 17, "omm_missing", "no EPOCH"),
    ]


_PIECES = [
    b"{",
    b"}",
    b"[",
    b"]",
    b",",
    b":",
    b'"',
    b"\\",
    b"\\u00",
    b"<",
    b">",
    b"/",
    b"<omm>",
    b"</omm>",
    b"<!--",
    b"-->",
    b"<![CDATA[",
    b"]]>",
    b"&amp;",
    b"&",
    b"=",
    b"\n",
    b"\r\n",
    b"CCSDS_OMM_VERS = 2.0\n",
    b"EPOCH",
    b"NORAD_CAT_ID",
    b"25544",
    b"1e5",
    b"-",
    b".",
    b"2024-01-01T00:00:00",
    b"\xff",
    b"COMMENT",
    b"\x00",
]


@settings(max_examples=300, deadline=None)
@given(
    st.sampled_from(list(FORMS)),
    st.lists(st.sampled_from(_PIECES) | st.binary(max_size=4), max_size=40),
    st.integers(0, 200),
)
def test_any_text_is_read_or_refused(form, pieces, cut):
    # Broken and cut documents: records or refusals, never a crash or another error.
    good = FORMS[form]([ISS, HUBBLE]).encode()
    for text in (
        b"".join(pieces),
        good[:cut] + b"".join(pieces),
        good.replace(b"5", b"".join(pieces)),
    ):
        cat = catalog.parse(text, format=form, errors="skip")
        assert all(isinstance(e, catalog.TLEFormatError) for e in cat.rejected)
        assert all(e.line >= 1 and e.column >= 1 for e in cat.rejected)


def test_a_reason_quotes_text_that_is_not_utf8():
    text = csv_text([dict(ISS, MEAN_MOTION="15.4\udc80")]).encode("utf-8", "surrogateescape")
    with pytest.raises(catalog.TLEFormatError) as raised:
        catalog.parse(text, format="omm-csv")
    assert raised.value.reason == "MEAN_MOTION is not a decimal number: '15.4\\x80'"
