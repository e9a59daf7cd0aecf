"""Catalogues to and from Arrow, pandas and Parquet.

``Catalog.to_arrow()`` gives a pyarrow Table of every column as stored: int64, float64 and
string columns (``name`` nullable: None for a two-line set), and ``epoch`` (the instants as
``timestamp[ns, tz=UTC]``) before ``epoch_ns``. ``Catalog.from_arrow(table)`` is its exact
inverse, bit for bit; ``Catalog.to_pandas()`` the same columns as a DataFrame. Parquet files are
such a table (written with zstd compression): ``catalog.write(path, "parquet")``, and ``read``
knows them by their magic number.

The rejected sets are not written: they describe a source that was read, not element sets, and
a catalogue read from Parquet (or made by from_arrow) has none. Everything else comes back as
it was, ``source_line`` included (it keeps naming lines of the original text).

pyarrow and pandas are optional (``pip install orbivex[arrow]``) and imported when first used.
"""

from __future__ import annotations

import io
import os
from typing import TYPE_CHECKING, Any

import numpy as np

if TYPE_CHECKING:
    from orbivex.propagators.analytical.sgp4._catalog_py import Data
    from orbivex.propagators.analytical.sgp4.catalog import Catalog

__all__ = ["from_arrow", "read_parquet", "to_arrow", "to_pandas", "write_parquet", "write_table"]

_EXTRA = "pip install orbivex[arrow]"
_PARQUET_COMPRESSION = "zstd"
# Dictionary pages only where values repeat: the lines, numbers and floats are nearly unique,
# and trying a dictionary on them costs time for nothing.
_PARQUET_DICTIONARY = ["name", "classification", "intldes"]


def _import(module: str, what: str) -> Any:
    """`module` imported, or ImportError naming the extra that brings it."""
    import importlib

    try:
        return importlib.import_module(module)
    except ImportError as e:
        top = module.partition(".")[0]
        raise ImportError(f"{what} needs {top}: {_EXTRA}") from e


def _catalog_type() -> type[Catalog]:
    # Imported here: the catalog module imports _catalog_py, which registers this module.
    from orbivex.propagators.analytical.sgp4.catalog import Catalog

    return Catalog


_layout_cache: dict[str, np.dtype[Any]] = {}


def _layout() -> dict[str, np.dtype[Any]]:
    """Each stored column's name and dtype, in order, as an empty catalogue pickles them: the
    native table is the one list of columns."""
    if not _layout_cache:
        from orbivex.propagators.analytical.sgp4.catalog import parse

        state = parse("", format="tle").__reduce__()[1][0]
        _layout_cache.update((name, column.dtype) for name, column in state.items())
    return _layout_cache


def _columns(catalog: Catalog) -> dict[str, np.ndarray[Any, Any]]:
    """The stored columns of `catalog` (text as fixed-width bytes), without copies."""
    columns: dict[str, np.ndarray[Any, Any]] = catalog.__reduce__()[1][0]
    return columns


def _epoch_type(pa: Any) -> Any:
    return pa.timestamp("ns", tz="UTC")


def to_arrow(catalog: Catalog) -> Any:  # a pyarrow.Table
    """The catalogue as a pyarrow Table (see the module docstring)."""
    pa = _import("pyarrow", "Catalog.to_arrow")
    names: list[str] = []
    arrays: list[Any] = []
    for name, column in _columns(catalog).items():
        kind = column.dtype.kind
        if name == "epoch_ns":
            names.append("epoch")
            arrays.append(
                pa.array(column.view("M8[ns]"), type=pa.timestamp("ns")).cast(_epoch_type(pa))
            )
        if kind in "if":
            array = pa.array(column)
        elif kind == "O":
            array = pa.array(column, type=pa.string(), from_pandas=False)
        else:
            # Fixed-width bytes lose their NUL padding on the way: the text as shown.
            array = pa.array(column).cast(pa.string())
        names.append(name)
        arrays.append(array)
    return pa.Table.from_arrays(arrays, names=names)


