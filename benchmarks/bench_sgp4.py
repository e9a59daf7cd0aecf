"""Benchmark of SGP4/SDP4. First the kernels on one thread: propagations per second of the one-lane
model and of the batch loops (sgp4_loop.cpp) against python-sgp4's SatrecArray.sgp4(jd, fr),
and initialisation time per set, all measured in one process.

Cases: 10^4 sets (80 % near-Earth, the rest 24 h, 12 h resonant, 12 h circular and transfer
orbits) at 10^3 times over a day, and one near-Earth set at 10^6 times. Times are CPU time of
the calling thread (every loop here runs on it), the minimum over repeats, so that other work
on a shared machine does not count; our loops write into preallocated arrays, SatrecArray
allocates its own.

Then the module as users call it (--module for that part alone): SGP4.propagate on one and
two threads against python-sgp4's SatrecArray and Satrec.sgp4 loop and skyfield, on the same
two cases (sets read from generated two-line text), initialisation per set, and Dask on one
and two worker processes. These rates are wall-clock time (the module runs worker threads),
the best of a few repeats."""

import ctypes
import math
import subprocess
import sys
import tempfile
import time
from pathlib import Path

import numpy as np

HERE = Path(__file__).resolve().parent
P = ctypes.c_void_p
I64 = ctypes.c_int64
ISAS = {1: "generic", 2: "avx2", 3: "avx512"}
JD = (2433281.5 + 25123.0, 0.4567)  # the sets' epoch


def raw_loops(workdir):
    lib = Path(workdir) / "sgp4_loop.so"
    cmd = [
        "c++",
        "-std=c++20",
        "-O2",
        "-ffp-contract=off",
        "-fno-fast-math",
        "-shared",
        "-fPIC",
        "-I",
        str(HERE.parent / "native"),
        str(HERE / "sgp4_loop.cpp"),
        "-o",
        str(lib),
    ]
    subprocess.run(cmd, check=True)
    dll = ctypes.CDLL(str(lib))
    dll.loop_record_size.restype = I64
    dll.loop_init.restype = I64
    dll.loop_init.argtypes = [I64, ctypes.c_double, ctypes.c_double, P, P]
    dll.loop_scalar.argtypes = [I64, P, I64, P, P, P, P]
    dll.loop_grid_times.argtypes = [I64, P, I64, P, P, P, P, ctypes.c_int]
    dll.loop_grid_sets.argtypes = [I64, P, I64, P, P, P, P, ctypes.c_int]
    return dll


def element_sets(n, seed=3):
    """Rows (bstar, ndot, nddot, ecco, argpo, inclo, mo, no_kozai, nodeo) of valid sets."""
    rng = np.random.default_rng(seed)
    rpm = 2 * math.pi / 1440.0
    rows = np.zeros((n, 9))
    for i in range(n):
        argp, mo, node = rng.uniform(0, 2 * math.pi, 3)
        if i < 0.8 * n:
            rows[i] = [
                rng.uniform(1e-5, 5e-4),
                0,
                0,
                rng.uniform(0, 0.02),
                argp,
                rng.uniform(0.3, 1.9),
                mo,
                rng.uniform(12, 15.8) * rpm,
                node,
            ]
            continue
        e, inc, revs = [
            (rng.uniform(0, 0.01), rng.uniform(0, 0.2), rng.uniform(0.98, 1.02)),
            (rng.uniform(0.6, 0.74), 1.1, rng.uniform(2.0, 2.01)),
            (rng.uniform(0, 0.02), 0.96, rng.uniform(2.0, 2.01)),
            (rng.uniform(0.7, 0.75), rng.uniform(0.05, 0.5), rng.uniform(2.2, 2.4)),
        ][i % 4]
        rows[i] = [1e-4, 0, 0, e, argp, inc, mo, revs * rpm, node]
    return rows


def best_time(fn, repeat):
    best = math.inf
    for _ in range(repeat):
        t0 = time.thread_time()
        fn()
        best = min(best, time.thread_time() - t0)
    return best


def best_wall(fn, repeat):
    best = math.inf
    for _ in range(repeat):
        t0 = time.perf_counter()
        fn()
        best = min(best, time.perf_counter() - t0)
    return best


def tle_text(rows):
    """Two-line text of the element rows, all at JD, as python-sgp4 writes it."""
    from sgp4.api import WGS72, Satrec
    from sgp4.exporter import export_tle

    epoch_days = (JD[0] - 2433281.5) + JD[1]
    lines = []
    for i, row in enumerate(rows):
        sat = Satrec()
        sat.sgp4init(WGS72, "i", 10000 + i % 80000, epoch_days, *row)
        lines.extend(export_tle(sat))
    return "\n".join(lines) + "\n"


