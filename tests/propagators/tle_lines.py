"""Two-line element texts for the tle tests: a reference pair and a builder of lines from fields."""

L1 = "1 25544U 98067A   24100.50000000  .00016717  00000-0  10270-3 0  9994"
L2 = "2 25544  51.6400 208.9163 0006703  69.9862  25.2906 15.50000000 10000"


def line1(satno="25544", year="24", day="100.50000000"):
    """Line 1 with the three fields the record reads put in their columns (3-7, 19-20, 21-32)."""
    text = list(L1)
    text[2:7] = satno.rjust(5)
    text[18:20] = year.rjust(2)
    text[20:32] = day.rjust(12)
    return "".join(text)


def line2(
    inc=" 51.6400", raa="208.9163", ecc="0006703", arp=" 69.9862", mea=" 25.2906", mnm="15.50000000"
):
    """Line 2 with the six element fields put in their columns."""
    text = list(L2)
    for start, value, width in (
        (8, inc, 8),
        (17, raa, 8),
        (26, ecc, 7),
        (34, arp, 8),
        (43, mea, 8),
        (52, mnm, 11),
    ):
        assert len(value) == width, (value, width)
        text[start : start + width] = value
    return "".join(text)


def with_satno(satno: int) -> tuple[str, str]:
    """The reference pair for another catalogue number."""
    return line1(satno=f"{satno:05d}"), L2


def with_epoch(year: int, day: float) -> tuple[str, str]:
    """The reference pair at another epoch."""
    return line1(year=f"{year:02d}", day=f"{day:012.8f}"), L2
