"""The Python half of the catalog module: TLEFormatError, sources (paths, compressed files, file
objects), format detection, and the tables of readers and writers for the formats handled in
Python.

A reader is called as ``reader(data, *, source, errors, checksums, threads)`` with the whole
input (bytes-like, or str when a text file object gave str) and the name of the source for its
errors. It returns a Catalog, or ``(fields, rejected)``: fields a dict of 1-D columns in the
published units (see ``Catalog._from_fields``), rejected a list of TLEFormatError in input
order; with ``errors="raise"`` it raises the first TLEFormatError itself. A writer is called as
``writer(catalog, target)`` with a path or a file object (``write_output`` writes bytes to
either). Two- and three-line text is read and written natively.
"""

from __future__ import annotations

import bz2
import gzip
import io
import lzma
import os
import zlib
from collections.abc import Callable
from typing import TYPE_CHECKING, Any, Protocol, TypeAlias

if TYPE_CHECKING:
    import numpy as np

    from orbivex.propagators.analytical.sgp4.catalog import Catalog

__all__ = ["READERS", "WRITERS", "TLEFormatError", "detect_format", "load", "write_output"]

_MODULE = "orbivex.propagators.analytical.sgp4.catalog"


class TLEFormatError(ValueError):
    """An element set (or record) refused: where it is and why.

    The message is ``"source:line:column: reason"``, for example
    ``"active.tle:1234:69: line 2 checksum is 7, computed 3"``: `line` is the 1-based line of the
    source at fault (line 1 or line 2 of the set, or the line that belongs to no set), `column`
    the 1-based column where its form breaks, `reason` the text after them and `code` the
    reason's identifier ("checksum", "satno_mismatch", "missing_line2", "stray_line", ...).
    """

    __module__ = _MODULE

    source: str
    line: int
    column: int
    reason: str
    code: str

    def __init__(self, source: str, line: int, column: int, reason: str, code: str = "") -> None:
        super().__init__(f"{source}:{line}:{column}: {reason}")
        self.source = source
        self.line = line
        self.column = column
        self.reason = reason
        self.code = code

    def __reduce__(self) -> tuple[type[TLEFormatError], tuple[str, int, int, str, str]]:
        return type(self), (self.source, self.line, self.column, self.reason, self.code)


Data: TypeAlias = "bytes | bytearray | memoryview | str"
Fields: TypeAlias = "dict[str, np.ndarray[Any, Any] | list[Any]]"


class Reader(Protocol):
    def __call__(
        self, data: Data, *, source: str, errors: str, checksums: bool, threads: int
    ) -> Catalog | tuple[Fields, list[TLEFormatError]]: ...


Writer: TypeAlias = "Callable[[Catalog, Any], None]"

#: Readers of the formats read in Python, by format name.
READERS: dict[str, Reader] = {}
#: Writers of the formats written in Python, by format name.
WRITERS: dict[str, Writer] = {}

_DESCRIPTIONS = {
    "omm-csv": "OMM as CSV",
    "omm-json": "OMM as JSON",
    "omm-xml": "OMM as XML",
    "omm-kvn": "OMM as KVN",
    "parquet": "Parquet",
}


def unsupported(format: str, source: str | None) -> None:
    """Raises the ValueError for a format without a reader (source given) or writer."""
    what = f"{_DESCRIPTIONS.get(format, format)} (format {format!r})"
    if source is None:
        raise ValueError(f"cannot write {what}: WRITERS holds no writer for it")
    raise ValueError(f"{source}: cannot read {what}: READERS holds no reader for it")


# ---- sources --------------------------------------------------------------------------------

_BLOCK = 1 << 20


def _inflate(path: str | bytes, make: Callable[[], Any]) -> bytearray:
    """The whole content of a compressed file, inflated block by block into one buffer that
    grows in place (no second copy of the text); concatenated streams are read one after
    another, as the command-line tools read them."""
    out = bytearray()
    decompressor = make()
    with open(path, "rb") as f:
        while block := f.read(_BLOCK):
            out += decompressor.decompress(block)
            while decompressor.eof and decompressor.unused_data:
                rest = decompressor.unused_data
                decompressor = make()
                out += decompressor.decompress(rest)
    if not decompressor.eof:
        raise EOFError(f"{os.fsdecode(path)}: compressed data ends before its end marker")
    return out


_INFLATERS: dict[str, Callable[[], Any]] = {
    ".gz": lambda: zlib.decompressobj(wbits=31),
    ".bz2": bz2.BZ2Decompressor,
    ".xz": lzma.LZMADecompressor,
}