def module_tables(rows):
    from sgp4.api import Satrec, SatrecArray

    from orbivex.propagators.analytical.sgp4.catalog import parse
    from orbivex.propagators.analytical.sgp4.sgp4 import SGP4

    text = tle_text(rows)
    cat = parse(text, threads=1)
    lines = list(zip(cat.line1, cat.line2, strict=True))
    model = SGP4(cat)
    sats = [Satrec.twoline2rv(a, b) for a, b in lines]
    try:
        from skyfield.api import EarthSatellite, load

        ts = load.timescale(builtin=True)
    except ImportError:
        ts = None

    def case(label, sets, t, repeat):
        sub = SGP4(parse("".join(f"{a}\n{b}\n" for a, b in lines[:sets]), threads=1))
        n, nt = len(sub), len(t)
        array = SatrecArray(sats[:n])
        jd = np.full(nt, sats[0].jdsatepoch)
        fr = sats[0].jdsatepochF + t / 1440.0
        rates = {}
        for threads in (1, 2):
            rates[f"SGP4.propagate, {threads} thread{'s' * (threads > 1)}"] = (
                n * nt / best_wall(lambda th=threads: sub.propagate(minutes=t, threads=th), repeat)
            )
        rates["python-sgp4 SatrecArray.sgp4"] = (
            n * nt / best_wall(lambda: array.sgp4(jd, fr), repeat)
        )
        # the per-sample loops are slow: a slice of the samples, as a rate
        few_sets, few_times = min(n, 20), min(nt, 5000)

        def loop():
            for sat in sats[:few_sets]:
                for j in range(few_times):
                    sat.sgp4(jd[j], fr[j])

        rates["python-sgp4 Satrec.sgp4 loop"] = few_sets * few_times / best_wall(loop, 1)
        if ts is not None:
            times = ts.tt_jd(jd[:few_times] + 69.184 / 86400.0, fr[:few_times])
            sky = [EarthSatellite(a, b, ts=ts) for a, b in lines[:few_sets]]
            rates["skyfield EarthSatellite.at"] = (
                few_sets * few_times / best_wall(lambda: [s.at(times) for s in sky], 1)
            )
        print(f"\n{label}: propagations per second (module, wall clock)")
        base = rates["python-sgp4 SatrecArray.sgp4"]
        for name, rate in rates.items():
            print(f"  {name:34s} {rate / 1e6:8.2f} M/s  {rate / base:6.1f}x")
        one = rates["SGP4.propagate, 1 thread"]
        print(f"  two threads over one: {rates['SGP4.propagate, 2 threads'] / one:.2f}x")

    case(
        "10^4 sets (80 % near-Earth) x 10^3 times",
        len(lines),
        np.linspace(0.0, 1440.0, 1000, endpoint=False),
        3,
    )
    case("1 near-Earth set x 10^6 times", 1, np.linspace(-1440.0, 1440.0, 1_000_000), 5)

    init = best_wall(lambda: SGP4(cat), 7)
    parse_time = best_wall(lambda: parse(text, threads=1), 3)
    twoline = best_wall(lambda: [Satrec.twoline2rv(a, b) for a, b in lines], 3)
    print(f"\ninitialisation of {len(lines)} sets")
    print(
        f"  SGP4(catalog)                      {init * 1e3:8.2f} ms  "
        f"({init / len(lines) * 1e6:.3f} us a set)"
    )
    print(f"  catalog parse of the text          {parse_time * 1e3:8.2f} ms")
    print(f"  python-sgp4 Satrec.twoline2rv      {twoline * 1e3:8.2f} ms")
    dask_table(model)


def dask_table(model):
    try:
        import dask.array as da
        import distributed
    except ImportError:
        print("\nDask: not installed")
        return
    base = int(model.epoch_ns[0])
    instants = base + np.arange(1000, dtype=np.int64) * 86_400_000_000
    times = da.from_array(instants.view("datetime64[ns]"), chunks=250)
    n = len(model) * len(instants)
    print("\nDask, 10^4 sets x 10^3 times (chunks of 250 times; of 2500 sets)")
    for workers in (1, 2):
        with (
            distributed.LocalCluster(
                n_workers=workers, threads_per_worker=1, processes=True, dashboard_address=None
            ) as cluster,
            distributed.Client(cluster) as client,
        ):
            for label, call in (
                ("times", lambda: model.propagate(times, threads=1)),
                (
                    "sets",
                    lambda: model.propagate(
                        instants.view("datetime64[ns]"), threads=1, chunks=2500
                    ),
                ),
            ):
                client.compute(call(), sync=True)
                wall = best_wall(lambda c=call: client.compute(c(), sync=True), 2)
                print(
                    f"  {workers} worker process{'es' * (workers > 1)}, by {label:5s}  "
                    f"{n / wall / 1e6:8.2f} M/s"
                )


