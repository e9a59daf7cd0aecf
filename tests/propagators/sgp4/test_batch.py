"""The batch entry points: a sample's bits do not depend on the instruction set, the layout
(lanes over times, over sets, in pairs) or the chunk it is computed in; chunks write exactly
their cells; strides and units; the resonance integrator's carried state changes nothing;
non-finite times end; and sets on the model's edges (branch thresholds, degenerate elements)
against python-sgp4."""

import math

import numpy as np
import pytest

from .sets import EPOCH, compare, random_sets, rev_per_day

MINUTES = np.linspace(-1440.0, 1440.0, 721)


@pytest.fixture(scope="module")
def sample(kernel):
    rows, kinds = random_sets(160, 21)
    recs, _ = kernel.init(np.tile(EPOCH, (len(rows), 1)), rows)
    return recs, kinds


def _same(a, b):
    for x, y in zip(a, b, strict=True):
        np.testing.assert_array_equal(x, y)  # NaN equals NaN here


def test_sample_bits_independent_of_isa_and_layout(kernel, sample):
    recs, _ = sample
    reference = kernel.grid_times(recs, MINUTES, kernel.isas[0])
    for isa in kernel.isas:
        _same(kernel.grid_times(recs, MINUTES, isa), reference)
        _same(kernel.grid_sets(recs, MINUTES, isa, chunk=24), reference)
        j = np.arange(len(recs)) * 5 % len(MINUTES)
        r, v, status = kernel.paired(recs, MINUTES[j], isa)
        _same((r, v, status), tuple(a[np.arange(len(recs)), j] for a in reference))


def _close(a, b):
    """Same statuses and NaNs, positions and velocities within 1e-15 relative."""
    (r1, v1, s1), (r2, v2, s2) = a, b
    np.testing.assert_array_equal(s1, s2)
    for x, y in ((r1, r2), (v1, v2)):
        np.testing.assert_array_equal(np.isnan(x), np.isnan(y))
        scale = np.abs(np.nan_to_num(y)).max(axis=-1, keepdims=True)
        finite = ~np.isnan(y)
        assert (np.abs(x - y)[finite] <= 1e-15 * np.broadcast_to(scale, y.shape)[finite]).all()


@pytest.mark.parametrize("isa", ["generic", "avx512"])
def test_chunks_write_their_cells(kernel, sample, isa):
    if isa not in kernel.isas:
        pytest.skip(f"this CPU has no {isa}")
    recs, _ = sample
    whole = kernel.grid_times(recs, MINUTES, isa)
    n, nt = len(recs), len(MINUTES)
    out = None
    for s0, s1 in ((0, 7), (7, 60), (60, n)):
        for t0, t1 in ((0, 1), (1, 333), (333, nt)):
            before = None if out is None else tuple(a.copy() for a in out)
            out = kernel.grid_times(recs, MINUTES, isa, sets=(s0, s1), times=(t0, t1), out=out)
            if before is not None:
                outside = np.ones((n, nt), bool)
                outside[s0:s1, t0:t1] = False
                for a, b in zip(out, before, strict=True):
                    np.testing.assert_array_equal(a[outside], b[outside])
    _same(out, whole)


def test_time_major_layout_and_metres(kernel, sample):
    recs, _ = sample
    isa = kernel.isas[-1]
    r, v, status = kernel.grid_times(recs, MINUTES, isa)
    rt, vt, st = kernel.grid_times(recs, MINUTES, isa, time_major=True)
    _same((rt.transpose(1, 0, 2), vt.transpose(1, 0, 2), st.T), (r, v, status))
    rm, vm, sm = kernel.grid_times(recs, MINUTES, isa, scale=1000.0)
    _close((rm, vm, sm), (r * 1000.0, v * 1000.0, status))


def test_carried_integrator_state_changes_nothing(kernel, sample):
    """Times out of order (back and forth across the epoch) with the state carried, against each
    time from a fresh state; and the vector lanes on the same order against sorted times."""
    recs, kinds = sample
    deep = recs[np.isin(kinds, ["24h", "12h-resonant"])]
    order = np.random.default_rng(3).permutation(len(MINUTES))
    t = np.concatenate([MINUTES[order], [20000.0, -20000.0, 19000.0, 30000.0]])
    _same(kernel.scalar(deep, t, carry=True), kernel.scalar(deep, t, carry=False))
    isa = kernel.isas[-1]
    shuffled = kernel.grid_times(deep, MINUTES[order], isa)
    r, v, status = kernel.grid_times(deep, MINUTES, isa)
    _same(shuffled, (r[:, order], v[:, order], status[:, order]))


@pytest.mark.parametrize("path", ["scalar", "times", "sets"])
def test_non_finite_times_end_as_nan(kernel, sample, path):
    """The resonance integrator would never reach an infinite time; such samples give NaN."""
    recs, _ = sample
    t = np.array([np.nan, np.inf, -np.inf, 0.0])
    if path == "scalar":
        r, v, _ = kernel.scalar(recs, t)
    elif path == "times":
        r, v, _ = kernel.grid_times(recs, t, kernel.isas[-1])
    else:
        r, v, _ = kernel.grid_sets(recs, t, kernel.isas[-1])
    assert np.isnan(r[:, :3]).all() and np.isnan(v[:, :3]).all()


