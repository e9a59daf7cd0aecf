"""Writes sample_tles.txt: invented two-line element sets of five invented satellites.

The element sets are sample data made for the orbivex demo, not observations of real objects:
each satellite starts from round mean elements and is moved forward with the secular J2 drift
of its node, argument of perigee and mean anomaly, plus a slow decay of the low orbits and two
perigee-raising burns of the transfer orbit. Run it again to regenerate the file byte for byte.
"""

import math
from pathlib import Path

MU = 3.986004418e14  # m^3/s^2
RE = 6378137.0  # m
J2 = 1.08262668e-3
DAY = 86400.0

OUT = Path(__file__).with_name("sample_tles.txt")


def checksum(line: str) -> int:
    """Mod-10 sum of the digits, each minus sign counting 1."""
    return sum(int(c) if c.isdigit() else (c == "-") for c in line[:68]) % 10


def exp_field(value: float) -> str:
    """An 8-column field with an implied leading point and a one-digit exponent: ' 12345-4'."""
    if value == 0.0:
        return " 00000-0"
    sign = "-" if value < 0 else " "
    exponent = math.floor(math.log10(abs(value))) + 1
    mantissa = round(abs(value) / 10.0**exponent * 1e5)
    if mantissa == 100000:
        mantissa, exponent = 10000, exponent + 1
    return f"{sign}{mantissa:05d}{'-' if exponent < 0 else '+'}{abs(exponent)}"


def line1(satno, intl, epoch_year, epoch_day, ndot, bstar, elnum):
    ndot_text = ("-" if ndot < 0 else " ") + f"{abs(ndot):.8f}"[1:]  # " .00001234"
    text = (
        f"1 {satno:05d}U {intl:<8s} {epoch_year % 100:02d}{epoch_day:012.8f} "
        f"{ndot_text} {exp_field(0.0)} {exp_field(bstar)} 0 {elnum:4d}"
    )
    assert len(text) == 68, text
    return text + str(checksum(text))


def line2(satno, inc, raan, ecc, argp, mea, mnm, revnum):
    text = (
        f"2 {satno:05d} {inc:8.4f} {raan % 360.0:8.4f} {round(ecc * 1e7):07d} "
        f"{argp % 360.0:8.4f} {mea % 360.0:8.4f} {mnm:11.8f}{revnum % 100000:5d}"
    )
    assert len(text) == 68, text
    return text + str(checksum(text))


def secular_rates(mnm_rev_day, ecc, inc_deg):
    """Node, perigee and mean-anomaly rates in degrees per day from J2."""
    n = mnm_rev_day * 2.0 * math.pi / DAY
    a = (MU / n**2) ** (1.0 / 3.0)
    p = a * (1.0 - ecc**2)
    i = math.radians(inc_deg)
    k = 1.5 * J2 * (RE / p) ** 2 * n
    node = -k * math.cos(i)
    perigee = 0.5 * k * (5.0 * math.cos(i) ** 2 - 1.0)
    mean = n + 0.5 * k * math.sqrt(1.0 - ecc**2) * (3.0 * math.cos(i) ** 2 - 1.0)
    return tuple(math.degrees(r) * DAY for r in (node, perigee, mean))


def orbit_from_altitudes(perigee_km, apogee_km):
    """Mean motion (rev/day, rounded to the field) and eccentricity of an orbit."""
    rp, ra = RE + perigee_km * 1e3, RE + apogee_km * 1e3
    a = 0.5 * (rp + ra)
    mnm = math.sqrt(MU / a**3) * DAY / (2.0 * math.pi)
    return round(mnm, 8), (ra - rp) / (ra + rp)


GTO_START = orbit_from_altitudes(250.0, 35786.0)

# name, catalogue number, designator, inc, raan, ecc, argp, mea, mean motion (rev/day),
# change of mean motion per day (rev/day^2, drag), B* term, days between sets, number of sets
SATELLITES = [
    (
        "SAMPLE LEO-1",
        90001,
        "24901A",
        51.6400,
        210.0,
        0.0004100,
        75.0,
        285.0,
        15.49800000,
        2.0e-4,
        3.2e-4,
        2.5,
        8,
    ),
    (
        "SAMPLE SSO-2",
        90002,
        "24902A",
        98.2000,
        120.0,
        0.0011500,
        95.0,
        265.0,
        14.57100000,
        4.0e-6,
        2.1e-5,
        4.0,
        6,
    ),
    (
        "SAMPLE MOLNIYA-3",
        90003,
        "24903A",
        63.4000,
        330.0,
        0.7210000,
        270.0,
        10.0,
        2.00600000,
        0.0,
        0.0,
        6.0,
        5,
    ),
    (
        "SAMPLE GTO-4",
        90004,
        "24904A",
        27.0000,
        45.0,
        GTO_START[1],
        178.0,
        20.0,
        GTO_START[0],
        0.0,
        0.0,
        3.0,
        7,
    ),
    (
        "SAMPLE GEO-5",
        90005,
        "24905A",
        0.0500,
        85.0,
        0.0002000,
        200.0,
        40.0,
        1.00270000,
        0.0,
        0.0,
        7.0,
        4,
    ),
]

# Perigee-raising burns of the transfer orbit at apogee height: set index from which each
# applies, and the mean motion and eccentricity after it.
GTO_BURNS = {3: orbit_from_altitudes(9000.0, 35786.0), 5: orbit_from_altitudes(24000.0, 35786.0)}


def element_sets(sat):
    name, satno, intl, inc, raan, ecc, argp, mea, mnm, mnm_dot, bstar, step, count = sat
    start_day = 100.25 + satno % 10 * 0.137  # days of 2024
    revnum = 1000 + satno % 100 * 37
    for k in range(count):
        if satno == 90004 and k in GTO_BURNS:
            mnm, ecc = GTO_BURNS[k]
        dt = step if k else 0.0
        node_rate, perigee_rate, mean_rate = secular_rates(mnm, ecc, inc)
        raan += node_rate * dt
        argp += perigee_rate * dt
        mea += mean_rate * dt
        revnum += round(mnm * dt)
        mnm += mnm_dot * dt
        day = start_day + k * step
        yield (
            line1(satno, intl, 2024, day, mnm_dot / 2.0, bstar, 900 + k),
            line2(satno, inc, raan, ecc, argp, mea, mnm, revnum),
        )


def main():
    # Plain three-line text, as element sets are published: the file has no room for a note
    # that the data are invented, so that note is in README.md beside it.
    out = []
    for sat in SATELLITES:
        sets = list(element_sets(sat))
        if sat[1] == 90002:
            sets.reverse()  # one history listed newest first: ELSET sorts by epoch
        for first, second in sets:
            out += [sat[0], first, second]
    OUT.write_text("\n".join(out) + "\n")
    print(f"wrote {OUT}")


if __name__ == "__main__":
    main()
