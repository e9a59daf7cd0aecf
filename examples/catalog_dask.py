"""Example: a folder of element-set history files read as a Dask computation.

Each file is one task: ``read(path)`` on a worker process gives that file's Catalog (one
partition), which comes back as its columns. The partitions are then written as Parquet
partitioned by satellite, one folder per block of catalogue numbers
(``satno_block=K/part-NNNNN.parquet``, K = satno // block), so that one satellite's whole history
is read back from one folder. The same program runs on a cluster: pass the scheduler's address.

Run: python examples/catalog_dask.py [FOLDER] [--pattern '*.tle*'] [--out DIR] [--workers 2]
     [--scheduler tcp://host:8786]
Without FOLDER, a folder of generated history files is made under output/ first (needs the
repository's tools/make_catalog.py). Needs dask, distributed and pyarrow
(pip install orbivex[dask,arrow]).
"""

import argparse
import gzip
import importlib.util
import shutil
import sys
import time
from pathlib import Path

import dask
import numpy as np
from dask.distributed import Client

from orbivex.propagators.analytical.sgp4.catalog import Catalog, read
from orbivex.propagators.analytical.sgp4.catalog_dask import (
    read_partitioned,
    to_partitioned_parquet,
)

HERE = Path(__file__).resolve().parent
OUTPUT = HERE / "output"


def make_history(folder: Path, files: int = 6, sets: int = 20_000) -> None:
    """Generated history files (the repository's generator), some damaged, one gzipped."""
    spec = importlib.util.spec_from_file_location(
        "make_catalog", HERE.parent / "tools" / "make_catalog.py"
    )
    generator = importlib.util.module_from_spec(spec)
    sys.modules[spec.name] = generator
    spec.loader.exec_module(generator)
    folder.mkdir(parents=True, exist_ok=True)
    for i in range(files):
        text, _ = generator.make_catalog(sets, seed=i, alpha5_share=0.1, damage=3 * (i % 2))
        name = folder / f"history-{i:02d}.tle"
        if i == files - 1:
            (folder / f"{name.name}.gz").write_bytes(gzip.compress(text))
        else:
            name.write_bytes(text)


def main(argv=None) -> None:
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("folder", nargs="?", type=Path)
    parser.add_argument("--pattern", default="*.tle*")
    parser.add_argument("--out", type=Path, default=OUTPUT / "by_satellite")
    parser.add_argument("--workers", type=int, default=2)
    parser.add_argument("--block", type=int, default=10_000)
    parser.add_argument("--scheduler", help="address of a running scheduler")
    args = parser.parse_args(argv)

    folder = args.folder
    if folder is None:
        folder = OUTPUT / "history"
        if not any(folder.glob(args.pattern)):
            make_history(folder)
    paths = sorted(str(p) for p in folder.glob(args.pattern) if p.is_file())
    if not paths:
        sys.exit(f"no files match {args.pattern!r} in {folder}")

    if args.scheduler:
        client = Client(args.scheduler)
    else:
        # A cluster of worker processes on this machine, closed with the client.
        client = Client(
            n_workers=args.workers,
            processes=True,
            threads_per_worker=1,
            host="127.0.0.1",
            dashboard_address=None,
        )
    with client:
        # 1. One task per file: a Catalog per partition, back as columns.
        start = time.perf_counter()
        parts = client.compute(
            [dask.delayed(read)(p, errors="skip", threads=1) for p in paths], sync=True
        )
        seconds = time.perf_counter() - start
        for path, part in zip(paths, parts, strict=True):
            print(f"{Path(path).name:<22} {part!r}")
        everything = Catalog.concat(*parts)
        print(f"together: {everything!r}, read in {seconds:.2f} s")
        for error in everything.rejected[:3]:
            print(f"  rejected: {error}")

        # 2. The same files, read and written as Parquet by satellite blocks on the workers.
        shutil.rmtree(args.out, ignore_errors=True)
        reports = client.compute(
            to_partitioned_parquet(paths, args.out, block=args.block, errors="skip", threads=1),
            sync=True,
        )
        files = sum(len(r["files"]) for r in reports)
        print(f"wrote {files} Parquet files under {args.out}")

    # 3. One satellite's history from its block alone.
    satno = int(everything.satellites[len(everything.satellites) // 2])
    history = read_partitioned(args.out, blocks=[satno // args.block]).satellite(satno)
    assert np.array_equal(history.epoch_ns, everything.satellite(satno).epoch_ns)
    print(f"satellite {satno}: {history!r}")


if __name__ == "__main__":
    main()
