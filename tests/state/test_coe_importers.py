"""A module that binds coe's native entries (tle) expects the texts coe publishes: a coe whose
table lacks an entry, or names one by another signature text, is refused when tle is imported."""

import pytest

from tests.helpers import error_line, last_line, run_python

STAND_IN = r"""
import ctypes, sys, types
import orbivex.state.coe as coe

api = ctypes.pythonapi
api.PyCapsule_GetName.restype = ctypes.c_char_p
api.PyCapsule_GetName.argtypes = [ctypes.py_object]
api.PyCapsule_GetPointer.restype = ctypes.c_void_p
api.PyCapsule_GetPointer.argtypes = [ctypes.py_object, ctypes.c_char_p]
api.PyCapsule_New.restype = ctypes.py_object
api.PyCapsule_New.argtypes = [ctypes.c_void_p, ctypes.c_char_p, ctypes.c_void_p]

entry, change = sys.argv[1], sys.argv[2]
table = dict(coe.__pyx_capi__)
if change == "missing":
    del table[entry]
elif change == "text":
    capsule = table[entry]
    pointer = api.PyCapsule_GetPointer(capsule, api.PyCapsule_GetName(capsule))
    TEXT = b"double (double, double)"  # kept alive: the capsule points at it
    table[entry] = api.PyCapsule_New(pointer, TEXT, None)
stand_in = types.ModuleType("orbivex.state.coe")
stand_in.__pyx_capi__ = table
sys.modules["orbivex.state.coe"] = stand_in
from orbivex.propagators.analytical.sgp4.tle import TLE
print("imported", TLE.__name__)
"""

# The entries tle binds from coe.
BOUND = [
    "_2pi",
    "c_orp_from_sma",
    "c_sma_from_mnm",
    "c_eca_from_mea",
    "c_tra_from_eca",
    "c_pge_from_sma_ecc",
    "c_apg_from_sma_ecc",
]


def test_the_published_table_is_accepted():
    assert last_line(run_python(STAND_IN, args=["c_orp_from_sma", "none"])) == "imported TLE"


@pytest.mark.parametrize("entry", BOUND)
def test_a_missing_entry_is_refused(entry):
    line = error_line(run_python(STAND_IN, args=[entry, "missing"]))
    assert line.startswith("ImportError") and entry in line


@pytest.mark.parametrize("entry", BOUND[1:])
def test_another_signature_text_is_refused(entry):
    line = error_line(run_python(STAND_IN, args=[entry, "text"]))
    assert line.startswith("TypeError") and entry in line
    assert "double (double, double)" in line
