"""Binds entries of a module's native table (`__pyx_capi__`) from Python with ctypes, by name and
exact signature text, as a native consumer binds them."""

import ctypes
import datetime
import importlib
from types import ModuleType

__all__ = [
    "capsule_name",
    "capsule_pointer",
    "table",
    "entry_pointer",
    "bind_function",
    "bind_variable",
]

_CAPSULE = type(datetime.datetime_CAPI)

_api = ctypes.pythonapi
_api.PyCapsule_GetName.restype = ctypes.c_char_p
_api.PyCapsule_GetName.argtypes = [ctypes.py_object]
_api.PyCapsule_GetPointer.restype = ctypes.c_void_p
_api.PyCapsule_GetPointer.argtypes = [ctypes.py_object, ctypes.c_char_p]


def _module(module):
    return importlib.import_module(module) if isinstance(module, str) else module


def capsule_name(capsule) -> str | None:
    """The capsule's name (the signature text), or None for an unnamed capsule."""
    if type(capsule) is not _CAPSULE:
        raise TypeError(f"not a capsule: {capsule!r}")
    raw = _api.PyCapsule_GetName(capsule)
    return None if raw is None else raw.decode("utf-8")


def capsule_pointer(capsule) -> int:
    """The capsule's pointer as an int (opened with the capsule's own name)."""
    name = capsule_name(capsule)
    ptr = _api.PyCapsule_GetPointer(capsule, None if name is None else name.encode("utf-8"))
    if not ptr:
        raise ValueError("capsule holds a NULL pointer")
    return ptr


def table(module) -> dict[str, str]:
    """The module's native table as {entry name: signature text}, in publication order."""
    capi = _module(module).__pyx_capi__
    return {name: capsule_name(capsule) for name, capsule in capi.items()}


def entry_pointer(module, name: str, signature: str) -> int:
    """Address of entry `name` of `module` (a module or its import name) whose signature text
    must equal `signature` character for character: KeyError when the entry is missing,
    TypeError when its text differs (with both texts in the message)."""
    mod: ModuleType = _module(module)
    capsule = mod.__pyx_capi__.get(name)
    if capsule is None:
        raise KeyError(f"{mod.__name__} does not export {name!r}")
    found = capsule_name(capsule)
    if found != signature:
        raise TypeError(
            f"{mod.__name__}.{name} has wrong signature (expected {signature!r}, got {found!r})"
        )
    return capsule_pointer(capsule)


def bind_function(module, name: str, signature: str, restype, *argtypes, gil: bool = False):
    """ctypes callable for function entry `name` (checked as in `entry_pointer`).

    With gil=False the call releases the interpreter lock (ctypes.CFUNCTYPE), which is how a
    lock-free kernel should be exercised; with gil=True it keeps the lock and raises a Python
    exception the function left pending (ctypes.PYFUNCTYPE), for entries that need the lock
    or report failures through the error indicator.
    """
    factory = ctypes.PYFUNCTYPE if gil else ctypes.CFUNCTYPE
    return factory(restype, *argtypes)(entry_pointer(module, name, signature))


def bind_variable(module, name: str, signature: str, ctype=ctypes.c_double):
    """ctypes object of type `ctype` living at variable entry `name` (read `.value`)."""
    return ctype.from_address(entry_pointer(module, name, signature))