def _perigee_n(height_km, e):
    a = (6378.135 + height_km) / (1 - e)
    return math.sqrt(398600.8 / a**3) * 60.0


#: (name, ecco, inclo, no_kozai rad/min, bstar): sets at the thresholds of the model's branches
#: and with degenerate elements; argpo, mo, nodeo are 1, 2, 3 rad.
EDGES = [
    ("circular", 0.0, 0.9, rev_per_day(15.2), 1e-4),
    ("e at the odd-drag cut", 1e-4, 0.9, rev_per_day(15.2), 1e-4),
    ("e above the odd-drag cut", 1.0000001e-4, 0.9, rev_per_day(15.2), 1e-4),
    ("equatorial", 0.001, 0.0, rev_per_day(15.2), 1e-4),
    ("retrograde equatorial", 0.001, math.pi, rev_per_day(15.2), 1e-4),
    ("nearly retrograde equatorial", 0.001, math.pi - 1e-13, rev_per_day(15.2), 1e-4),
    ("geostationary equatorial", 3e-4, 0.0, rev_per_day(1.0027), 1e-4),
    ("geostationary retrograde", 3e-4, math.pi, rev_per_day(1.0027), 1e-4),
    ("Lyddane threshold", 0.7, 0.2, rev_per_day(2.3), 1e-4),
    ("perigee 220 km", 0.01, 0.9, _perigee_n(220.0, 0.01), 1e-3),
    ("perigee 156 km", 0.01, 0.9, _perigee_n(156.0, 0.01), 1e-3),
    ("perigee 98 km", 0.01, 0.9, _perigee_n(98.0, 0.01), 1e-3),
    ("perigee 50 km", 0.01, 0.9, _perigee_n(50.0, 0.01), 1e-3),
    ("period 225 min", 0.1, 0.9, 2 * math.pi / 225.0, 1e-4),
    ("period just below 225 min", 0.1, 0.9, 2 * math.pi / 224.999999, 1e-4),
    ("synchronous band, lower edge", 0.01, 0.9, 0.0034906585, 1e-4),
    ("synchronous band, upper edge", 0.01, 0.9, 0.0052359877, 1e-4),
    ("half-day band, lower edge", 0.5, 1.1, 8.26e-3, 1e-4),
    ("half-day band, upper edge", 0.65, 1.1, 9.24e-3, 1e-4),
    ("half-day, e = 0.7", 0.7, 1.1, 8.8e-3, 1e-4),
    ("half-day, e = 0.715", 0.715, 1.1, 8.8e-3, 1e-4),
    ("e = 0.999", 0.999, 1.1, rev_per_day(0.5), 1e-4),
    ("e = 1", 1.0, 1.1, rev_per_day(0.5), 1e-4),
    ("e = 1.5", 1.5, 1.1, rev_per_day(0.5), 1e-4),
    ("e < 0", -0.1, 1.1, rev_per_day(15.0), 1e-4),
    ("n = 0", 0.1, 1.1, 0.0, 1e-4),
    ("n < 0", 0.1, 1.1, -0.05, 1e-4),
    ("n < 0, e > 1", 1.5, 1.1, -0.05, 1e-4),
    ("large B*", 0.01, 1.1, rev_per_day(15.0), 0.5),
    ("negative B*", 0.01, 1.1, rev_per_day(15.0), -0.05),
    ("NaN eccentricity", math.nan, 1.1, rev_per_day(15.0), 1e-4),
]
EDGE_MINUTES = np.array([-1440.0, -720.0, -1.0, 0.0, 1.0, 360.0, 1440.0, 10000.0])


@pytest.mark.parametrize("name, ecco, inclo, no_kozai, bstar", EDGES, ids=[e[0] for e in EDGES])
def test_edge_sets(kernel, api, name, ecco, inclo, no_kozai, bstar):
    row = [bstar, 0.0, 0.0, ecco, 1.0, inclo, 2.0, no_kozai, 3.0]
    sat = api.Satrec()
    sat.sgp4init(api.WGS72, "i", 0, (EPOCH[0] - 2433281.5) + EPOCH[1], *row)
    rec, init_status = kernel.init(EPOCH, row)
    assert init_status[0] == sat.error
    assert (kernel.info(rec)["family"] != "near") == (sat.method == "d")
    ref = [sat.sgp4_tsince(t) for t in EDGE_MINUTES]
    ref = (
        np.array([x[0] for x in ref]),
        np.array([x[1] for x in ref]),
        np.array([x[2] for x in ref]),
    )
    best = kernel.isas[-1]
    for got in (
        kernel.scalar(rec, EDGE_MINUTES),
        kernel.grid_times(rec, EDGE_MINUTES, best),
        kernel.grid_sets(rec, EDGE_MINUTES, best),
    ):
        dr, dv, problems, _ = compare(tuple(a[0] for a in got), ref)
        assert not problems and dr <= 1.0 and dv <= 1.0, (problems, dr, dv)
