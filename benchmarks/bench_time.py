"""Benchmark of the native Time: per-call cost of what building a TLE's epoch takes, beside
NumPy's datetime64 doing the same jobs and (when installed) python-sgp4's whole TLE parse."""

import sys
import timeit

import numpy as np

from orbivex.time.time import Time

LINE1 = "1 25544U 98067A   24001.12345678  .00016717  00000-0  10270-3 0  9005"
LINE2 = "2 25544  51.6416 247.4627 0006703 130.5360 325.0288 15.72125391563537"


def ns_per_call(stmt, env, number=200_000, repeat=7):
    return min(timeit.repeat(stmt, globals=env, number=number, repeat=repeat)) / number * 1e9


def numpy_epoch(year, day):
    """The same epoch through datetime64: year start plus the day offset in nanoseconds."""
    return np.datetime64(str(year), "ns") + np.timedelta64(int(round((day - 1.0) * 86400e9)), "ns")


def main():
    t = Time("2024")
    env = {"Time": Time, "t": t, "np": np, "numpy_epoch": numpy_epoch}
    rows = [
        ("Time('2024')", "Time('2024')", "np.datetime64('2024', 'ns')"),
        ("t.jd", "t.jd", None),
        ("Time(jd, format='jd')", "Time(2460311.12345678, format='jd')", None),
        (
            "TLE epoch chain",
            "Time(Time('2024').jd - 1.0 + 1.12345678, format='jd')",
            "numpy_epoch(2024, 1.12345678)",
        ),
        ("repr(t.utc)", "repr(t.utc)", "np.datetime_as_string(np.datetime64(0, 'ns'), 'us')"),
        ("t < t", "t < t", None),
    ]
    print(f"{'operation':<24}{'Time ns/call':>14}{'NumPy ns/call':>15}")
    for name, ours, numpy_stmt in rows:
        ours_ns = ns_per_call(ours, env)
        np_ns = f"{ns_per_call(numpy_stmt, env):>15.1f}" if numpy_stmt else f"{'-':>15}"
        print(f"{name:<24}{ours_ns:>14.1f}{np_ns}")

    print(f"\n{'array operation':<24}{'N':>9}{'Time ns/elem':>14}{'NumPy ns/elem':>15}")
    rng = np.random.default_rng(3)
    for n in (1_000, 100_000):
        ns = rng.integers(-(2**62), 2**62, n)
        jd = 2440587.5 + ns / 86400e9
        a = Time(ns)
        env.update(ns=ns, jd=jd, a=a)
        for name, ours, numpy_stmt in [
            ("Time(int64 array)", "Time(ns)", "ns.astype('M8[ns]')"),
            ("a.jd", "a.jd", "2440587.5 + ns / 86400e9"),
            (
                "Time(jd array, 'jd')",
                "Time(jd, format='jd')",
                "np.round((jd - 2440587.5) * 86400e9).astype(np.int64)",
            ),
        ]:
            number = max(10, 2_000_000 // n)
            ours_ns = ns_per_call(ours, env, number=number) / n
            np_ns = ns_per_call(numpy_stmt, env, number=number) / n
            print(f"{name:<24}{n:>9}{ours_ns:>14.2f}{np_ns:>15.2f}")

    try:
        from sgp4.api import Satrec
    except ImportError:
        return 0
    env["Satrec"] = Satrec
    env["LINE1"], env["LINE2"] = LINE1, LINE2
    whole = ns_per_call("Satrec.twoline2rv(LINE1, LINE2)", env, number=50_000)
    print(f"\nfor scale: python-sgp4 Satrec.twoline2rv, whole TLE: {whole:.0f} ns/call")
    return 0


if __name__ == "__main__":
    sys.exit(main())