def load(source: object, threads: int = 1) -> tuple[Data, str]:
    """The content of `source` and its name for errors: a path (str, bytes, os.PathLike; a .gz,
    .bz2 or .xz suffix inflated) is read whole, a plain file natively on up to `threads`
    threads; a file object is read with its read()."""
    if isinstance(source, (str, bytes, os.PathLike)):
        path: str | bytes = os.fspath(source)
        name = os.fsdecode(path)
        inflate = _INFLATERS.get(os.path.splitext(name)[1].lower())
        if inflate is not None:
            return _inflate(path, inflate), name
        import importlib

        data = importlib.import_module(_MODULE)._read_file(path, threads)
        if data is not None:
            return data, name
        with open(path, "rb") as f:
            return f.read(), name
    read = getattr(source, "read", None)
    if not callable(read):
        raise TypeError(
            f"read() needs a path or a file object, not {type(source).__name__!r}"
            " (parse() reads text)"
        )
    data = read()
    if not isinstance(data, (str, bytes, bytearray, memoryview)):
        raise TypeError(f"the file object's read() returned {type(data).__name__!r}")
    label = getattr(source, "name", None)
    return data, label if isinstance(label, str) else f"<{type(source).__name__}>"


def detect_format(data: Data) -> str:
    """The format of `data` from its first bytes: Parquet's magic number, JSON, XML, OMM as KVN
    or as CSV with its header, and otherwise two- or three-line text."""
    head = data[:4096]
    text = head.encode("utf-8", "replace") if isinstance(head, str) else bytes(head)
    if text.startswith(b"PAR1"):
        return "parquet"
    text = text.removeprefix(b"\xef\xbb\xbf").lstrip()
    if text[:1] in (b"[", b"{"):
        return "omm-json"
    if text[:1] == b"<":
        return "omm-xml"
    if text.startswith(b"CCSDS_OMM_VERS"):
        return "omm-kvn"
    first = text.split(b"\n", 1)[0].upper()
    if b"," in first and any(k in first for k in (b"NORAD_CAT_ID", b"OBJECT_NAME", b"EPOCH")):
        return "omm-csv"
    return "tle"


# ---- orbit mean-element messages ------------------------------------------------------------


def _omm_reader(format: str) -> Reader:
    """The reader of one OMM form: the native module reads the records into a Catalog."""

    def read(data: Data, *, source: str, errors: str, checksums: bool, threads: int) -> Catalog:
        import importlib

        module = importlib.import_module(_MODULE)
        result: Catalog = module._read_omm(data, format, source, errors, threads)
        return result

    read.__name__ = read.__qualname__ = f"read_{format.replace('-', '_')}"
    return read


def _omm_writer(format: str) -> Writer:
    """The writer of one OMM form: the native module makes the bytes, write_output puts them."""

    def write(catalog: Catalog, target: Any) -> None:
        import importlib

        write_output(target, importlib.import_module(_MODULE)._write_omm(catalog, format))

    write.__name__ = write.__qualname__ = f"write_{format.replace('-', '_')}"
    return write


# The four forms are read and written natively, through these tables like any other format.
_OMM_FORMS = ("omm-csv", "omm-json", "omm-xml", "omm-kvn")
READERS.update({f: _omm_reader(f) for f in _OMM_FORMS})
WRITERS.update({f: _omm_writer(f) for f in _OMM_FORMS})


# ---- targets --------------------------------------------------------------------------------

_OPENERS: dict[str, Callable[[str | bytes], Any]] = {
    ".gz": lambda p: gzip.open(p, "wb", compresslevel=6),
    ".bz2": lambda p: bz2.open(p, "wb"),
    ".xz": lambda p: lzma.open(p, "wb"),
}


def write_output(target: object, data: bytes) -> None:
    """Writes `data` to a path (compressed by a .gz, .bz2 or .xz suffix) or to a file object,
    as str (UTF-8) to one in text mode."""
    if isinstance(target, (str, bytes, os.PathLike)):
        path: str | bytes = os.fspath(target)
        opener = _OPENERS.get(os.path.splitext(os.fsdecode(path))[1].lower())
        if opener is None:
            with open(path, "wb") as f:
                f.write(data)
        else:
            with opener(path) as f:
                f.write(data)
        return
    write = getattr(target, "write", None)
    if not callable(write):
        raise TypeError(f"write() needs a path or a file object, not {type(target).__name__!r}")
    if isinstance(target, io.TextIOBase):
        write(data.decode("utf-8"))
        return
    try:
        write(data)
    except TypeError:
        write(data.decode("utf-8"))


# ---- formats read and written in Python ------------------------------------------------------

from orbivex.propagators.analytical.sgp4 import _catalog_arrow  # noqa: E402

READERS["parquet"] = _catalog_arrow.read_parquet
WRITERS["parquet"] = _catalog_arrow.write_parquet
