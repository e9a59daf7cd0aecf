"""Every caller of the Kepler solver (scalar and array functions, the exported entries, TLE)
gets a root for finite elliptic input where plain Newton overshoots to NaN, and the short cap
outside the solver's domain."""

import ctypes
import math

import numpy as np
import pytest

import orbivex.state.coe as coe
from orbivex.propagators.analytical.sgp4.tle import TLE
from tests.capsules import bind_function
from tests.propagators.tle_lines import L1, line2
from tests.state import coe_reference as R

D = ctypes.c_double
ANOMALY = "double (double const , double const )"
c_eca_from_mea = bind_function("orbivex.state.coe", "c_eca_from_mea", ANOMALY, D, D, D)
c_tra_from_mea = bind_function("orbivex.state.coe", "c_tra_from_mea", ANOMALY, D, D, D, gil=True)


class Plain(np.ndarray):
    """Not an exact ndarray: the general per-element path."""


def residual(eca, mea, ecc):
    return np.abs((eca - ecc * np.sin(eca)) - mea)


# Points of linspace(−π, π, 100001) where plain Newton gives NaN at e = 0.9999 or 0.99999, among
# a sample of the stretch around them (the solver is slow there: ~10^4 steps an element).
OVERSHOOTING = [
    -2.011498944240473,
    -1.7943520600243463,
    -1.65103260316758,
    -2.060696285195689,
    -2.060507789636474,
    -2.0586228340443196,
]
MEA = np.concatenate([OVERSHOOTING, np.linspace(-np.pi, np.pi, 100001)[15000:25000:20]])


@pytest.mark.parametrize("ecc", [0.9999, 0.99999])
def test_array_functions_give_roots_where_newton_overshoots(ecc):
    fast = coe.eca_from_mea(MEA, ecc)
    assert not np.isnan(fast).any()
    assert residual(fast, MEA, ecc).max() <= 1e-13
    assert fast.tobytes() == coe.eca_from_mea(MEA.view(Plain), ecc).tobytes()
    assert fast.tobytes() == coe.eca_from_mea(MEA, np.full(len(MEA), ecc)).tobytes()
    tra = coe.tra_from_mea(MEA, ecc)
    assert not np.isnan(tra).any()
    assert tra.tobytes() == coe.tra_from_eca(fast, ecc).tobytes()


@pytest.mark.parametrize("mea, ecc", [(-2.011498944240473, 0.9999), (-2.060507789636474, 0.99999)])
def test_scalar_functions_and_entries_agree_on_the_root(mea, ecc):
    assert math.isnan(R.eca_from_mea(mea, ecc))  # what plain Newton gives
    eca = coe.eca_from_mea(mea, ecc)
    assert residual(eca, mea, ecc) <= 1e-15
    assert eca == c_eca_from_mea(mea, ecc) == coe.eca_from_mea(np.array([mea]), ecc)[0]
    tra = coe.tra_from_mea(mea, ecc)
    assert not math.isnan(tra)
    assert tra == c_tra_from_mea(mea, ecc) == coe.tra_from_eca(eca, ecc)


def test_tle_with_an_overshooting_mean_anomaly():
    tle = TLE(L1, line2(ecc="9999000", mea="-115.215"))
    assert math.isnan(R.eca_from_mea(tle.mea, tle.ecc))
    assert residual(tle.eca, tle.mea, tle.ecc) <= 1e-15
    assert not math.isnan(tle.tra)
    assert tle.eca == c_eca_from_mea(tle.mea, tle.ecc)


def test_tle_with_an_eccentricity_beyond_one_stops_early():
    # ".20297e1": the field takes an exponent. Newton settles only after 11306 steps, a few ulps
    # off the root the solver returns once it gives up.
    tle = TLE(L1, line2(ecc="20297e1", mea="209.2317"))
    assert tle.ecc == 2.0297
    seen, done = R.newton_steps(tle.mea, tle.ecc, 20_000)
    assert done and len(seen) == 11306
    assert tle.eca != seen[-1] and abs(tle.eca - seen[-1]) <= 1e-14
    assert tle.eca == c_eca_from_mea(tle.mea, tle.ecc)
    assert residual(tle.eca, tle.mea, tle.ecc) <= 1e-14
