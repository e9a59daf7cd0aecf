"""The kernels on random element sets against python-sgp4, at 2881 times over plus and minus one
day: near-Earth (decaying ones too) and deep-space (24 h and 12 h resonant, very eccentric, low
inclination), every propagation path, the three Earth models and both modes.

ORBIVEX_SGP4_SETS sets the number of sets of the main case (1000 by default; the other
cases take a quarter of it)."""

import os

import numpy as np
import pytest

from .sets import EPOCH, KINDS, compare, random_sets, reference_grid

SETS = int(os.environ.get("ORBIVEX_SGP4_SETS", "1000"))
MINUTES = np.linspace(-1440.0, 1440.0, 2881)
CASES = [("wgs72", "i", SETS, 1)] + [
    (g, m, max(SETS // 4, 16), seed)
    for seed, (g, m) in enumerate(
        [("wgs72", "a"), ("wgs72old", "i"), ("wgs72old", "a"), ("wgs84", "i"), ("wgs84", "a")],
        start=2,
    )
]
CHUNK = 250  # sets per comparison, to bound memory


def _paths(kernel):
    best = kernel.isas[-1]
    paths = {"scalar": lambda rec, t: kernel.scalar(rec, t)}
    for isa in kernel.isas:
        paths[f"times-{isa}"] = lambda rec, t, isa=isa: kernel.grid_times(rec, t, isa)
    paths["sets"] = lambda rec, t: kernel.grid_sets(rec, t, best, chunk=40)
    return paths


@pytest.mark.parametrize("gravity, mode, count, seed", CASES)
def test_random_sets(kernel, api, gravity, mode, count, seed):
    rows, kinds = random_sets(count, seed)
    paths = _paths(kernel)
    worst = {(p, k): (0.0, 0.0) for p in paths for k in KINDS}
    failures = runaways = 0
    for start in range(0, count, CHUNK):
        part = slice(start, start + CHUNK)
        minutes, e, r, v, init_errors = reference_grid(api, rows[part], MINUTES, gravity, mode)
        recs, init_status = kernel.init(
            np.tile(EPOCH, (len(rows[part]), 1)), rows[part], gravity, mode
        )
        np.testing.assert_array_equal(init_status, init_errors)
        failures += int((e != 0).sum())
        for name, run in paths.items():
            got = run(recs, minutes)
            for kind in KINDS:
                sel = kinds[part] == kind
                if not sel.any():
                    continue
                dr, dv, problems, runaway = compare(
                    tuple(a[sel] for a in got), (e[sel], r[sel], v[sel])
                )
                assert not problems, (name, kind, problems)
                runaways += runaway if name == "scalar" else 0
                w = worst[name, kind]
                worst[name, kind] = (max(w[0], dr), max(w[1], dv))
    print(
        f"\n{count} random sets, {gravity} {mode}: {failures} failed samples, {runaways} "
        "runaway ones; largest |dr| mm / |dv| um/s:"
    )
    for (name, kind), (dr, dv) in worst.items():
        print(f"  {name:14s} {kind:28s} {dr:9.2e} {dv:9.2e}")
    assert all(dr <= 1.0 and dv <= 1.0 for dr, dv in worst.values()), worst
    # the generator is meant to exercise the failure codes too
    assert failures > 0


def test_paired(kernel, api):
    """Each set at a time of its own (the paired layout), against python-sgp4 one by one."""
    rows, _ = random_sets(600, 11)
    t = np.random.default_rng(12).uniform(-1440.0, 1440.0, len(rows))
    recs, _ = kernel.init(np.tile(EPOCH, (len(rows), 1)), rows)
    epoch = (EPOCH[0] - 2433281.5) + EPOCH[1]
    ref = []
    for row, tj in zip(rows, t, strict=True):
        sat = api.Satrec()
        sat.sgp4init(api.WGS72, "i", 0, epoch, *row)
        ref.append(sat.sgp4_tsince(tj))
    ref = (
        np.array([x[0] for x in ref]),
        np.array([x[1] for x in ref]),
        np.array([x[2] for x in ref]),
    )
    for isa in kernel.isas:
        dr, dv, problems, _ = compare(kernel.paired(recs, t, isa), ref)
        assert not problems and dr <= 1.0 and dv <= 1.0, (isa, dr, dv, problems)
