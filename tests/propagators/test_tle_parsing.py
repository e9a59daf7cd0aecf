"""TLE construction up to the parsed fields: arguments, normalisation, columns and conversions."""

import ctypes
import ctypes.util
import math
import shutil
import subprocess

import pytest
from hypothesis import given, settings
from hypothesis import strategies as st

from orbivex.propagators.analytical.sgp4.tle import TLE
from orbivex.time.time import Time
from orbivex.units import units
from tests.helpers import bits, run_python

from .tle_lines import L1, L2, line1, line2

# The C library's own atoi/atof (Python runs with LC_NUMERIC "C"): the reference for the fields.
libc = ctypes.CDLL(ctypes.util.find_library("c"))
libc.atof.restype = ctypes.c_double
libc.atof.argtypes = [ctypes.c_char_p]
libc.atoi.restype = ctypes.c_int
libc.atoi.argtypes = [ctypes.c_char_p]


def c_atof(text: str) -> float:
    return libc.atof(text.encode("ascii"))


def expected_epoch(year_field: str, day_field: str) -> Time:
    yy = libc.atoi(year_field.encode("ascii"))
    year = 2000 + yy if yy < 57 else 1900 + yy
    return Time((Time(str(year)).jd - 1.0) + c_atof(day_field), format="jd")


class Truthless:
    def __bool__(self):
        raise ZeroDivisionError("no truth here")


class StrSub(str):
    pass


@pytest.mark.parametrize(
    "args, kwargs, message",
    [
        ((), {}, "__cinit__() takes at least 2 positional arguments (0 given)"),
        ((L1,), {}, "__cinit__() takes at least 2 positional arguments (1 given)"),
        ((L1, L2, True, 4), {}, "__cinit__() takes at most 3 positional arguments (4 given)"),
        ((L1, L2), {"strict": 1}, "__cinit__() got an unexpected keyword argument 'strict'"),
        ((L1, L2), {1: True}, "__cinit__() keywords must be strings"),
        (
            (L1,),
            {"line1": L1, "line2": L2},
            "__cinit__() got multiple values for keyword argument 'line1'",
        ),
        ((L1.encode(), L2), {}, "Argument 'line1' has incorrect type (expected str, got bytes)"),
        ((L1, None), {}, "Argument 'line2' has incorrect type (expected str, got NoneType)"),
        ((None, 5), {}, "Argument 'line1' has incorrect type (expected str, got NoneType)"),
        ((StrSub(L1), L2), {}, "Argument 'line1' has incorrect type (expected str, got StrSub)"),
        ((L1, StrSub(L2)), {}, "Argument 'line2' has incorrect type (expected str, got StrSub)"),
    ],
)
def test_argument_errors(args, kwargs, message):
    with pytest.raises(TypeError) as info:
        TLE(*args, **kwargs)
    assert str(info.value) == message


def test_keywords_and_strict_validation():
    by_keyword = TLE(line2=L2, line1=L1, strict_validation=True)
    assert (by_keyword.line1, by_keyword.line2) == (L1, L2)
    # No validation depends on the flag: wrong line numbers and checksums are accepted.
    odd = TLE("9" + L1[1:-1] + "0", "7" + L2[1:], True)
    assert odd.satno == 25544
    # Its truth value is evaluated before the lines' types are checked.
    with pytest.raises(ZeroDivisionError, match="no truth here"):
        TLE(5, L2, Truthless())


@pytest.mark.parametrize(
    "given, stored",
    [
        (L1 + "   \r\n", L1),
        ("\t " + L1 + "\n", L1),
        (L1.lower(), L1),
        (" " + L1[:-1] + "XYZ", L1[:-1] + "X"),  # not stripped at the end: cut to 69
        (L1 + "0123456789" + "ABC", L1),
        ("\u2003" + L1 + "\x1c\u3000", L1),  # str.strip's notion of white space
        ("ab\u00df", "ABSS"),  # str.upper maps the sharp s to ASCII
        ("", ""),
        ("x", "X"),
        ("12\x0034", "12"),  # the stored line ends at a NUL
    ],
)
def test_lines_are_normalised_and_stored(given, stored):
    t = TLE(given, given)
    assert t.line1 == stored and t.line2 == stored


