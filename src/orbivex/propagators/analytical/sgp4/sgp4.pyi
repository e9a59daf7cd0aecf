# Type stubs of the sgp4 module: SGP4, its status texts, and the native records behind it.
from typing import Any, Literal, TypeAlias, final

import numpy as np

from orbivex.propagators.analytical.sgp4.catalog import Catalog
from orbivex.propagators.analytical.sgp4.tle import ELSET, TLE
from orbivex.time.time import Time

_Doubles: TypeAlias = np.ndarray[tuple[int, ...], np.dtype[np.float64]]
_Codes: TypeAlias = np.ndarray[tuple[int, ...], np.dtype[np.uint8]]
_Int64s: TypeAlias = np.ndarray[tuple[int], np.dtype[np.int64]]
_Gravity: TypeAlias = Literal["wgs72", "wgs72old", "wgs84"]
_Mode: TypeAlias = Literal["i", "a"]
_Pick: TypeAlias = Literal["newest", "nearest"]
_Source: TypeAlias = TLE | ELSET | Catalog | tuple[str, str] | list[str]
_Times: TypeAlias = Time[Any] | np.ndarray[Any, np.dtype[np.datetime64]] | np.datetime64
_Minutes: TypeAlias = float | np.ndarray[Any, np.dtype[np.floating[Any]]] | list[float]

STATUS_TEXT: dict[int, str]

class SGP4:
    def __init__(
        self,
        source: _Source,
        *,
        gravity: _Gravity = "wgs72",
        mode: _Mode = "i",
        ephemeris: bool = False,
    ) -> None: ...
    def __len__(self) -> int: ...
    def __reduce__(self) -> tuple[Any, ...]: ...
    @property
    def status(self) -> np.ndarray[tuple[int], np.dtype[np.uint8]]: ...
    @property
    def epoch_ns(self) -> _Int64s: ...
    @property
    def gravity(self) -> _Gravity: ...
    @property
    def mode(self) -> _Mode: ...
    @property
    def ephemeris(self) -> bool: ...
    @property
    def satellites(self) -> _Int64s | None: ...
    # Dask arrays in, or chunks given: the three results are Dask arrays.
    def propagate(
        self,
        times: _Times | Any | None = None,
        *,
        minutes: _Minutes | Any | None = None,
        grid: bool = True,
        pick: _Pick = "newest",
        threads: int | None = None,
        chunks: int | None = None,
    ) -> tuple[_Doubles, _Doubles, _Codes]: ...

@final
class _Model:
    def __new__(
        cls,
        elements: np.ndarray[tuple[int, int], np.dtype[np.float64]],
        epoch_ns: _Int64s,
        gravity: _Gravity,
        mode: _Mode,
    ) -> _Model: ...
    def __len__(self) -> int: ...
    @property
    def elements(self) -> np.ndarray[tuple[int, int], np.dtype[np.float64]]: ...
    @property
    def epoch_ns(self) -> _Int64s: ...
    @property
    def status(self) -> np.ndarray[tuple[int], np.dtype[np.uint8]]: ...
    @property
    def gravity(self) -> _Gravity: ...
    @property
    def mode(self) -> _Mode: ...
    def _propagate(
        self,
        minutes: np.ndarray[tuple[int], np.dtype[np.float64]] | None,
        times_ns: _Int64s | None,
        sets: _Int64s | Literal["paired"] | None,
        threads: int,
    ) -> tuple[_Doubles, _Doubles, _Codes]: ...

def _parse(
    line1: np.ndarray[tuple[int], np.dtype[np.bytes_]],
    line2: np.ndarray[tuple[int], np.dtype[np.bytes_]],
    /,
) -> tuple[np.ndarray[tuple[int, int], np.dtype[np.float64]], _Int64s]: ...
