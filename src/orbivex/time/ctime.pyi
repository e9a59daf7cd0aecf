# Type stubs of the native Time class and its UTC view.
#
# Time is generic in its shape, as NumPy arrays are: Time[tuple[()]] holds one instant and
# Time[tuple[int]] a 1-D array of them. The constructor, indexing and iteration infer it, and
# `jd`, `int64` and `datetime64` then give a scalar or an array accordingly; a plain `Time`
# annotation means either. Time cannot be subscripted at run time: write such annotations as
# strings or under `from __future__ import annotations`.
import datetime
from collections.abc import Iterator
from typing import (
    Any,
    Generic,
    Literal,
    Protocol,
    Self,
    SupportsIndex,
    TypeAlias,
    final,
    overload,
    type_check_only,
)

import numpy as np
from typing_extensions import TypeVar, disjoint_base

_AnyShape: TypeAlias = tuple[()] | tuple[int]
_ShapeT_co = TypeVar("_ShapeT_co", bound=_AnyShape, default=_AnyShape, covariant=True)
_ShapeT = TypeVar("_ShapeT", bound=_AnyShape)
_ScalarT_co = TypeVar("_ScalarT_co", covariant=True)
_ArrayT_co = TypeVar("_ArrayT_co", covariant=True)
_ItemT_co = TypeVar("_ItemT_co", covariant=True)

# One instant: ISO text, an int of nanoseconds, a date or datetime, a datetime64 or a NumPy integer.
_Instant: TypeAlias = str | int | datetime.date | np.datetime64 | np.integer[Any]
# A Julian date in days, read with format="jd".
_JulianDate: TypeAlias = float | np.floating[Any] | np.integer[Any]
# An element of a list or tuple of instants.
_Element: TypeAlias = _Instant | Time[tuple[()]]
_Mask: TypeAlias = np.ndarray[tuple[int], np.dtype[np.bool_]]

# A list, seen only through a method that reads it: list is invariant, and a list[str] must
# pass as a list of instants. (Sequence would also admit a str, which is one instant.)
@type_check_only
class _ListOf(Protocol[_ItemT_co]):
    def pop(self, index: SupportsIndex = -1, /) -> _ItemT_co: ...
    def __len__(self) -> int: ...

@final
class UTC:
    """The instants of a Time shown as UTC calendar text, to the microsecond."""

# The getters of `jd`, `int64` and `datetime64`: their type follows the Time's shape, which a
# property cannot express, so they are declared as descriptors (the run-time objects are the
# type's getset descriptors).
@final
@type_check_only
class _ShapedGetter(Generic[_ScalarT_co, _ArrayT_co]):
    @overload
    def __get__(self, instance: None, owner: type[Any], /) -> Self: ...
    @overload
    def __get__(
        self, instance: Time[tuple[()]], owner: type[Any] | None = None, /
    ) -> _ScalarT_co: ...
    @overload
    def __get__(
        self, instance: Time[tuple[int]], owner: type[Any] | None = None, /
    ) -> _ArrayT_co: ...
    @overload
    def __get__(
        self, instance: Time[Any], owner: type[Any] | None = None, /
    ) -> _ScalarT_co | _ArrayT_co: ...