def test_leading_blank_shifts_columns():
    # Stored without the blank, so every column moves left by one.
    shifted = TLE(" " + L1, " " + L2)
    assert shifted.line1 == L1 and shifted.satno == 25544
    kept = TLE("x" + L1, "x" + L2[:16] + "7" + L2[16:])
    assert kept.satno == 2554  # columns 3-7 now read " 2554"
    assert kept.line2[8:16] == "  51.640"
    assert kept.line2[17:25] == "7 208.91" and kept.raa == 7.0 * units.deg


@pytest.mark.parametrize("line", ["1 25544U \u00e9", "\u2603", "x\udcff"])
def test_non_ascii_is_an_encoding_error(line):
    with pytest.raises(UnicodeEncodeError):
        TLE(line, L2)
    with pytest.raises(UnicodeEncodeError):
        TLE(L1, line)


@pytest.mark.parametrize(
    "field, value",
    [
        ("00005", 5),
        ("25544", 25544),
        ("99999", 99999),
        ("A1234", "A1234"),
        ("a1234", "A1234"),
        ("     ", ""),
        ("  42 ", 42),
        ("1_234", 1234),
        ("+0012", 12),
        (" -12 ", -12),
        ("12 34", "12 34"),
        ("1__23", "1__23"),
        ("0x1F ", "0X1F"),
    ],
)
def test_satno(field, value):
    satno = TLE(line1(satno=field), L2).satno
    assert satno == value and type(satno) is type(value)


@pytest.mark.parametrize(
    "text, satno",
    [("1 2", 2), ("1 ", ""), ("", ""), ("1 12345678", 12345)],
)
def test_satno_of_short_and_long_lines(text, satno):
    assert TLE(text, "").satno == satno


@pytest.mark.parametrize(
    "year, day",
    [
        ("24", "100.50000000"),
        ("56", "001.00000000"),
        ("57", "001.00000000"),
        ("00", "001.50000000"),
        ("99", "365.99999999"),
        (" 5", " 32.25"),
        ("5x", "1.5e1"),
        ("  ", "       1.75"),
        ("-3", "0x1.8p5"),  # hexadecimal day: 48
        ("24", "-10.5"),
        ("24", "junk"),
        ("24", "   +7.125abc"),
    ],
)
def test_epoch_fields(year, day):
    t = TLE(line1(year=year, day=day), L2)
    assert t.epoch.int64 == expected_epoch(year, day).int64


@pytest.mark.parametrize(
    "year, day, text",
    [
        ("56", "001.00000000", "2056-01-01T00:00:00"),
        ("57", "001.50000000", "1957-01-01T12:00:00"),
        ("00", "060.75000000", "2000-02-29T18:00:00"),
    ],
)
def test_epoch_calendar(year, day, text):
    assert repr(TLE(line1(year=year, day=day), L2).epoch.utc).startswith(text)


def test_epoch_of_a_short_line_is_the_eve_of_2000():
    # Year field empty -> 0 -> 2000; day field empty -> 0.0 -> 31 December 1999 00:00.
    assert TLE("1", L2).epoch.int64 == Time((Time("2000").jd - 1.0), format="jd").int64


def test_time_errors_propagate():
    try:
        Time(math.inf, format="jd")
    except Exception as exc:  # whatever Time raises, the constructor must raise it too
        expected = exc
    else:
        pytest.skip("this Time accepts an infinite Julian date")
    with pytest.raises(type(expected)) as info:
        TLE(line1(day="INF"), L2)
    assert str(info.value) == str(expected)


ELEMENTS = ["inc", "raa", "arp", "mea"]


@pytest.mark.parametrize(
    "fields",
    [
        {},
        {"inc": "  0.0000", "raa": "359.9999", "arp": "000.0001", "mea": "180.0000"},
        {"inc": "98.7    ", "raa": "   -12.5", "arp": "1e2     ", "mea": "0x10    "},
        {"inc": "        ", "raa": "abc     ", "arp": ".5      ", "mea": "  +.25e1"},
        {"inc": "NAN     ", "raa": "INF     ", "arp": "-INFINIT", "mea": "1,5     "},
    ],
)
def test_angles(fields):
    t = TLE(L1, line2(**fields))
    text = line2(**fields)
    columns = {"inc": (8, 16), "raa": (17, 25), "arp": (34, 42), "mea": (43, 51)}
    for name in ELEMENTS:
        start, stop = columns[name]
        expected = c_atof(text[start:stop]) * units.deg
        got = getattr(t, name)
        assert bits(got) == bits(expected), name


