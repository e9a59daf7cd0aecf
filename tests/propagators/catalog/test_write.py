"""Writing sets back into fixed columns, and the normalised line text TLE stores."""

import math
from decimal import ROUND_FLOOR, ROUND_HALF_UP, Decimal

import numpy as np
import pytest
from hypothesis import given, settings

from .kernel import L1, L2, put
from .sets import DAY, DEG, REV, valid_sets


@settings(max_examples=400)
@given(valid_sets())
def test_any_valid_set_reads_back_to_the_same_values(kernel, lines):
    _, fields = kernel.parse(*(s.encode() for s in lines))
    reason, l1, l2 = kernel.format(fields)
    assert reason == "none"
    fault, again = kernel.parse(l1, l2)
    assert fault[0] == "none", (l1, l2)
    assert bytes(again) == bytes(fields)
    # The written form is a fixed point.
    assert kernel.format(again)[1:] == (l1, l2)


def test_published_form_writes_back_the_same_lines(kernel, generator):
    text, _ = generator.make_catalog(4000, seed=21, form="2le", alpha5_share=0.3, deep_share=0.5)
    lines = text.splitlines()
    for l1, l2 in zip(lines[::2], lines[1::2], strict=False):
        _, fields = kernel.parse(l1, l2)
        assert kernel.format(fields) == ("none", l1, l2)


def _fields(kernel, **changes):
    _, fields = kernel.parse(L1.encode(), L2.encode())
    for name, value in changes.items():
        setattr(fields, name, value)
    return fields


@pytest.mark.parametrize(
    ("value", "text"),
    [
        (1.027e-4, " 10270-3"),
        (-1.1606e-5, "-11606-4"),
        (0.5, " 50000+0"),
        (0.999996, " 10000+1"),
        (12345.0, " 12345+5"),
        (6e-15, " 00001-9"),
        (4e-16, " 00000-0"),
        (0.0, " 00000-0"),
        (-0.0, "-00000-0"),
        (1e-5, " 10000-4"),
        (9.99995e-5, " 10000-3"),
    ],
)
def test_exponent_form_written(kernel, value, text):
    _, l1, _ = kernel.format(_fields(kernel, bstar=value))
    assert l1[53:61].decode() == text


def _exponent_text(a):
    """The exponent form of 1e-8 <= a < 1e9 from exact decimal arithmetic: five significant
    digits, halves away from zero; None for a value that has none or sits on a tie (where the
    binary product the writer rounds may fall either side)."""
    d = Decimal(a)
    e = d.adjusted() + 1  # 0.MMMMM x 10^e
    scaled = d.scaleb(5 - e)
    if abs(scaled - scaled.to_integral_value(ROUND_FLOOR) - Decimal("0.5")) < scaled * Decimal(
        2**-50
    ):
        return None
    m = int(scaled.to_integral_value(ROUND_HALF_UP))
    if m == 100_000:
        m, e = 10_000, e + 1
    if e > 9:
        return "unwritable"
    return f" {m:05d}{'+' if e >= 0 else '-'}{abs(e)}"


def test_exponent_form_beside_powers_of_ten_and_carries(both_kernels):
    # The digits' exponent is estimated from the binary one: values a few ulps either side of
    # each power of ten, and either side of the carry into a sixth digit (0.999995 x 10^k).
    values = []
    for k in range(-7, 10):
        for base in (10.0**k, 0.99995 * 10.0**k, 0.999995 * 10.0**k):
            x = base
            for _ in range(40):
                values.append(x)
                x = math.nextafter(x, 0.0)
            x = base
            for _ in range(40):
                x = math.nextafter(x, math.inf)
                values.append(x)
    checked = 0
    for a in values:
        expected = _exponent_text(a)
        if expected is None:
            continue
        reason, l1, _ = both_kernels.format(_fields(both_kernels, bstar=a))
        if expected == "unwritable":
            assert reason == "bstar", a
        else:
            assert (reason, l1[53:61].decode()) == ("none", expected), a
        checked += 1
    assert checked > 0.8 * len(values)


