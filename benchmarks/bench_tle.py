"""Benchmark of the tle module: building a TLE against python-sgp4 and skyfield, building an
ELSET against building its TLEs, array property access against N, and where a TLE's time goes.

Run: python benchmarks/bench_tle.py [--quick]. Figures are best-of-repeats wall times per call.
"""

import argparse
import sys
import timeit
from pathlib import Path

import numpy as np

from orbivex.propagators.analytical.sgp4.tle import ELSET, TLE
from orbivex.state import coe
from orbivex.time.time import Time

SAMPLE = Path(__file__).resolve().parent.parent / "examples" / "data" / "sample_tles.txt"


def sample_pairs() -> list[tuple[str, str]]:
    """The demo's element sets as (line1, line2)."""
    lines = [ln for ln in SAMPLE.read_text().splitlines() if ln and not ln.startswith("#")]
    return [(lines[i + 1], lines[i + 2]) for i in range(0, len(lines), 3)]


def per_call(stmt, number: int, repeat: int) -> float:
    """Best time of one call of `stmt`, in seconds."""
    return min(timeit.repeat(stmt, number=number, repeat=repeat)) / number


def build_all(make, pairs):
    def run():
        for a, b in pairs:
            make(a, b)

    return run


def history(n: int) -> list[TLE]:
    """n element sets of one satellite on distinct epochs, in shuffled order."""
    line1, line2 = sample_pairs()[0]
    days = np.random.default_rng(1).permutation(n) * (300.0 / n) + 1.0
    return [TLE(line1[:20] + f"{d:012.8f}" + line1[32:], line2) for d in days]


def construction(repeat: int, number: int) -> None:
    pairs = sample_pairs()
    rows = [("orbivex TLE(line1, line2)", TLE)]
    try:
        from sgp4.api import Satrec, accelerated

        rows.append((f"sgp4 Satrec.twoline2rv (C++ {accelerated})", Satrec.twoline2rv))
    except ImportError:
        print("  (sgp4 not installed: pip install sgp4)")
    try:
        from skyfield.api import EarthSatellite

        rows.append(("skyfield EarthSatellite(line1, line2)", EarthSatellite))
    except ImportError:
        print("  (skyfield not installed: pip install skyfield)")
    times = {}
    for name, make in rows:
        n = number if "skyfield" not in name else max(1, number // 5)
        times[name] = per_call(build_all(make, pairs), n, repeat) / len(pairs)
    ours = times[rows[0][0]]
    print(f"Building one element set ({len(pairs)} distinct sets, best of {repeat}):")
    for name, t in times.items():
        print(f"  {name:44s} {t * 1e6:8.3f} us   {t / ours:6.2f} x orbivex")


def split(repeat: int, number: int) -> None:
    from orbivex.bodies.bodies import Earth
    from orbivex.utils.representable import Representable

    line1, line2 = sample_pairs()[0]
    empty = per_call(lambda: None, number, repeat)  # the cost of calling a lambda at all

    def cost(stmt, n=number):
        return max(per_call(stmt, n, repeat) - empty, 0.0)

    total = cost(lambda: TLE(line1, line2))
    parts = {
        # The epoch: a Time from the year's text, its Julian date, a Time from the epoch's date.
        "epoch through Time (2 objects)": cost(
            lambda: Time((Time("2024").jd - 1.0) + 100.387, format="jd")
        ),
        "strip/upper/encode of both lines": cost(
            lambda: (line1.strip().upper().encode("ascii"), line2.strip().upper().encode("ascii"))
        ),
        "base allocation and initialiser": cost(lambda: Representable(line1, line2)),
        "Earth.GM and Earth.Re, twice each": cost(
            lambda: (float(Earth.GM), float(Earth.GM), float(Earth.Re), float(Earth.Re))
        ),
    }
    # The six derived elements: the coe kernels per element, through the array functions.
    m = np.linspace(0.0, 6.2, 100_000)
    e = np.full_like(m, 0.001)
    kernels = 0.0
    for f, args in (
        (coe.sma_from_mnm, (np.full_like(m, 0.00113),)),
        (coe.orp_from_sma, (np.full_like(m, 6.8e6),)),
        (coe.eca_from_mea, (m, e)),
        (coe.tra_from_eca, (m, e)),
    ):
        kernels += per_call(lambda: f(*args), 20, repeat) / m.size
    parts["coe kernels (4 of the 6, per element)"] = kernels
    parts["fields, binding and glue (the rest)"] = total - sum(parts.values())
    print("Where one TLE's time goes (parts measured apart from Python, the rest by difference):")
    print(f"  {'whole construction':44s} {total * 1e9:8.1f} ns")
    for name, t in parts.items():
        print(f"  {name:44s} {t * 1e9:8.1f} ns   {t / total:6.1%}")


def elset(repeat: int, n: int) -> None:
    shuffled = history(n)
    in_order = sorted(shuffled, key=lambda t: t.epoch)
    line_pairs = [(t.line1, t.line2) for t in shuffled]
    build = per_call(build_all(TLE, line_pairs), 1, repeat)
    print(f"ELSET of {n} element sets (best of {repeat}):")
    print(f"  building the {n} TLEs                         {build * 1e3:8.3f} ms")
    for name, tles in (("in epoch order", in_order), ("shuffled", shuffled)):
        gather = per_call(lambda: ELSET(*tles, satname="bench"), 1, repeat)
        print(
            f"  ELSET(*tles), {name:14s}                 {gather * 1e3:8.3f} ms"
            f"   {gather / build:6.2f} x building them"
        )


def access(repeat: int) -> None:
    print("Array property access (a new view per read):")
    for n in (10, 1_000, 100_000):
        e = ELSET(*history(n))
        t = per_call(lambda: e.ecc, 20_000, repeat)
        print(f"  N = {n:>7}: ELSET.ecc                       {t * 1e9:8.1f} ns")


def main() -> int:
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--quick", action="store_true", help="fewer repeats and sizes")
    args = parser.parse_args()
    repeat = 3 if args.quick else 7
    number = 200 if args.quick else 1000
    construction(repeat, number)
    print()
    split(repeat, number * 20)
    print()
    elset(repeat, 2_000 if args.quick else 10_000)
    print()
    access(repeat)
    return 0


if __name__ == "__main__":
    sys.exit(main())
