"""A typical user script of orbivex. Type checkers must accept it as it stands (mypy --strict,
pyright in strict mode), and each assert_type pins what the stubs promise; run as a program,
it checks that those promises hold at run time too."""
# pyright: strict

from __future__ import annotations

import datetime
from fractions import Fraction
from typing import Any, assert_type

import numpy as np
import numpy.typing as npt

from orbivex.bodies.bodies import Earth
from orbivex.datamodel import COE_dt, LLA_dtype
from orbivex.mathtools.quiver import quiver
from orbivex.propagators.analytical.sgp4.tle import ELSET, TLE
from orbivex.state import coe
from orbivex.time.time import UTC, Time
from orbivex.units import units

Doubles = np.ndarray[tuple[int], np.dtype[np.float64]]
Mask = np.ndarray[tuple[int], np.dtype[np.bool_]]

LINE1 = "1 25544U 98067A   24100.50000000  .00016717  00000-0  10270-3 0  9994"
LINE2 = "2 25544  51.6400 208.9163 0006703  69.9862  25.2906 15.50000000 10000"
LATER = "1 25544U 98067A   24101.50000000  .00016717  00000-0  10270-3 0  9994"


def scalars() -> None:
    """Every kind of number the functions take as one value gives a float."""
    sma = 7.0e6
    f64 = np.float64(7.0e6)
    f32 = np.float32(7.0e6)
    orp = coe.orp_from_sma(sma)
    assert_type(orp, float)
    assert_type(coe.orp_from_sma(f64), float)
    assert_type(coe.orp_from_sma(f32), float)
    assert_type(coe.mnm_from_sma(2), float)
    assert_type(coe.mnm_from_sma(np.int32(2)), float)
    assert_type(coe.sma_from_orp(Fraction(5400, 1)), float)
    assert_type(coe.sma_from_mnm(np.float32(1.1e-3), GM=np.float32(3.986e14)), float)
    assert_type(coe.orp_from_sma(sma, Earth.GM), float)
    assert isinstance(coe.orp_from_sma(f32), float)
    assert abs(coe.sma_from_orp(orp) - sma) < 1e-6

    ecc = np.float32(0.1)
    eca = coe.eca_from_mea(np.float64(1.0), ecc)
    assert_type(eca, float)
    assert_type(coe.mea_from_eca(eca, 0.1), float)
    assert_type(coe.tra_from_eca(eca, np.float64(0.1)), float)
    assert_type(coe.eca_from_tra(f32, 0), float)
    assert_type(coe.tra_from_mea(1.0, ecc), float)
    assert_type(coe.mea_from_tra(np.float32(1.0), np.float32(0.1)), float)
    assert isinstance(coe.tra_from_mea(np.float32(1.0), np.float32(0.1)), float)


def arrays() -> None:
    """A float64 array on the side that shapes the result gives a new float64 array."""
    sma = np.linspace(6.6e6, 4.2e7, 5)
    orp = coe.orp_from_sma(sma)
    assert_type(orp, Doubles)
    assert_type(coe.sma_from_orp(orp, GM=Earth.GM), Doubles)
    assert_type(coe.mnm_from_sma(sma[::2]), Doubles)
    assert orp.dtype == np.float64 and orp.shape == (5,)

    mea: npt.NDArray[np.float64] = np.array([0.0, 1.0, 2.0])
    ecc = np.zeros(3, dtype=np.int64)
    assert_type(coe.eca_from_mea(mea, 0.1), Doubles)
    assert_type(coe.eca_from_mea(mea, np.float32(0.1)), Doubles)
    assert_type(coe.eca_from_mea(mea, ecc), Doubles)
    assert_type(coe.tra_from_mea(1.0, np.full(4, 0.1)), Doubles)
    assert_type(coe.mea_from_tra(np.float32(1.0), np.full(4, 0.1)), Doubles)
    tra = coe.tra_from_eca(coe.eca_from_mea(mea, 0.2), 0.2)
    back: npt.NDArray[np.float64] = coe.mea_from_tra(tra, 0.2)
    assert all(abs(float(b) - float(m)) < 1e-9 for b, m in zip(back, mea, strict=True))

    # A value known only as "number or array" takes either road.
    either: float | npt.NDArray[np.float64] = mea if len(mea) else 1.0
    assert_type(coe.orp_from_sma(either), float | Doubles)


def state_vectors() -> None:
    """Record dtypes in and out of the state-vector functions."""
    r = np.array([[7.0e6, 0.0, 0.0], [0.0, 8.0e6, 0.0]])
    v = np.array([[0.0, 7.5e3, 1.0e3], [-7.0e3, 0.0, 0.5e3]])
    elements = coe.coe_from_sv(r, v)
    assert_type(elements, np.ndarray[tuple[int], np.dtype[np.void]])
    assert elements.dtype == COE_dt
    sma = elements["sma"]
    assert sma.shape == (2,)
    one = coe.coe_from_sv(np.array([7.0e6, 0, 0]), np.array([0, 7.5e3, 0]), GM=Earth.GM)
    assert one.shape == (1,)

    records = np.zeros(3, dtype=COE_dt)
    records["ecc"] = 0.01
    records["sma"] = 7.0e6
    records["slr"] = 7.0e6 * (1 - 0.01**2)
    rr, vv = coe.sv_from_coe(records)
    assert_type(rr, np.ndarray[tuple[int, int], np.dtype[np.float64]])
    assert_type(vv, np.ndarray[tuple[int, int], np.dtype[np.float64]])
    assert rr.shape == vv.shape == (3, 3)
    assert_type(coe.COE_dt, np.dtype[np.void])

    site = np.zeros(1, dtype=LLA_dtype)
    site["lat"] = 45.0 * units.deg
    assert LLA_dtype.names == ("lat", "lon", "alt")


