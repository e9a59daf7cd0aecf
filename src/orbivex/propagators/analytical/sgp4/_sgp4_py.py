"""Python half of the sgp4 module: SGP4 (sources, times, ephemeris selection, pickling and
Dask arrays) over the native records and loops of _Model."""

from __future__ import annotations

import gc
import os
from types import ModuleType
from typing import Any

import numpy as np

_native: Any = None  # the native module, set by _bind when it loads

_Array = np.ndarray[Any, Any]


def _bind(module: ModuleType) -> None:
    global _native
    _native = module
    SGP4.__module__ = module.__name__


GRAVITIES = ("wgs72", "wgs72old", "wgs84")
MODES = ("i", "a")
PICKS = ("newest", "nearest")
# grids of fewer times than this run over sets (a vector holds up to 8 lanes)
FEW_TIMES = 8


def _tle_types() -> tuple[type[Any], type[Any]]:
    from orbivex.propagators.analytical.sgp4.tle import ELSET, TLE

    return TLE, ELSET


def _catalog_type() -> type[Any]:
    from orbivex.propagators.analytical.sgp4.catalog import Catalog

    return Catalog


def _text(lines: list[str]) -> _Array:
    """Lines as a str array, short ones padded with blanks to the 69 columns."""
    return np.array([line.ljust(69) for line in lines])


def _lines_of(source: object) -> tuple[_Array, _Array, _Array | None, _Array | None]:
    """(line1, line2) as bytes arrays, the group starts of an ELSET or Catalog's satellites
    (None for sets that are not histories), and the satellite numbers of the groups."""
    TLE, ELSET = _tle_types()
    if isinstance(source, TLE):
        return _text([source.line1]), _text([source.line2]), None, None
    if isinstance(source, ELSET):
        # the element list of an ELSET (in epoch order) is reachable only as its referent
        tles = next(
            (r for r in gc.get_referents(source) if isinstance(r, list) and len(r) == source.size),
            None,
        )
        if tles is None or not all(isinstance(t, TLE) for t in tles):
            raise TypeError("SGP4() could not read the element sets of this ELSET")
        tles = sorted(tles, key=lambda t: t.epoch.int64)
        l1 = _text([t.line1 for t in tles])
        l2 = _text([t.line2 for t in tles])
        return l1, l2, np.array([0], np.int64), None
    if isinstance(source, _catalog_type()):
        if len(source) and (source.line1 == "").any():
            raise ValueError("SGP4() needs the two-line text of every set of the catalogue")
        satno = source.satno
        sats = source.satellites
        starts = np.searchsorted(satno, sats, side="left").astype(np.int64)
        return source.line1, source.line2, starts, sats
    if (
        isinstance(source, (tuple, list))
        and len(source) == 2
        and all(isinstance(line, str) for line in source)
    ):
        return _text([source[0].strip()]), _text([source[1].strip()]), None, None
    raise TypeError(
        "SGP4() takes a TLE, an ELSET, a Catalog or two lines (line1, line2), "
        f"not {type(source).__name__!r}"
    )


def _threads(threads: object) -> int:
    if threads is None:
        return os.cpu_count() or 1
    if isinstance(threads, bool) or not isinstance(threads, (int, np.integer)):
        raise TypeError(f"threads must be an int or None, not {type(threads).__name__!r}")
    if threads < 1:
        raise ValueError(f"threads must be at least 1, not {threads}")
    return int(threads)


def _is_dask(x: object) -> bool:
    return type(x).__module__.startswith("dask.") and hasattr(x, "chunks")


def _dask() -> tuple[Any, Any]:
    import importlib

    return importlib.import_module("dask.array"), importlib.import_module("dask").delayed


def _times_ns(times: Any) -> tuple[_Array, bool]:
    """Instants as int64 ns since 1970 UTC (NaT as the int64 minimum), and whether scalar."""
    from orbivex.time.time import Time

    if isinstance(times, Time):
        ns = np.asarray(times.int64, np.int64)
        return ns.reshape(-1), ns.ndim == 0
    a = np.asarray(times)
    if a.dtype.kind != "M":
        raise TypeError(
            f"times must be a Time or an array of datetime64, not {type(times).__name__!r}"
        )
    ns = a.astype("datetime64[ns]").view(np.int64)
    return ns.reshape(-1), ns.ndim == 0


