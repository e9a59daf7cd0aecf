"""Benchmark of reading a folder of element-set files over Dask: sets per second on one and on
two worker processes (a LocalCluster, one thread each), against read() in this process.

A folder of generated history files (tools/make_catalog.py, three-line text) is read three ways:
each file read on a worker and counted there (the catalogues stay on the workers); each file's
Catalog sent back to the client (its columns cross processes); and each file read and written as
Parquet by satellite blocks on the workers (to_partitioned_parquet). The local rows read the
same files one after another in this process.

Run: python benchmarks/benchcatalog_dask.py [--files 8] [--sets 250000] [--repeats 3] [--quick]
Figures are the best of the repeats (wall time), in sets per second.
"""

import argparse
import os
import shutil
import tempfile
from pathlib import Path

import dask
from dask.distributed import Client
from timing import best_wall as best
from timing import load_generator

from orbivex.propagators.analytical.sgp4 import catalog
from orbivex.propagators.analytical.sgp4 import catalog_dask as cd

ROOT = Path(__file__).resolve().parent.parent


def main(argv=None):
    ap = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    ap.add_argument("--files", type=int, default=8)
    ap.add_argument("--sets", type=int, default=250_000, help="sets per file")
    ap.add_argument("--repeats", type=int, default=3)
    ap.add_argument("--quick", action="store_true", help="4 files of 50000 sets, 2 repeats")
    args = ap.parse_args(argv)
    if args.quick:
        args.files, args.sets, args.repeats = 4, 50_000, 2
    gen = load_generator()
    print(f"load average {os.getloadavg()[0]:.1f} on {os.cpu_count()} CPUs", flush=True)
    with tempfile.TemporaryDirectory() as tmp:
        folder = Path(tmp) / "history"
        folder.mkdir()
        paths = []
        for i in range(args.files):
            text, _ = gen.make_catalog(args.sets, seed=10 + i, form="3le")
            path = folder / f"history-{i:03d}.tle"
            path.write_bytes(text)
            paths.append(str(path))
        total = args.files * args.sets
        size = sum(os.path.getsize(p) for p in paths)
        print(f"{args.files} files of {args.sets} sets, {total} sets, {size / 1e6:.0f} MB")
        out = Path(tmp) / "by_satellite"

        def local(threads):
            return lambda: [len(catalog.read(p, threads=threads)) for p in paths]

        rows = {
            "local read(), threads=1": [best(local(1), args.repeats)],
            "local read(), threads=2": [best(local(2), args.repeats)],
        }
        cluster_rows = {
            "read, counted on the workers": [],
            "read, catalogues sent back": [],
            "read and written as Parquet": [],
        }
        for workers in (1, 2):
            with Client(
                n_workers=workers,
                processes=True,
                threads_per_worker=1,
                host="127.0.0.1",
                dashboard_address=None,
                silence_logs=40,
            ) as client:

                def counted():
                    tasks = [dask.delayed(len)(c) for c in cd.read_delayed(paths, threads=1)]
                    assert sum(client.compute(tasks, sync=True)) == total

                def sent_back():
                    parts = client.compute(cd.read_delayed(paths, threads=1), sync=True)
                    assert sum(map(len, parts)) == total

                def parquet():
                    shutil.rmtree(out, ignore_errors=True)
                    tasks = cd.to_partitioned_parquet(paths, out, threads=1)
                    assert sum(r["sets"] for r in client.compute(tasks, sync=True)) == total

                for name, fn in zip(cluster_rows, (counted, sent_back, parquet), strict=True):
                    cluster_rows[name].append(best(fn, args.repeats))

    print()
    print(f"{'':34} {'1 worker':>14} {'2 workers':>14} {'speed-up':>9}")
    for name, (seconds,) in rows.items():
        print(f"{name:34} {total / seconds:14,.0f}")
    for name, (one, two) in cluster_rows.items():
        print(f"{name:34} {total / one:14,.0f} {total / two:14,.0f} {one / two:8.2f}x")
    print("(sets per second, best of", args.repeats, "runs)")


if __name__ == "__main__":
    main()
