"""orbivex: orbital elements, two-line element sets and 3-vector kernels (compiled core)."""

from typing import TYPE_CHECKING

if TYPE_CHECKING:
    __version__: str
else:

    def __getattr__(name):
        # importlib.metadata costs tens of milliseconds to import: only a caller who asks pays.
        if name == "__version__":
            from importlib.metadata import PackageNotFoundError, version

            try:
                value = version("orbivex")
            except PackageNotFoundError:  # a source tree on sys.path, not installed
                value = "0+unknown"
            globals()["__version__"] = value
            return value
        raise AttributeError(f"module {__name__!r} has no attribute {name!r}")