def main():
    if "--module" in sys.argv[1:]:
        module_tables(element_sets(10_000))
        return 0
    try:
        from sgp4.api import WGS72, Satrec, SatrecArray, accelerated
    except ImportError:
        print("python-sgp4 is not installed (pip install sgp4)")
        return 1
    if not accelerated:
        print("python-sgp4 runs without its compiled propagator; its rates would mislead")
        return 1

    with tempfile.TemporaryDirectory() as tmp:
        dll = raw_loops(tmp)
        print(f"dispatch target: {ISAS[dll.loop_best_isa()]}")
        size = dll.loop_record_size()
        epoch_days = (JD[0] - 2433281.5) + JD[1]

        def ours(rows):
            recs = np.zeros((len(rows), size), np.uint8)
            rows = np.ascontiguousarray(rows)
            return recs, lambda: dll.loop_init(
                len(rows), JD[0], JD[1], rows.ctypes.data, recs.ctypes.data
            )

        def theirs(rows):
            sats = []
            for row in rows:
                sat = Satrec()
                sat.sgp4init(WGS72, "i", 0, epoch_days, *row)
                sats.append(sat)
            return sats

        def grid_case(label, rows, t, repeat):
            n, nt = len(rows), len(t)
            recs, init = ours(rows)
            init()
            sats = theirs(rows)
            array = SatrecArray(sats)
            jd = np.full(nt, sats[0].jdsatepoch)
            fr = sats[0].jdsatepochF + t / 1440.0
            minutes = (jd - sats[0].jdsatepoch) * 1440.0 + (fr - sats[0].jdsatepochF) * 1440.0
            r, v = np.empty((n, nt, 3)), np.empty((n, nt, 3))
            status = np.empty((n, nt), np.uint8)
            args = (
                n,
                recs.ctypes.data,
                nt,
                minutes.ctypes.data,
                r.ctypes.data,
                v.ctypes.data,
                status.ctypes.data,
            )
            rates = {
                "SatrecArray.sgp4": n * nt / best_time(lambda: array.sgp4(jd, fr), repeat),
                "one-lane loop": n * nt / best_time(lambda: dll.loop_scalar(*args), repeat),
            }
            for isa in range(1, dll.loop_best_isa() + 1):
                rates[f"batch over times, {ISAS[isa]}"] = (
                    n * nt / best_time(lambda isa=isa: dll.loop_grid_times(*args, isa), repeat)
                )
            if n > 1:
                best = dll.loop_best_isa()
                rates[f"batch over sets, {ISAS[best]}"] = (
                    n * nt / best_time(lambda: dll.loop_grid_sets(*args, best), repeat)
                )
            print(f"\n{label}: propagations per second on one thread")
            base = rates["SatrecArray.sgp4"]
            for name, rate in rates.items():
                print(f"  {name:28s} {rate / 1e6:8.2f} M/s  {rate / base:6.1f}x")

        rows = element_sets(10_000)
        grid_case(
            "10^4 sets (80 % near-Earth) x 10^3 times",
            rows,
            np.linspace(0.0, 1440.0, 1000, endpoint=False),
            repeat=3,
        )
        grid_case(
            "1 near-Earth set x 10^6 times",
            rows[:1],
            np.linspace(-1440.0, 1440.0, 1_000_000),
            repeat=5,
        )

        _, init = ours(rows)
        t_ours = best_time(init, 7) / len(rows)
        t_theirs = best_time(lambda: theirs(rows), 3) / len(rows)
        print("\ninitialisation per set (10^4 sets)")
        print(
            f"  ours                         {t_ours * 1e6:8.3f} us  (10^4 sets: "
            f"{t_ours * 1e4 * 1e3:.2f} ms)"
        )
        print(
            f"  python-sgp4 Satrec.sgp4init  {t_theirs * 1e6:8.3f} us  (from Python, one call "
            "per set)"
        )
    module_tables(rows)
    return 0


if __name__ == "__main__":
    sys.exit(main())
