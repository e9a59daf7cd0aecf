"""Valid element sets drawn field by field, and their values computed in Python from the text
alone (integers, Fractions and Python's correctly rounded float())."""

import datetime
import math
from fractions import Fraction

from hypothesis import strategies as st

from .kernel import summed

LETTERS = "ABCDEFGHJKLMNPQRSTUVWXYZ"
DEG, REV, DAY = math.pi / 180.0, 2.0 * math.pi, 86400.0  # the units module's constants


def alpha5(n: int) -> str:
    return f"{n:05d}" if n < 100000 else LETTERS[n // 10000 - 10] + f"{n % 10000:04d}"


def alpha5_value(field: str) -> int:
    field = field.strip()
    if field.isdigit():
        return int(field)
    return (LETTERS.index(field[0]) + 10) * 10000 + int(field[1:])


def full_year(yy: int) -> int:
    return 2000 + yy if yy < 57 else 1900 + yy


def is_leap(y: int) -> bool:
    return y % 4 == 0 and (y % 100 != 0 or y % 400 == 0)


def epoch_ns(line1: str) -> int:
    """Nanoseconds since 1970 of the epoch of line 1, in exact rational arithmetic."""
    year = full_year(int(line1[18:20]))
    day = Fraction(line1[20:32].strip())
    days = (datetime.date(year, 1, 1) - datetime.date(1970, 1, 1)).days
    ns = (days + day - 1) * 86400 * 10**9
    assert ns.denominator == 1
    return int(ns)


def exponent_value(text: str) -> float:
    """ "SMMMMMEX" = S0.MMMMM x 10^EX, as Python reads the same decimal."""
    return float(f"{text[0].strip()}0.{text[1:6]}e{text[6:8]}")


def reference(line1: str, line2: str) -> dict:
    """Every field of a valid set, in the kernel's units."""
    return {
        "satno": alpha5_value(line1[2:7]),
        "classification": line1[7].encode(),
        "intldes": line1[9:17].rstrip().encode(),
        "epoch_ns": epoch_ns(line1),
        "epoch_year": full_year(int(line1[18:20])),
        "epoch_day": int(line1[20:23]),
        "epoch_fraction": int(line1[24:32]),
        "ndot": float(line1[33:43].replace(" ", "")),
        "nddot": exponent_value(line1[44:52]),
        "bstar": exponent_value(line1[53:61]),
        "ephemeris_type": int(line1[62]),
        "element_number": int(line1[64:68]),
        "inc": float(line2[8:16]) * DEG,
        "raa": float(line2[17:25]) * DEG,
        "ecc": float("." + line2[26:33]),
        "arp": float(line2[34:42]) * DEG,
        "mea": float(line2[43:51]) * DEG,
        "mnm": (float(line2[52:63]) * REV) / DAY,
        "revolution": int(line2[63:68]),
    }


def right(value: int, width: int, zeros: bool) -> str:
    return f"{value:0{width}d}" if zeros else f"{value:{width}d}"


@st.composite
def valid_sets(draw):
    """(line 1, line 2) of a valid set: every field drawn over its whole range, with blanks or
    zeros where the form allows either."""
    zeros = draw(st.booleans())
    n = draw(st.integers(0, 339999))
    satno = f"{n:5d}" if n < 100000 and not zeros else alpha5(n)
    classification = draw(st.sampled_from("UCSAZ"))
    if draw(st.booleans()):
        piece = draw(st.text(alphabet="ABCDEFGHIJKLMNOPQRSTUVWXYZ", min_size=1, max_size=3))
        intldes = f"{draw(st.integers(0, 99999)):05d}{piece:<3}"
    else:
        intldes = " " * 8
    yy = draw(st.integers(0, 99))
    day = draw(st.integers(1, 366 if is_leap(full_year(yy)) else 365))
    epoch = f"{yy:02d}{right(day, 3, zeros)}.{draw(st.integers(0, 10**8 - 1)):08d}"

    def exp_form():
        return (
            draw(st.sampled_from(" +-"))
            + f"{draw(st.integers(0, 99999)):05d}"
            + draw(st.sampled_from("+-"))
            + str(draw(st.integers(0, 9)))
        )

    ndot = draw(st.sampled_from(" +-")) + f".{draw(st.integers(0, 10**8 - 1)):08d}"
    line1 = (
        f"1 {satno}{classification} {intldes} {epoch} {ndot} {exp_form()} {exp_form()} "
        f"{draw(st.integers(0, 9))} {right(draw(st.integers(0, 9999)), 4, zeros)}0"
    )

    def angle():
        m = draw(st.integers(0, 9999999))
        return f"{right(m // 10**4, 3, zeros)}.{m % 10**4:04d}"

    mnm = draw(st.integers(1, 10**10 - 1))
    line2 = (
        f"2 {satno} {angle()} {angle()} {draw(st.integers(0, 9999999)):07d} {angle()} "
        f"{angle()} {right(mnm // 10**8, 2, zeros)}.{mnm % 10**8:08d}"
        f"{right(draw(st.integers(0, 99999)), 5, zeros)}0"
    )
    assert len(line1) == len(line2) == 69, (line1, line2)
    return summed(line1), summed(line2)