@pytest.mark.parametrize(
    "field, ecc",
    [
        ("0006703", 0.0006703),
        ("0000000", 0.0),
        ("1234567", 0.1234567),
        ("9999999", 0.9999999),
        (" 006703", 0.0),  # ". 006703" has no valid prefix
        ("-000001", 0.0),
        ("12E+1  ", 1.2),
        ("5      ", 0.5),
    ],
)
def test_eccentricity_has_an_implied_point(field, ecc):
    assert TLE(L1, line2(ecc=field)).ecc == ecc


@pytest.mark.parametrize("field", ["15.50000000", " 1.00270000", "00000000000", "  2.0e+00  "])
def test_mean_motion_in_radians_per_second(field):
    mnm = TLE(L1, line2(mnm=field)).mnm
    assert mnm == (c_atof(field) * units.rev) / units.day


def test_short_line2_yields_the_part_that_exists():
    t = TLE(L1, L2[:30])  # ecc field cut after "0006"
    assert t.inc == c_atof(L2[8:16]) * units.deg
    assert t.ecc == 0.0006
    assert (t.arp, t.mea, t.mnm) == (0.0, 0.0, 0.0)


DECIMAL_COMMA = [
    "de_DE.UTF-8",
    "de_DE.utf8",
    "fr_FR.UTF-8",
    "fr_FR.utf8",
    "nl_NL.UTF-8",
    "ru_RU.UTF-8",
]

# Run in a fresh interpreter so the process locale of the test session is never touched.
LOCALE_CHECK = """
import locale, sys
from orbivex.propagators.analytical.sgp4.tle import TLE
l1, l2, names = sys.argv[1], sys.argv[2], sys.argv[3:]
fields = ["inc", "raa", "ecc", "arp", "mea", "mnm", "sma"]
reference = TLE(l1, l2)
for name in names:
    try:
        locale.setlocale(locale.LC_ALL, name)
        break
    except locale.Error:
        continue
else:
    sys.exit(3)
assert locale.localeconv()["decimal_point"] == ","
t = TLE(l1, l2)
for f in fields:
    assert getattr(t, f) == getattr(reference, f), f
assert t.epoch.int64 == reference.epoch.int64
"""


def test_a_decimal_comma_locale_changes_nothing(tmp_path):
    args = [L1, L2, *DECIMAL_COMMA]
    done = run_python(LOCALE_CHECK, args=args)
    if done.returncode == 3 and shutil.which("localedef"):
        # No such locale installed: compile one from the system's locale sources.
        subprocess.run(
            ["localedef", "-i", "de_DE", "-f", "UTF-8", str(tmp_path / "de_DE.UTF-8")],
            capture_output=True,
        )
        done = run_python(LOCALE_CHECK, args=args, env={"LOCPATH": str(tmp_path)})
    if done.returncode == 3:
        pytest.skip("no decimal-comma locale available")
    assert done.returncode == 0, done.stderr


FIELD_CHARS = "0123456789" * 3 + "  ..+-eExXpP\tAIN_"


@settings(max_examples=400, deadline=None)
@given(
    inc=st.text(FIELD_CHARS, min_size=8, max_size=8),
    ecc=st.text(FIELD_CHARS, min_size=7, max_size=7),
    mnm=st.text(FIELD_CHARS, min_size=11, max_size=11),
)
def test_fields_convert_as_the_c_library_does(inc, ecc, mnm):
    text = line2(inc=inc, ecc=ecc, mnm=mnm).upper().strip()
    t = TLE(L1, text)
    got = [t.inc, t.ecc, t.mnm]
    want = [
        c_atof(text[8:16]) * units.deg,
        c_atof("." + text[26:33]),
        (c_atof(text[52:63]) * units.rev) / units.day,
    ]
    assert bits(got) == bits(want), (text, got, want)


@settings(max_examples=300, deadline=None)
@given(st.text("0123456789" * 2 + " +-_A\t", min_size=5, max_size=5))
def test_satno_follows_int(field):
    stripped = field.strip()
    try:
        expected = int(stripped)
    except ValueError:
        expected = stripped
    satno = TLE(line1(satno=field), L2).satno
    assert satno == expected and type(satno) is type(expected)