def times() -> None:
    """A scalar Time gives scalars, an array Time gives arrays."""
    t = Time("2024-03-01T12:00:00")
    assert_type(t, "Time[tuple[()]]")
    assert_type(t.jd, float)
    assert_type(t.int64, int)
    assert_type(t.datetime64, np.datetime64)
    assert_type(t.utc, UTC)
    assert_type(t.shape, tuple[()])
    assert isinstance(t.jd, float) and isinstance(t.int64, int)
    assert isinstance(t.datetime64, np.datetime64)
    assert_type(Time(2460371.0, format="jd"), "Time[tuple[()]]")
    assert_type(Time(np.float32(2460371.0), format="jd"), "Time[tuple[()]]")
    noon = datetime.datetime(2024, 3, 1, 12, tzinfo=datetime.UTC)
    assert_type(Time(noon), "Time[tuple[()]]")
    assert_type(Time(np.datetime64("2024-03-01")), "Time[tuple[()]]")
    assert_type(Time(t), "Time[tuple[()]]")

    many = Time(["2024", "2025", datetime.date(2026, 1, 1)])
    assert_type(many, "Time[tuple[int]]")
    assert_type(many.jd, Doubles)
    assert_type(many.int64, np.ndarray[tuple[int], np.dtype[np.int64]])
    assert_type(many.datetime64, np.ndarray[tuple[int], np.dtype[np.datetime64]])
    assert_type(many.shape, tuple[int])
    assert isinstance(many.jd, np.ndarray) and many.jd.dtype == np.float64
    assert_type(Time(many.int64), "Time[tuple[int]]")
    assert_type(Time(np.array([2460371.0, 2460372.0]), format="jd"), "Time[tuple[int]]")
    assert_type(Time([2460371.0, 2460372.5], format="jd"), "Time[tuple[int]]")

    first = many[0]
    assert_type(first, "Time[tuple[()]]")
    assert_type(many[1:], "Time[tuple[int]]")
    assert_type(many[many > first], "Time[tuple[int]]")
    assert_type(len(many), int)
    for each in many:
        assert_type(each, "Time[tuple[()]]")
        assert_type(each.jd, float)

    assert_type(t < first, bool)
    assert_type(first <= t, bool)
    assert_type(many > t, Mask)
    assert_type(t >= many, Mask)
    assert_type(many == many, Mask)
    assert_type(t != first, bool)
    assert_type(t == "2024", bool)
    assert t > first and bool((many >= first).all())
    ordered = sorted([t, first])
    assert_type(ordered, "list[Time[tuple[()]]]")

    # Without its shape known, a Time's values are either.
    def either(value: Time) -> float | Doubles:
        return value.jd

    assert either(t) == t.jd
    assert_type(either(many), float | Doubles)
    stamps: dict[Time[tuple[()]], str] = {t: repr(t.utc)}
    assert stamps[Time(t.int64)].endswith(" UTC")


def element_sets() -> None:
    """TLE and ELSET: scalar elements with a scalar epoch, arrays with an array epoch."""
    tle = TLE(LINE1, LINE2)
    later = TLE(LATER, LINE2, strict_validation=True)
    assert_type(tle.line1, str)
    assert_type(tle.satno, int | str)
    assert_type(tle.epoch, "Time[tuple[()]]")
    assert_type(tle.epoch.jd, float)
    assert_type(tle.sma, float)
    assert_type(coe.orp_from_sma(tle.sma), float)
    assert tle.epoch < later.epoch
    text: str = repr(tle)
    assert LINE2 in text

    elset = ELSET(later, tle, satname="ISS (ZARYA)")
    assert_type(elset.size, int)
    assert_type(elset.satname, str | None)
    assert_type(elset.satno, int)
    assert_type(elset.ecc, Doubles)
    assert_type(elset.epoch, "Time[tuple[int]]")
    assert_type(elset.epoch.jd, Doubles)
    assert elset.size == 2 and bool((elset.epoch.jd[1:] > elset.epoch.jd[:-1]).all())
    periods = coe.orp_from_sma(elset.sma)
    assert_type(periods, Doubles)
    anomalies = coe.eca_from_mea(elset.mea, elset.ecc)
    assert anomalies.shape == (2,)
    assert_type(elset._get_header(), str)  # pyright: ignore[reportPrivateUsage]


def native_tables() -> None:
    """Modules whose native table is their only Python surface."""
    table: dict[str, Any] = quiver.__pyx_capi__
    assert table and all(isinstance(name, str) for name in table)
    assert_type(units.deg, float)
    assert abs(units.rev - 360 * units.deg) < 1e-12


def main() -> None:
    scalars()
    arrays()
    state_vectors()
    times()
    element_sets()
    native_tables()


if __name__ == "__main__":
    main()