@pytest.mark.parametrize(
    ("offset_ns", "fraction"),
    [
        (0, "50000000"),
        (431_999, "50000000"),
        (432_000, "50000001"),
        (-432_000, "50000000"),
        (-432_001, "49999999"),
    ],
)
def test_epoch_rounds_to_nearest_864_us(kernel, offset_ns, fraction):
    start = np.datetime64("2024-04-09T12:00", "ns").astype(np.int64)
    _, l1, _ = kernel.format(_fields(kernel, epoch_ns=int(start) + offset_ns))
    assert l1[18:32].decode() == "24100." + fraction


def test_epoch_rolls_into_the_next_year(kernel):
    end = np.datetime64("2024-01-01", "ns").astype(np.int64) - 1
    _, l1, _ = kernel.format(_fields(kernel, epoch_ns=int(end)))
    assert l1[18:32].decode() == "24001.00000000"


@pytest.mark.parametrize(
    ("changes", "reason"),
    [
        ({"satno": 340000}, "satno"),
        ({"satno": -1}, "satno"),
        ({"classification": b"u"}, "classification"),
        ({"intldes": b"9806"}, "intldes"),
        ({"intldes": b"98067a"}, "intldes"),
        ({"epoch_ns": int(np.datetime64("1956-12-31T23:59", "ns").astype(np.int64))}, "epoch_year"),
        ({"epoch_ns": int(np.datetime64("2057-01-01", "ns").astype(np.int64))}, "epoch_year"),
        ({"ndot": 1.0}, "ndot"),
        ({"ndot": math.nan}, "ndot"),
        ({"nddot": 1e10}, "nddot"),
        ({"bstar": math.inf}, "bstar"),
        ({"bstar": 1e300}, "bstar"),
        ({"ephemeris_type": 10}, "ephemeris_type"),
        ({"element_number": 10000}, "element_number"),
        ({"inc": -0.01 * DEG}, "inc"),
        ({"inc": 1000.0 * DEG}, "inc"),
        ({"raa": math.nan}, "raa"),
        ({"ecc": 1.0}, "ecc"),
        ({"ecc": -1e-3}, "ecc"),
        ({"arp": math.inf}, "arp"),
        ({"mea": -1.0}, "mea"),
        ({"mnm": 0.0}, "mnm"),
        ({"mnm": 4e-9 * REV / DAY}, "mnm"),
        ({"mnm": 100.0 * REV / DAY}, "mnm"),
        ({"revolution": 100000}, "revolution"),
    ],
)
def test_values_that_cannot_be_written(kernel, changes, reason):
    assert kernel.format(_fields(kernel, **changes))[0] == reason


def test_alpha5_and_small_values_written(kernel):
    fields = _fields(
        kernel, satno=339999, inc=1e-16, element_number=0, revolution=7, ecc=5e-8, ndot=-4e-9
    )
    reason, l1, l2 = kernel.format(fields)
    assert reason == "none"
    assert (l1[2:7], l2[2:7], l2[8:16], l1[64:68], l2[63:68], l2[26:33], l1[33:43]) == (
        b"Z9999",
        b"Z9999",
        b"  0.0000",
        b"   0",
        b"    7",
        b"0000001",
        b"-.00000000",
    )


# ---- normalised text --------------------------------------------------------------------------


@pytest.mark.parametrize(
    "text",
    [
        L1,
        L1 + "  \r\n",
        "\t " + L1,
        L1.lower(),
        L1 + "12345678901",
        "\x1c" + L2 + "\x1f\x0b\x0c",
        "",
        "   ",
        "1 abc",
        "x" * 80,
        L2.replace(" ", "\t"),
    ],
)
def test_normalise_is_what_tle_stores(kernel, text):
    # TLE strips with str.strip, upper-cases with str.upper and keeps 69 characters.
    assert kernel.normalise(text.encode()) == text.strip().upper()[:69].encode()


def test_normalise_keeps_valid_lines(kernel, generator):
    text, _ = generator.make_catalog(500, seed=22, form="2le")
    for line in text.splitlines():
        assert kernel.normalise(line) == line


def test_normalise_matches_tle(kernel, TLE):
    for l1, l2 in [(L1 + "   ", L2.lower()), ("  " + put(L1, 8, "s"), L2 + "99999")]:
        tle = TLE(l1, l2)
        assert (kernel.normalise(l1.encode()), kernel.normalise(l2.encode())) == (
            tle.line1.encode(),
            tle.line2.encode(),
        )