def to_pandas(catalog: Catalog) -> Any:  # a pandas.DataFrame
    """The catalogue as a pandas DataFrame: the columns of to_arrow, epoch as
    datetime64[ns, UTC], text as pandas holds str, names as objects (None for two-line
    sets)."""
    pd = _import("pandas", "Catalog.to_pandas")
    data: dict[str, Any] = {}
    for name, column in _columns(catalog).items():
        if name == "epoch_ns":
            data["epoch"] = pd.DatetimeIndex(column.view("M8[ns]")).tz_localize("UTC")
        if column.dtype.kind == "S":
            data[name] = getattr(catalog, name)  # the str form
        elif column.dtype.kind == "O":
            data[name] = pd.Series(column, dtype=object, copy=True)  # None stays None
        else:
            data[name] = column
    return pd.DataFrame(data, copy=True)


# ---- from Arrow -------------------------------------------------------------------------------


def _as_table(pa: Any, table: Any) -> Any:
    if isinstance(table, pa.Table):
        return table
    if isinstance(table, pa.RecordBatch):
        return pa.Table.from_batches([table])
    if hasattr(table, "__arrow_c_stream__"):
        return pa.table(table)
    raise TypeError(f"from_arrow() needs a pyarrow Table, not {type(table).__name__!r}")


def _type_name(dtype: np.dtype[Any], name: str) -> str:
    if name == "name":
        return "string (nullable)"
    return {"i": "int64", "f": "float64"}.get(dtype.kind, "string")


def _fixed_bytes(pa: Any, pc: Any, name: str, array: Any, width: int) -> np.ndarray[Any, Any]:
    """An Arrow string array as NUL-padded bytes of `width`, the form a text column holds."""
    n = len(array)
    if n == 0:
        return np.empty(0, dtype=f"S{width}")
    if not pc.all(pc.string_is_ascii(array)).as_py():
        row = pc.index(pc.string_is_ascii(array), False).as_py()
        raise ValueError(f"column {name!r} row {row}: the text is not ASCII")
    lengths = pc.binary_length(array)
    longest = pc.max(lengths).as_py()
    if longest > width:
        row = pc.index(pc.greater(lengths, width), True).as_py()
        raise ValueError(f"column {name!r} row {row}: {longest} characters, more than {width}")
    padded = pc.utf8_rpad(array, width=width, padding="\x00")
    index = np.int64 if pa.types.is_large_string(padded.type) else np.int32
    offsets = np.frombuffer(padded.buffers()[1], dtype=index, count=padded.offset + 1)
    return np.frombuffer(padded.buffers()[2], dtype=f"S{width}", count=n, offset=int(offsets[-1]))


