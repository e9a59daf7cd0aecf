"""The unit constants of orbivex.units.units: native table, values and Python attributes."""

import pytest

import orbivex.units.units as units
from tests.capsules import bind_variable, entry_pointer, table
from tests.helpers import run_python

UNITS = "orbivex.units.units"
VALUES = {
    "s": 1.0,
    "sec": 1.0,
    "second": 1.0,
    "minute": 60.0,
    "hour": 3600.0,
    "day": 86400.0,
    "sday": 86164.0905,
    "m": 1.0,
    "km": 1000.0,
    "rad": 1.0,
    "deg": 0.017453292519943295,
    "rev": 6.283185307179586,
    "kg": 1.0,
}


def test_table_lists_the_doubles_in_order():
    assert list(table(UNITS).items()) == [(name, "double") for name in VALUES]


@pytest.mark.parametrize("name, value", VALUES.items())
def test_native_and_python_values(name, value):
    assert bind_variable(UNITS, name, "double").value == value
    attr = getattr(units, name)
    assert type(attr) is float and attr == value


def test_distinct_entries_have_distinct_addresses():
    # s, sec and second are equal but separate variables, as separate declarations are.
    addresses = {entry_pointer(UNITS, n, "double") for n in VALUES}
    assert len(addresses) == len(VALUES)


@pytest.mark.parametrize(
    "module, short",
    [
        ("orbivex.units.units", "units"),
        ("orbivex.mathtools.misc.misc", "misc"),
        ("orbivex.mathtools.quiver.quiver", "quiver"),
        ("orbivex.datamodel.structured", "structured"),
    ],
)
def test_second_module_object_is_refused_and_reload_is_harmless(module, short):
    code = f"""
import importlib, sys
import {module} as first
table = dict(first.__pyx_capi__) if hasattr(first, "__pyx_capi__") else None
assert importlib.reload(first) is first
if table is not None:
    assert first.__pyx_capi__ == table
del sys.modules[{module!r}]
try:
    import {module}
except RuntimeError as exc:
    print(exc)
"""
    done = run_python(code)
    assert done.returncode == 0, done.stderr
    assert done.stdout.strip() == (
        f"Module '{short}' has already been imported. Re-initialisation is not supported."
    )
