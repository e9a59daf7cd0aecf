"""Calls that fail at run time and that the stubs must let type checkers refuse. Each line marked
"# refused" must draw an error from both mypy and pyright, and no other line may. Never run."""

from __future__ import annotations

import numpy as np

from orbivex.datamodel import COE_dt
from orbivex.propagators.analytical.sgp4.tle import ELSET, TLE
from orbivex.state import coe
from orbivex.time.time import Time


def numbers_and_arrays() -> None:
    singles = np.zeros(3, dtype=np.float32)
    counts = np.zeros(3, dtype=np.int64)
    vectors = np.zeros((2, 3))
    coe.orp_from_sma(7.0e6, GM=3.986e14)
    coe.orp_from_sma("7e6")  # refused
    coe.orp_from_sma([7.0e6])  # refused
    coe.orp_from_sma(singles)  # refused
    coe.mnm_from_sma(7.0e6, GM="3.986e14")  # refused
    coe.eca_from_mea(np.bool_(True), 0.1)  # refused
    coe.eca_from_mea(1.0, counts)  # refused
    coe.eca_from_mea(counts, 0.1)  # refused
    coe.coe_from_sv([7.0e6, 0.0, 0.0], [0.0, 7.5e3, 0.0])  # refused
    coe.sv_from_coe(vectors)  # refused
    coe.sv_from_coe(np.zeros(2, dtype=COE_dt))
    one: float = coe.orp_from_sma(np.zeros(3))  # refused
    many: np.ndarray[tuple[int], np.dtype[np.float64]] = coe.orp_from_sma(7.0e6)  # refused
    print(one, many)


def times(t: Time[tuple[()]], many: Time[tuple[int]]) -> None:
    Time(2460371.5)  # refused
    Time([2460371.5])  # refused
    Time("2024", format="mjd")  # refused
    Time(t, format="jd")  # refused
    Time(2460371.5, format="jd")
    jd: float = many.jd  # refused
    jds: np.ndarray[tuple[int], np.dtype[np.float64]] = t.jd  # refused
    ns: int = t.int64
    earlier: bool = many < t  # refused
    many < 5  # refused
    print(jd, jds, ns, earlier)


def element_sets(tle: TLE, elset: ELSET) -> None:
    TLE(tle.line1)  # refused
    ELSET(tle, satname=5)  # refused
    ELSET(tle.line1)  # refused
    elset.ecc = np.zeros(1)  # refused
    epoch: Time[tuple[()]] = elset.epoch  # refused
    print(epoch)