def from_arrow(source: object) -> Catalog:
    """The Catalog of a table of to_arrow's columns (see Catalog.from_arrow)."""
    pa = _import("pyarrow", "Catalog.from_arrow")
    pc = _import("pyarrow.compute", "Catalog.from_arrow")
    table = _as_table(pa, source)
    layout = _layout()
    present = list(table.column_names)
    repeated = sorted({n for n in present if present.count(n) > 1})
    if repeated:
        raise ValueError(f"from_arrow: column {repeated[0]!r} appears more than once")
    missing = [n for n in layout if n not in present]
    if missing:
        raise ValueError(f"from_arrow: the table has no column {', '.join(map(repr, missing))}")
    unknown = [n for n in present if n not in layout and n != "epoch"]
    if unknown:
        raise ValueError(
            f"from_arrow: unknown column {', '.join(map(repr, unknown))}"
            " (a catalogue has exactly the columns of Catalog.to_arrow)"
        )

    columns: dict[str, np.ndarray[Any, Any]] = {}
    for name, dtype in layout.items():
        chunked = table.column(name)
        array = chunked.combine_chunks() if chunked.num_chunks != 1 else chunked.chunk(0)
        t = array.type
        kind = dtype.kind
        ok = (
            pa.types.is_int64(t)
            if kind == "i"
            else pa.types.is_float64(t)
            if kind == "f"
            else pa.types.is_string(t) or pa.types.is_large_string(t)
        )
        if not ok:
            raise ValueError(f"from_arrow: column {name!r} is {t}, not {_type_name(dtype, name)}")
        if name != "name" and array.null_count:
            row = pc.index(pc.is_null(array), True).as_py()
            raise ValueError(f"from_arrow: column {name!r} row {row} is null")
        if kind in "if":
            columns[name] = array.to_numpy(zero_copy_only=False)
        elif kind == "O":
            columns[name] = array.to_numpy(zero_copy_only=False)
        else:
            try:
                columns[name] = _fixed_bytes(pa, pc, name, array, dtype.itemsize)
            except ValueError as e:
                raise ValueError(f"from_arrow: {e}") from None

    epoch_ns = columns["epoch_ns"]
    if "epoch" in present:
        epoch = table.column("epoch")
        t = epoch.type
        if not (pa.types.is_timestamp(t) and t.unit == "ns" and t.tz in (None, "UTC")):
            raise ValueError(f"from_arrow: column 'epoch' is {t}, not timestamp[ns, tz=UTC]")
        if epoch.null_count:
            raise ValueError("from_arrow: column 'epoch' has nulls")
        instants = epoch.cast(pa.int64()).to_numpy()
        if not np.array_equal(instants, epoch_ns):
            row = int(np.flatnonzero(instants != epoch_ns)[0])
            raise ValueError(f"from_arrow: row {row}: epoch and epoch_ns disagree")

    satno = columns["satno"]
    if len(satno) > 1:
        later = satno[1:] > satno[:-1]
        same = satno[1:] == satno[:-1]
        if not np.all(later | (same & (epoch_ns[1:] >= epoch_ns[:-1]))):
            order = np.lexsort((epoch_ns, satno))  # stable
            columns = {name: column[order] for name, column in columns.items()}
    return _catalog_type()._from_columns(columns)


# ---- Parquet ----------------------------------------------------------------------------------


def read_parquet(data: Data, *, source: str, errors: str, checksums: bool, threads: int) -> Catalog:
    """The reader of Parquet written by Catalog.write: a file of to_arrow's table. `errors` and
    `checksums` have nothing to act on (the rows were checked when first read): a file that is
    no such table raises ValueError naming the source."""
    pa = _import("pyarrow", "reading Parquet")
    pq = _import("pyarrow.parquet", "reading Parquet")
    if isinstance(data, str):
        raise TypeError(f"{source}: Parquet is binary: read it from a path or a binary file")
    try:
        table = pq.read_table(pa.BufferReader(pa.py_buffer(data)), use_threads=threads > 1)
    except (pa.ArrowException, OSError) as e:
        raise ValueError(f"{source}: not a readable Parquet file: {e}") from e
    try:
        return from_arrow(table)
    except ValueError as e:
        raise ValueError(f"{source}: {e}") from None


def write_table(table: Any, where: Any) -> None:
    """Writes to_arrow's `table` as Parquet to a path (str) or a binary file object."""
    pq = _import("pyarrow.parquet", "writing Parquet")
    pq.write_table(
        table, where, compression=_PARQUET_COMPRESSION, use_dictionary=_PARQUET_DICTIONARY
    )


def write_parquet(catalog: Catalog, target: Any) -> None:
    """The writer of Parquet: to_arrow's table to a path (compressed again by a .gz, .bz2 or
    .xz suffix, if asked) or a binary file object."""
    from orbivex.propagators.analytical.sgp4 import _catalog_py

    _import("pyarrow.parquet", "writing Parquet")
    table = to_arrow(catalog)
    if isinstance(target, (str, bytes, os.PathLike)):
        path = os.fsdecode(os.fspath(target))
        if os.path.splitext(path)[1].lower() not in _catalog_py._OPENERS:
            write_table(table, path)
            return
        sink = io.BytesIO()
        write_table(table, sink)
        _catalog_py.write_output(path, sink.getvalue())
        return
    if isinstance(target, io.TextIOBase):
        raise TypeError("Parquet is binary: write() needs a path or a binary file object")
    if not callable(getattr(target, "write", None)):
        raise TypeError(f"write() needs a path or a file object, not {type(target).__name__!r}")
    sink = io.BytesIO()
    write_table(table, sink)
    target.write(sink.getvalue())
