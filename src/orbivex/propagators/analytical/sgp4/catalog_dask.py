"""Catalogues beyond one machine: a folder of history files read as a Dask computation.

A full history (about 2x10^8 element sets, 28 GB of text) is read file by file: each Dask task
reads one file with ``read`` into a Catalog of its own (one partition), and a Catalog travels
between processes as its columns (pickled as arrays, no Python object per set). Each partition
is then written as Parquet partitioned by satellite: the rows of each block of catalogue
numbers go to ``satno_block=K/part-NNNNN.parquet`` (K = satno // block, hive style), so that
the history of a satellite is in one folder. Every file is a Parquet catalogue that ``read``
reads; ``read_partitioned`` gathers a folder (or some blocks of it) into one Catalog::

    from dask.distributed import Client
    client = Client(n_workers=2)                      # or a cluster's scheduler address
    tasks = to_partitioned_parquet(sorted(folder.glob("*.tle.gz")), "by_satellite",
                                   errors="skip", threads=1)
    report = client.compute(tasks, sync=True)         # per file: sets, rejected, files
    iss = read_partitioned("by_satellite", blocks=[2]).satellite(25544)

Dask and distributed are optional (``pip install orbivex[dask]``); Parquet needs pyarrow.
"""

from __future__ import annotations

import importlib
import os
from collections.abc import Iterable, Sequence
from pathlib import Path
from typing import TYPE_CHECKING, Any, TypedDict

import numpy as np

if TYPE_CHECKING:
    from orbivex.propagators.analytical.sgp4._catalog_py import TLEFormatError
    from orbivex.propagators.analytical.sgp4.catalog import Catalog

__all__ = [
    "PartitionReport",
    "read_delayed",
    "read_partitioned",
    "to_partitioned_parquet",
    "write_partitioned",
]

_Path = str | os.PathLike[str]

#: Satellite numbers per block of the partitioned layout, by default.
BLOCK = 10_000


def _dask() -> Any:
    # Imported by name: Dask is optional, and the type checkers must pass without it.
    try:
        return importlib.import_module("dask")
    except ImportError as e:
        raise ImportError("reading over Dask needs dask: pip install orbivex[dask]") from e


def read_delayed(paths: Iterable[_Path], **options: Any) -> list[Any]:
    """One dask.delayed ``read(path, **options)`` per path: a Catalog per file when computed
    (on any worker: the Catalog comes back as its columns)."""
    from orbivex.propagators.analytical.sgp4.catalog import read

    delayed = _dask().delayed(read, pure=True)
    return [delayed(os.fspath(p), **options) for p in paths]


def _block_path(folder: _Path, block: int, part: str) -> Path:
    return Path(folder) / f"satno_block={block}" / f"{part}.parquet"


def write_partitioned(
    catalog: Catalog, folder: _Path, *, part: str, block: int = BLOCK
) -> list[str]:
    """Writes the rows of each block of `block` satellite numbers of `catalog` to
    ``folder/satno_block=K/{part}.parquet`` (K = satno // block), making the folders; returns
    the paths written, by block. The rejected sets are not written (as Parquet keeps none)."""
    from orbivex.propagators.analytical.sgp4 import _catalog_arrow

    if block < 1:
        raise ValueError(f"block must be at least 1, not {block}")
    table = _catalog_arrow.to_arrow(catalog)
    blocks = np.asarray(catalog.satno) // block  # rows are sorted by satellite
    starts = np.flatnonzero(np.diff(blocks, prepend=blocks[:1] - 1)).tolist()
    ends = [*starts[1:], len(blocks)] if starts else []
    written = []
    for lo, hi in zip(starts, ends, strict=True):
        path = _block_path(folder, int(blocks[lo]), part)
        path.parent.mkdir(parents=True, exist_ok=True)
        _catalog_arrow.write_table(table.slice(lo, hi - lo), os.fspath(path))
        written.append(os.fspath(path))
    return written


class PartitionReport(TypedDict):
    """What the task of one source file did."""

    source: str
    sets: int
    rejected: list[TLEFormatError]
    files: list[str]


def _read_and_write(
    source: str, folder: str, part: str, block: int, options: dict[str, Any]
) -> PartitionReport:
    from orbivex.propagators.analytical.sgp4.catalog import read

    catalog = read(source, **options)
    files = write_partitioned(catalog, folder, part=part, block=block)
    return {"source": source, "sets": len(catalog), "rejected": catalog.rejected, "files": files}


def to_partitioned_parquet(
    paths: Sequence[_Path], folder: _Path, *, block: int = BLOCK, **options: Any
) -> list[Any]:
    """One dask.delayed task per source file: ``read(path, **options)``, then its rows written
    by write_partitioned as part ``part-NNNNN`` (NNNNN the file's place in `paths`). Each gives
    a PartitionReport when computed. The folder should be new or hold an earlier run over the
    same list of files (a part of the same number is replaced)."""
    task = _dask().delayed(_read_and_write, pure=True)
    target = os.fspath(folder)
    return [
        task(os.fspath(p), target, f"part-{i:05d}", block, dict(options))
        for i, p in enumerate(paths)
    ]


def read_partitioned(
    folder: _Path, *, blocks: Iterable[int] | None = None, threads: int | None = None
) -> Catalog:
    """One Catalog of every Parquet file of a partitioned folder, or of the blocks given:
    Catalog.concat of the files in name order (rows of equal satellite and epoch keep the
    order of the parts)."""
    from orbivex.propagators.analytical.sgp4.catalog import Catalog, read

    root = Path(folder)
    if blocks is None:
        dirs = sorted(root.glob("satno_block=*"), key=lambda d: int(d.name.partition("=")[2]))
    else:
        dirs = [root / f"satno_block={int(k)}" for k in sorted(set(blocks))]
    files = [f for d in dirs for f in sorted(d.glob("*.parquet"))]
    return Catalog.concat(*(read(f, format="parquet", threads=threads) for f in files))
