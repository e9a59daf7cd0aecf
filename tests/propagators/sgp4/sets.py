"""Element sets for the agreement tests (random ones by kind of orbit, the verification set),
python-sgp4 as the reference, and the comparison the tests share."""

import math
from pathlib import Path

import numpy as np

TWOPI = 2 * math.pi
JD_1950 = 2433281.5
# one epoch for the random sets, so that python-sgp4's array propagator sees one time grid
EPOCH = (JD_1950 + 25123.0, 0.4567)
MM, UM_S = 1e-6, 1e-9  # 1 mm in km, 1 um/s in km/s

KINDS = (
    "near",
    "near-eccentric",
    "24h",
    "12h-resonant",
    "12h-circular",
    "deep-eccentric",
    "deep-low-inclination",
    "deep-retrograde-equatorial",
)


def rev_per_day(n):
    return n * TWOPI / 1440.0


def random_sets(n, seed):
    """n element rows (bstar, ndot, nddot, ecco, argpo, inclo, mo, no_kozai, nodeo) and the kind
    of each: half near-Earth (some with perigees low enough to decay within the day), the rest
    deep-space: 24 h and 12 h resonant, 12 h near-circular, very eccentric, low inclination,
    and within 3 degrees of retrograde equatorial (where the model divides by 1 + cos i)."""
    rng = np.random.default_rng(seed)
    kinds = rng.choice(len(KINDS), size=n, p=[0.42, 0.09, 0.09, 0.08, 0.08, 0.08, 0.08, 0.08])
    rows = np.zeros((n, 9))
    for i, k in enumerate(kinds):
        argp, mo, node = rng.uniform(0, TWOPI, 3)
        inc = rng.uniform(0, math.pi)
        bstar = rng.uniform(-1e-4, 5e-4)
        if k == 0:
            revs, e = rng.uniform(11.0, 16.6), min(0.2, 4 * rng.uniform(0, 0.05) ** 1.5)
            if rng.uniform() < 0.2:
                bstar = rng.uniform(0, 0.05)
        elif k == 1:
            revs, e = rng.uniform(6.5, 11.0), rng.uniform(0.05, 0.45)
        elif k == 2:
            revs, e = rng.uniform(0.85, 1.15), rng.uniform(0, 0.1)
            if rng.uniform() < 0.5:
                inc = rng.uniform(0, 0.25)
        elif k == 3:
            revs, e, inc = rng.uniform(1.95, 2.1), rng.uniform(0.5, 0.78), rng.uniform(0.9, 1.3)
        elif k == 4:
            revs, e = rng.uniform(1.95, 2.1), rng.uniform(0, 0.3)
        elif k == 5:
            revs, e = rng.uniform(0.3, 6.3), rng.uniform(0.5, 0.95)
        elif k == 6:
            revs, e, inc = rng.uniform(0.9, 6.3), rng.uniform(0, 0.7), rng.uniform(0, 0.2)
        else:
            revs, e = rng.uniform(0.3, 6.3), rng.uniform(0, 0.9)
            inc = math.pi - rng.uniform(0, 0.05)
        rows[i] = [bstar, 0.0, 0.0, e, argp, inc, mo, rev_per_day(revs), node]
    return rows, np.array([KINDS[k] for k in kinds])


def _gravity(api, name):
    return {"wgs72old": api.WGS72OLD, "wgs72": api.WGS72, "wgs84": api.WGS84}[name]


def reference_grid(api, rows, t, gravity, mode):
    """python-sgp4 on the rows (all at EPOCH) at t minutes: the minutes it actually used (from
    its Julian dates), statuses (n, nt), r, v (n, nt, 3) in km and km/s, and init statuses."""
    epoch = (EPOCH[0] - JD_1950) + EPOCH[1]
    sats = []
    for row in rows:
        sat = api.Satrec()
        sat.sgp4init(_gravity(api, gravity), mode, 0, epoch, *row)
        sats.append(sat)
    jd0, fr0 = sats[0].jdsatepoch, sats[0].jdsatepochF
    jd = np.full(len(t), jd0)
    fr = fr0 + np.asarray(t) / 1440.0
    minutes = (jd - jd0) * 1440.0 + (fr - fr0) * 1440.0
    e, r, v = api.SatrecArray(sats).sgp4(jd, fr)
    return minutes, e.astype(int), r, v, np.array([s.error for s in sats])