def _minutes(minutes: Any) -> tuple[_Array, bool]:
    a = np.asarray(minutes, dtype=np.float64)
    if a.ndim > 1:
        raise ValueError("minutes must be a number or a 1-D array")
    return a.reshape(-1), a.ndim == 0


class SGP4:
    """SGP4/SDP4 initialised once for every element set of `source`: a TLE, an ELSET (an
    ephemeris of its satellite), a Catalog, or two lines (line1, line2).

    gravity: the Earth model the sets were fitted with, 'wgs72' (the usual), 'wgs72old' or
    'wgs84'. mode: 'i' (improved) or 'a' (the operational mode). ephemeris: propagate a
    Catalog as the histories of its satellites (an ELSET always is one).

    Sets that fail to initialise are kept: `status` holds their codes (STATUS_TEXT), and
    their samples carry the codes and NaN."""

    __slots__ = ("_model", "_starts", "_satellites", "_ephemeris")
    _model: Any
    _starts: Any
    _satellites: Any
    _ephemeris: bool

    def __init__(
        self, source: object, *, gravity: str = "wgs72", mode: str = "i", ephemeris: bool = False
    ) -> None:
        if gravity not in GRAVITIES:
            raise ValueError(f"gravity must be 'wgs72', 'wgs72old' or 'wgs84', not {gravity!r}")
        if mode not in MODES:
            raise ValueError(f"mode must be 'i' or 'a', not {mode!r}")
        line1, line2, starts, sats = _lines_of(source)
        if ephemeris and starts is None:
            starts, sats = np.array([0], np.int64), None
        elements, epoch_ns = _native._parse(line1, line2)
        _, ELSET = _tle_types()
        histories = bool(ephemeris) or isinstance(source, ELSET)
        self._setup(
            _native._Model(elements, epoch_ns, gravity, mode),
            starts if histories else None,
            sats if histories else None,
        )

    def _setup(self, model: Any, starts: _Array | None, satellites: _Array | None) -> None:
        self._model = model
        self._ephemeris = starts is not None
        self._starts = None if starts is None else np.asarray(starts, np.int64)
        self._satellites = satellites
        if self._ephemeris and len(model) == 0:
            raise ValueError("an ephemeris needs at least one element set")

    @classmethod
    def _restore(cls, model: Any, starts: _Array | None, satellites: _Array | None) -> SGP4:
        self = cls.__new__(cls)
        self._setup(model, starts, satellites)
        return self

    def __reduce__(self) -> tuple[Any, ...]:
        return (SGP4._restore, (self._model, self._starts, self._satellites))

    def __len__(self) -> int:
        return len(self._model)

    def __repr__(self) -> str:
        kind = f", ephemeris of {len(self._starts)}" if self._ephemeris else ""
        return f"<SGP4 of {len(self)} element sets{kind}, {self.gravity}, mode {self.mode!r}>"

    @property
    def status(self) -> Any:
        """Status code of each set's initialisation (uint8, 0 for success)."""
        return self._model.status

    @property
    def epoch_ns(self) -> Any:
        """Exact epoch of each set (int64 ns since 1970 UTC), from its text."""
        return self._model.epoch_ns

    @property
    def gravity(self) -> Any:
        return self._model.gravity

    @property
    def mode(self) -> Any:
        return self._model.mode

    @property
    def ephemeris(self) -> bool:
        """True when propagate() follows satellites' histories (an ELSET, ephemeris=True)."""
        return self._ephemeris

    @property
    def satellites(self) -> _Array | None:
        """Satellite numbers of an ephemeris' rows (int64), or None."""
        if not self._ephemeris:
            return None
        if self._satellites is None:
            return None
        return np.asarray(self._satellites)

    def propagate(
        self,
        times: Any = None,
        *,
        minutes: Any = None,
        grid: bool = True,
        pick: str = "newest",
        threads: int | None = None,
        chunks: int | None = None,
    ) -> tuple[Any, Any, Any]:
        """(r, v, status) at `times` (a Time or datetime64 array) or at `minutes` from each
        set's epoch: TEME positions in m and velocities in m/s (float64, NaN where a sample
        failed) and status codes (uint8, 0 for success, STATUS_TEXT for the others).

        Sets x times: grid=True gives (S, T, 3) and (S, T); grid=False pairs set i with time
        i, (S, 3) and (S,). A scalar time drops the time axis. An ephemeris propagates each
        time from one set of its satellite: pick='newest' the newest at or before it (the
        earliest for times before that), pick='nearest' the nearest; shapes (T, 3) and (T,)
        for an ELSET, (satellites, T, 3) for a catalogue. threads: None for every core.
        chunks: sets (satellites of an ephemeris) per task of Dask arrays; a Dask array of
        times gives Dask arrays chunked as it is."""
        if (times is None) == (minutes is None):
            raise TypeError("propagate() takes one of times and minutes")
        if pick not in PICKS:
            raise ValueError(f"pick must be 'newest' or 'nearest', not {pick!r}")
        nthreads = _threads(threads)
        if chunks is not None:
            return self._dask_by_sets(times, minutes, grid, pick, nthreads, chunks)
        given = times if minutes is None else minutes
        if _is_dask(given):
            return self._dask_by_times(times, minutes, grid, pick, nthreads)
        if minutes is not None:
            if self._ephemeris:
                raise TypeError("an ephemeris is propagated at times, not minutes")
            t, scalar = _minutes(minutes)
            kw = {"minutes": t, "times_ns": None}
        else:
            t, scalar = _times_ns(times)
            kw = {"minutes": None, "times_ns": t}
        model = self._model
        if self._ephemeris:
            sets = self._pick(t, pick)
            r, v, s = model._propagate(
                kw["minutes"],
                None if kw["times_ns"] is None else np.tile(t, len(self._starts)),
                sets.reshape(-1),
                nthreads,
            )
            shape = (len(self._starts), len(t))
            r, v, s = r.reshape(shape + (3,)), v.reshape(shape + (3,)), s.reshape(shape)
            if self._satellites is None:
                r, v, s = r[0], v[0], s[0]
            if scalar:
                r, v, s = r[..., 0, :], v[..., 0, :], s[..., 0]
            return r, v, s
        if not grid:
            if scalar:
                t = np.repeat(t, len(model))
            elif len(t) != len(model):
                raise ValueError(
                    f"grid=False pairs set i with time i: {len(model)} sets, {len(t)} times"
                )
            if minutes is not None:
                r, v, s = model._propagate(t, None, "paired", nthreads)
            else:
                r, v, s = model._propagate(None, t, "paired", nthreads)
            return r, v, s
        if 0 < len(t) < FEW_TIMES:
            # too few times to fill the lanes of one set: sets share them, one time at a time
            parts = [
                model._propagate(
                    np.full(len(model), x) if minutes is not None else None,
                    None if minutes is not None else np.full(len(model), x),
                    "paired",
                    nthreads,
                )
                for x in t
            ]
            r, v, s = (np.stack([p[k] for p in parts], axis=1) for k in range(3))
        else:
            r, v, s = model._propagate(kw["minutes"], kw["times_ns"], None, nthreads)
        if scalar:
            r, v, s = r[:, 0], v[:, 0], s[:, 0]
        return r, v, s

    def _pick(self, t: _Array, pick: str) -> _Array:
        """Row of the set each satellite propagates each time from: (groups, T) int64."""
        epochs = self._model.epoch_ns
        bounds = np.append(self._starts, len(epochs))
        out = np.empty((len(self._starts), len(t)), np.int64)
        for g in range(len(self._starts)):
            a, b = bounds[g], bounds[g + 1]
            e = epochs[a:b]
            after = np.searchsorted(e, t, side="right")  # sets at or before each time
            newest = np.maximum(after - 1, 0)
            if pick == "nearest":
                later = np.minimum(after, len(e) - 1)
                # the distance as float: int64 differences can overflow for NaT
                d_new = np.abs(t.astype(np.float64) - e[newest].astype(np.float64))
                d_later = np.abs(e[later].astype(np.float64) - t.astype(np.float64))
                newest = np.where(d_later < d_new, later, newest)
            out[g] = a + newest
        return out

    # ---- Dask ---------------------------------------------------------------------------

    def _dask_by_times(
        self, times: Any, minutes: Any, grid: bool, pick: str, threads: int
    ) -> tuple[Any, Any, Any]:
        da, delayed = _dask()

        given = times if minutes is None else minutes
        if given.ndim != 1:
            raise ValueError("a Dask array of times must be 1-D")
        if not grid and not self._ephemeris:
            raise ValueError("grid=False takes times as a NumPy array or a Time")
        lead: tuple[int, ...] = (len(self._starts),) if self._ephemeris else (len(self),)
        if self._ephemeris and self._satellites is None:
            lead = ()
        parts: dict[str, list[Any]] = {"r": [], "v": [], "s": []}
        for block in given.to_delayed().ravel():
            n = given.chunks[0][len(parts["r"])]

            def run(b: Any, self: SGP4 = self) -> tuple[Any, Any, Any]:
                kw = {"minutes": b} if minutes is not None else {"times": b}
                return self.propagate(grid=grid, pick=pick, threads=threads, **kw)

            res = delayed(run, pure=True)(block)
            shape = lead + (n,)
            parts["r"].append(da.from_delayed(res[0], shape + (3,), np.float64))
            parts["v"].append(da.from_delayed(res[1], shape + (3,), np.float64))
            parts["s"].append(da.from_delayed(res[2], shape, np.uint8))
        axis = len(lead)
        return tuple(da.concatenate(parts[k], axis=axis) for k in ("r", "v", "s"))

    def _split(self, begin: int, end: int) -> SGP4:
        """The sets (satellites of an ephemeris) [begin, end) as an SGP4 of their own."""
        m = self._model
        if self._ephemeris:
            bounds = np.append(self._starts, len(m))
            a, b = bounds[begin], bounds[end]
            starts = self._starts[begin:end] - a
            sats = None if self._satellites is None else self._satellites[begin:end]
        else:
            a, b, starts, sats = begin, end, None, None
        model = _native._Model(m.elements[a:b], m.epoch_ns[a:b], m.gravity, m.mode)
        return SGP4._restore(model, starts, sats)

    def _dask_by_sets(
        self, times: Any, minutes: Any, grid: bool, pick: str, threads: int, chunks: object
    ) -> tuple[Any, Any, Any]:
        # Arguments are checked before Dask is imported, so that they fail alike without it.
        if isinstance(chunks, bool) or not isinstance(chunks, (int, np.integer)) or chunks < 1:
            raise ValueError(f"chunks must be a positive int, not {chunks!r}")
        if _is_dask(times if minutes is None else minutes):
            raise ValueError("chunks splits the sets: give the times as a NumPy array or a Time")
        if self._ephemeris and self._satellites is None:
            raise ValueError("chunks splits a catalogue: this ephemeris has one satellite")
        da, delayed = _dask()
        rows = len(self._starts) if self._ephemeris else len(self)
        kw = {"minutes": minutes} if minutes is not None else {"times": times}
        # the shape of one row's result, from a propagation of the first row alone
        probe: Any = (
            self._split(0, 1).propagate(grid=grid, pick=pick, threads=1, **kw) if rows else None
        )
        parts: dict[str, list[Any]] = {"r": [], "v": [], "s": []}
        for begin in range(0, rows, int(chunks)):
            end = min(rows, begin + int(chunks))
            part = self._split(begin, end)
            if not grid and not self._ephemeris:
                sel = (times if minutes is None else np.asarray(minutes))[begin:end]
                kw = {"minutes": sel} if minutes is not None else {"times": sel}
            res = delayed(
                lambda p, kw=kw: p.propagate(grid=grid, pick=pick, threads=threads, **kw),
                pure=True,
            )(part)
            for i, key in enumerate(("r", "v", "s")):
                shape = (end - begin,) + probe[i].shape[1:]
                parts[key].append(da.from_delayed(res[i], shape, probe[i].dtype))
        return tuple(da.concatenate(parts[k], axis=0) for k in ("r", "v", "s"))