@disjoint_base
class Time(Generic[_ShapeT_co]):
    # A Time is returned as it is, with its shape.
    @overload
    def __new__(
        cls, value: Time[_ShapeT], format: None = None, scale: str | None = None
    ) -> Time[_ShapeT]: ...
    @overload
    def __new__(
        cls, value: _Instant, format: None = None, scale: str | None = None
    ) -> Time[tuple[()]]: ...
    # A list, tuple or 1-D array of instants. (A 0-D array gives one instant, which a checker
    # cannot tell from the array's type.)
    @overload
    def __new__(
        cls,
        value: np.ndarray[Any, np.dtype[Any]] | _ListOf[_Element] | tuple[_Element, ...],
        format: None = None,
        scale: str | None = None,
    ) -> Time[tuple[int]]: ...
    @overload
    def __new__(
        cls, value: _JulianDate, format: Literal["jd"], scale: str | None = None
    ) -> Time[tuple[()]]: ...
    @overload
    def __new__(
        cls,
        value: np.ndarray[Any, np.dtype[Any]] | _ListOf[_JulianDate] | tuple[_JulianDate, ...],
        format: Literal["jd"],
        scale: str | None = None,
    ) -> Time[tuple[int]]: ...
    jd: _ShapedGetter[float, np.ndarray[tuple[int], np.dtype[np.float64]]]
    int64: _ShapedGetter[int, np.ndarray[tuple[int], np.dtype[np.int64]]]
    datetime64: _ShapedGetter[np.datetime64, np.ndarray[tuple[int], np.dtype[np.datetime64]]]
    @property
    def utc(self) -> UTC: ...
    @property
    def shape(self) -> _ShapeT_co: ...
    @property
    def is_scalar(self) -> bool: ...
    def __bool__(self) -> bool: ...
    # len, indexing and iteration raise TypeError for a scalar Time.
    def __len__(self) -> int: ...
    @overload
    def __getitem__(self, key: int | np.integer[Any], /) -> Time[tuple[()]]: ...
    @overload
    def __getitem__(
        self,
        key: slice | np.ndarray[Any, np.dtype[np.integer[Any] | np.bool_]] | list[int] | list[bool],
        /,
    ) -> Time[tuple[int]]: ...
    def __iter__(self) -> Iterator[Time[tuple[()]]]: ...
    # Two single instants compare to a bool; an array on either side gives a bool array.
    @overload
    def __lt__(self: Time[tuple[()]], other: Time[tuple[()]], /) -> bool: ...
    @overload
    def __lt__(self: Time[tuple[int]], other: Time[Any], /) -> _Mask: ...
    @overload
    def __lt__(self: Time[tuple[()]], other: Time[tuple[int]], /) -> _Mask: ...
    @overload
    def __lt__(self: Time[Any], other: Time[Any], /) -> bool | _Mask: ...
    @overload
    def __le__(self: Time[tuple[()]], other: Time[tuple[()]], /) -> bool: ...
    @overload
    def __le__(self: Time[tuple[int]], other: Time[Any], /) -> _Mask: ...
    @overload
    def __le__(self: Time[tuple[()]], other: Time[tuple[int]], /) -> _Mask: ...
    @overload
    def __le__(self: Time[Any], other: Time[Any], /) -> bool | _Mask: ...
    @overload
    def __gt__(self: Time[tuple[()]], other: Time[tuple[()]], /) -> bool: ...
    @overload
    def __gt__(self: Time[tuple[int]], other: Time[Any], /) -> _Mask: ...
    @overload
    def __gt__(self: Time[tuple[()]], other: Time[tuple[int]], /) -> _Mask: ...
    @overload
    def __gt__(self: Time[Any], other: Time[Any], /) -> bool | _Mask: ...
    @overload
    def __ge__(self: Time[tuple[()]], other: Time[tuple[()]], /) -> bool: ...
    @overload
    def __ge__(self: Time[tuple[int]], other: Time[Any], /) -> _Mask: ...
    @overload
    def __ge__(self: Time[tuple[()]], other: Time[tuple[int]], /) -> _Mask: ...
    @overload
    def __ge__(self: Time[Any], other: Time[Any], /) -> bool | _Mask: ...
    # == and != compare instants as < does, but anything that is not a Time is simply unequal:
    # a mask for two Times of which one holds an array, a bool otherwise. The overlap of the
    # mask overloads with the last one is meant (an array Time is also an object).
    @overload
    def __eq__(self: Time[tuple[()]], other: Time[tuple[()]], /) -> bool: ...
    @overload
    def __eq__(  # type: ignore[overload-overlap]
        self: Time[tuple[int]], other: Time[Any], /
    ) -> _Mask: ...
    @overload
    def __eq__(  # type: ignore[overload-overlap]
        self: Time[tuple[()]], other: Time[tuple[int]], /
    ) -> _Mask: ...
    @overload
    def __eq__(self: Time[Any], other: Time[Any], /) -> bool | _Mask: ...
    @overload
    def __eq__(self, other: object, /) -> bool: ...
    @overload
    def __ne__(self: Time[tuple[()]], other: Time[tuple[()]], /) -> bool: ...
    @overload
    def __ne__(  # type: ignore[overload-overlap]
        self: Time[tuple[int]], other: Time[Any], /
    ) -> _Mask: ...
    @overload
    def __ne__(  # type: ignore[overload-overlap]
        self: Time[tuple[()]], other: Time[tuple[int]], /
    ) -> _Mask: ...
    @overload
    def __ne__(self: Time[Any], other: Time[Any], /) -> bool | _Mask: ...
    @overload
    def __ne__(self, other: object, /) -> bool: ...
    def __hash__(self) -> int: ...
    # Pickled as Time(int64 nanoseconds).
    def __reduce__(
        self,
    ) -> tuple[type[Time], tuple[int | np.ndarray[tuple[int], np.dtype[np.int64]]]]: ...
