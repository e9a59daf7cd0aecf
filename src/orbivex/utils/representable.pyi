# Type stubs of the native Representable base type.
import sys
from collections.abc import Mapping
from typing import Any, TypeVar

_T = TypeVar("_T")

if sys.version_info >= (3, 12):
    from typing_extensions import disjoint_base as _disjoint_base
else:
    # Before 3.12 CPython does not count an instance dict pointer as a change of layout, so
    # Representable is no disjoint base there.
    def _disjoint_base(cls: _T) -> _T: ...

@_disjoint_base
class Representable:
    __dict__: dict[str, Any]
    def __init__(self, *args: Any, **kwargs: Any) -> None: ...
    def _create_formatted_form(self, data: Mapping[Any, Any], /) -> str: ...
    def _create_formatted_frame(self, data: Mapping[Any, Mapping[Any, Any]], /) -> str: ...
    def _format_as_property(self, title: str, /) -> str: ...
