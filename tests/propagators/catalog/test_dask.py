"""Catalogues over Dask: a folder of history files read on a cluster of two worker processes,
written as Parquet partitioned by satellite, and the same as a local read; catalogues crossing
processes unchanged."""

import gzip
import importlib.util
import multiprocessing
import os
import pickle
import sys

import numpy as np
import pytest

from .kernel import ROOT
from .test_arrow import assert_identical

catalog = pytest.importorskip("orbivex.propagators.analytical.sgp4.catalog")
pytest.importorskip("dask")
distributed = pytest.importorskip("dask.distributed")
pytest.importorskip("pyarrow")

from orbivex.propagators.analytical.sgp4 import catalog_dask as cd  # noqa: E402

Catalog = catalog.Catalog


@pytest.fixture(scope="module")
def client():
    cluster = distributed.LocalCluster(
        n_workers=2,
        processes=True,
        threads_per_worker=1,
        host="127.0.0.1",
        dashboard_address=None,
        silence_logs=40,
    )
    with cluster, distributed.Client(cluster) as c:
        yield c


@pytest.fixture(scope="module")
def history(tmp_path_factory, generator):
    """Five history files: three-line and two-line text, gzip, damaged sets, Alpha-5."""
    folder = tmp_path_factory.mktemp("history")
    paths = []
    for i, (form, damage) in enumerate([("3le", 0), ("2le", 5), ("0name", 0), ("3le", 9)]):
        text, _ = generator.make_catalog(
            1500 + 300 * i, seed=200 + i, form=form, alpha5_share=0.3, damage=damage
        )
        path = folder / f"day{i}.tle"
        path.write_bytes(text)
        paths.append(path)
    gz = folder / "day4.tle.gz"
    gz.write_bytes(gzip.compress(generator.make_catalog(700, seed=204)[0]))
    paths.append(gz)
    return paths


def local(paths):
    return Catalog.concat(*(catalog.read(p, errors="skip") for p in paths))


def test_reading_on_two_worker_processes_equals_a_local_read(client, history):
    parts = client.compute(cd.read_delayed(history, errors="skip", threads=1), sync=True)
    assert [len(p) for p in parts] == [len(catalog.read(p, errors="skip")) for p in history]
    # Two worker processes, neither of them this one.
    pids = set(client.run(os.getpid).values())
    assert len(pids) == 2 and os.getpid() not in pids
    together, expected = Catalog.concat(*parts), local(history)
    assert_identical(together, expected)
    assert [str(e) for e in together.rejected] == [str(e) for e in expected.rejected]
    assert len(together.rejected) == 14


def test_partitioned_parquet_on_the_cluster(client, history, tmp_path):
    out = tmp_path / "by_satellite"
    reports = client.compute(
        cd.to_partitioned_parquet(history, out, block=50_000, errors="skip", threads=1), sync=True
    )
    expected = local(history)
    assert [r["source"] for r in reports] == [str(p) for p in history]
    assert sum(r["sets"] for r in reports) == len(expected)
    assert sum(len(r["rejected"]) for r in reports) == 14
    files = sorted(f for r in reports for f in r["files"])
    assert files == sorted(str(p) for p in out.rglob("*.parquet"))
    # Each file holds the satellites of its block, readable by read() alone.
    for f in files:
        block = int(f.split("satno_block=")[1].split("/")[0])
        part = catalog.read(f)
        assert len(part) and np.all(part.satno // 50_000 == block)
    assert_identical(cd.read_partitioned(out), expected)
    # Some blocks: the satellites of those blocks, all their sets.
    some = cd.read_partitioned(out, blocks=[2, 0])
    mask = np.isin(expected.satno // 50_000, [0, 2])
    assert 0 < len(some) < len(expected) and len(some) == mask.sum()
    assert some.source_line.tolist() == expected.source_line[mask].tolist()


def test_catalogue_crosses_processes_unchanged(client, history):
    c = catalog.read(history[3], errors="skip")
    back = client.submit(lambda x: x, c, pure=False).result()
    assert_identical(back, c)
    assert [str(e) for e in back.rejected] == [str(e) for e in c.rejected]
    assert client.submit(repr, c).result() == repr(c)
    # A spawned interpreter, not the cluster: the pickle alone carries it.
    ctx = multiprocessing.get_context("spawn")
    with ctx.Pool(1) as pool:
        assert pool.apply(repr, (c,)) == repr(c)
        assert_identical(pickle.loads(pool.apply(pickle.dumps, (c,))), c)


def test_write_partitioned_layout(tmp_path, history):
    c = catalog.read(history[0])
    written = cd.write_partitioned(c, tmp_path, part="p", block=100_000)
    blocks = sorted(set((c.satno // 100_000).tolist()))
    assert written == [str(tmp_path / f"satno_block={b}" / "p.parquet") for b in blocks]
    assert cd.write_partitioned(catalog.parse(""), tmp_path / "none", part="p") == []
    assert len(cd.read_partitioned(tmp_path / "none")) == 0
    with pytest.raises(ValueError, match="block must be at least 1, not 0"):
        cd.write_partitioned(c, tmp_path, part="p", block=0)


def test_clear_error_without_dask(monkeypatch, history):
    monkeypatch.setitem(sys.modules, "dask", None)
    with pytest.raises(ImportError, match=r"needs dask: pip install orbivex\[dask\]"):
        cd.read_delayed(history)


def test_example_runs_on_a_scheduler(client, history, tmp_path, capsys):
    path = ROOT / "examples" / "catalog_dask.py"
    if not path.is_file():
        pytest.skip("tests run without the source tree")
    spec = importlib.util.spec_from_file_location("catalog_dask_example", path)
    example = importlib.util.module_from_spec(spec)
    spec.loader.exec_module(example)
    address = client.scheduler.address
    example.main([str(history[0].parent), "--out", str(tmp_path / "out"), "--scheduler", address])
    out = capsys.readouterr().out
    expected = local(history)
    assert f"together: {expected!r}" in out
    assert "rejected: " in out and f"under {tmp_path / 'out'}" in out
    assert_identical(cd.read_partitioned(tmp_path / "out"), expected)