def verification_cases(sgp4_package):
    """The objects of the package's verification set: (satnum, line1, line2, minutes), the
    minutes being those of the verification run (start, stop and step from line 2's tail)."""
    text = (Path(sgp4_package.__file__).parent / "SGP4-VER.TLE").read_text().splitlines()
    lines = iter(text)
    for line1 in lines:
        if not line1.startswith("1"):
            continue
        line2 = next(lines)
        start, stop, step = (float(f) for f in line2[69:].split())
        minutes, tsince = [0.0], start
        while tsince <= stop:
            if not tsince == start == 0.0:
                minutes.append(tsince)
            tsince += step
        if tsince - stop < step - 1e-6:
            minutes.append(stop)
        yield int(line1[2:7]), line1, line2[:69], np.array(minutes)


def printed_table(sgp4_package):
    """{satnum: [(minutes, the seven printed fields as text)]} of the package's tcppver.out."""
    text = (Path(sgp4_package.__file__).parent / "tcppver.out").read_text().replace("\r", "")
    table, current = {}, None
    for line in text.splitlines():
        fields = line.split()
        if len(fields) == 2 and fields[1] == "xx":
            current = table.setdefault(int(fields[0]), [])
        elif fields:
            current.append((float(fields[0]), fields[1:7]))
    return table


def printed(r, v):
    """Position (km) and velocity (km/s) as tcppver.out prints them."""
    return [f"{x:.8f}" for x in r] + [f"{x:.9f}" for x in v]


def elements_of(sat):
    """Epoch (jd_whole, jd_frac) and element row of a python-sgp4 record."""
    return (
        (sat.jdsatepoch, sat.jdsatepochF),
        [
            sat.bstar,
            sat.ndot,
            sat.nddot,
            sat.ecco,
            sat.argpo,
            sat.inclo,
            sat.mo,
            sat.no_kozai,
            sat.nodeo,
        ],
    )


# Faster than escape at the Earth's surface, or farther than 10^6 km (outside the Earth's sphere
# of influence): no orbit an element set describes gets there. The model does, next to where it
# reports a semilatus rectum below zero and its short-period terms grow as 1/p (up to 10^6 km/s
# a minute before); such samples are ill-conditioned and held to RELATIVE instead of 1 mm and
# 1 um/s.
ESCAPE = 11.2
FAR = 1e6
RELATIVE = 1e-8


def compare(got, ref):
    """Largest |dr| (mm) and |dv| (um/s) over samples the reference propagated, and the
    problems: status differences, failed or NaN reference samples that are not NaN here, and
    runaway samples (reference speed above ESCAPE or distance above FAR) off by more than
    RELATIVE."""
    r, v, status = got
    ref_status, ref_r, ref_v = ref
    problems = []
    status = np.asarray(status).astype(int)
    if (status != ref_status).any():
        where = np.argwhere(status != ref_status)
        problems.append(
            f"{len(where)} statuses differ, first at {tuple(where[0])}: "
            f"{status[tuple(where[0])]} != {ref_status[tuple(where[0])]}"
        )
    failed = ref_status != 0
    if not np.isnan(r[failed]).all() or not np.isnan(v[failed]).all():
        problems.append("a failed sample is not NaN")
    ref_nan = np.isnan(ref_r).any(axis=-1) & ~failed
    if not np.isnan(r[ref_nan]).all():
        problems.append("a sample python-sgp4 gives as NaN is not NaN")
    speed = np.linalg.norm(np.nan_to_num(ref_v), axis=-1)
    distance = np.linalg.norm(np.nan_to_num(ref_r), axis=-1)
    runaway = ((speed > ESCAPE) | (distance > FAR)) & ~failed & ~ref_nan
    for got_x, ref_x in ((r, ref_r), (v, ref_v)):
        scale = np.linalg.norm(ref_x[runaway], axis=-1, keepdims=True)
        if (np.abs(got_x[runaway] - ref_x[runaway]) > RELATIVE * scale).any():
            problems.append("a runaway sample is off by more than the relative tolerance")
    good = ~failed & ~ref_nan & ~runaway
    dr = np.abs(r[good] - ref_r[good]).max(initial=0.0) / MM
    dv = np.abs(v[good] - ref_v[good]).max(initial=0.0) / UM_S
    if not (np.isfinite(dr) and np.isfinite(dv)):
        problems.append("a propagated sample is NaN here")
    return dr, dv, problems, int(runaway.sum())
