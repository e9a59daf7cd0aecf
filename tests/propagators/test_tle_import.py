"""The tle module's import: what it binds from its siblings, their failures, re-initialisation,
the assertion switch and failures reported by atan2_asymmetric, each in a fresh interpreter."""

import textwrap

import pytest

from tests.helpers import error_line, run_python

from .tle_lines import L1, L2, with_satno

TLE_MODULE = "orbivex.propagators.analytical.sgp4.tle"

PRELUDE = """
import ctypes, importlib, sys, types
_new = ctypes.pythonapi.PyCapsule_New
_new.restype = ctypes.py_object
_new.argtypes = [ctypes.c_void_p, ctypes.c_char_p, ctypes.c_void_p]
_name = ctypes.pythonapi.PyCapsule_GetName
_name.restype = ctypes.c_char_p
_name.argtypes = [ctypes.py_object]
_ptr = ctypes.pythonapi.PyCapsule_GetPointer
_ptr.restype = ctypes.c_void_p
_ptr.argtypes = [ctypes.py_object, ctypes.c_char_p]
NAMES = []  # capsule names must outlive their capsules

def substitute(modname, drop=(), resign=None, replace=None):
    '''Puts a copy of `modname` in sys.modules without the names or table entries in `drop`,
    with table entries re-signed per `resign` and attributes replaced per `replace`.'''
    real = importlib.import_module(modname)
    fake = types.ModuleType(modname)
    fake.__dict__.update({k: v for k, v in vars(real).items() if k not in drop})
    if hasattr(real, "__pyx_capi__"):
        table = {k: v for k, v in real.__pyx_capi__.items() if k not in drop}
        for key, text in (resign or {}).items():
            NAMES.append(text.encode())
            table[key] = _new(_ptr(table[key], _name(table[key])), NAMES[-1], None)
        fake.__pyx_capi__ = table
    fake.__dict__.update(replace or {})
    sys.modules[modname] = fake
"""


def run(code: str, *flags: str):
    """`code` run after PRELUDE in a fresh interpreter."""
    return run_python(PRELUDE + textwrap.dedent(code), *flags)


def import_error(setup: str) -> str:
    """The last line of the traceback when `tle` is imported after `setup`."""
    return error_line(run(setup + f"\nimport {TLE_MODULE}\n"))


SIZE = "double (double const , double)"
ANOMALY = "double (double const , double const )"


@pytest.mark.parametrize(
    "setup, last_line",
    [
        (
            'substitute("orbivex.units.units", drop=["kg"])',
            "ImportError: orbivex.units.units does not export expected C variable kg",
        ),
        (
            'substitute("orbivex.units.units", resign={"deg": "float"})',
            "TypeError: C variable orbivex.units.units.deg has wrong signature "
            "(expected double, got float)",
        ),
        (
            'substitute("orbivex.state.coe", drop=["c_tra_from_eca"])',
            "ImportError: orbivex.state.coe does not export expected C function c_tra_from_eca",
        ),
        (
            'substitute("orbivex.state.coe", drop=["_2pi"])',
            "ImportError: orbivex.state.coe does not export expected C variable _2pi",
        ),
        (
            f'substitute("orbivex.state.coe", resign={{"c_sma_from_mnm": "{ANOMALY}"}})',
            f"TypeError: C function orbivex.state.coe.c_sma_from_mnm has wrong signature "
            f"(expected {SIZE}, got {ANOMALY})",
        ),
        (
            f'substitute("orbivex.state.coe", resign={{"c_eca_from_mea": "{SIZE}"}})',
            f"TypeError: C function orbivex.state.coe.c_eca_from_mea has wrong signature "
            f"(expected {ANOMALY}, got {SIZE})",
        ),
        (
            'substitute("orbivex.frames.frames", drop=["TEME"])',
            "ImportError: cannot import name 'TEME' from 'orbivex.frames.frames'",
        ),
        (
            'substitute("orbivex.frames.frames", drop=["ENU"])',
            "ImportError: cannot import name 'ENU' from 'orbivex.frames.frames'",
        ),
        (
            'substitute("orbivex.mathtools.ellipsoid.ellipsoid", drop=["GRS80"])',
            "ImportError: cannot import name 'GRS80' from 'orbivex.mathtools.ellipsoid.ellipsoid'",
        ),
        (
            'substitute("orbivex.bodies.bodies", drop=["Moon"])',
            "ImportError: cannot import name 'Moon' from 'orbivex.bodies.bodies'",
        ),
        (
            'substitute("orbivex.time.time", drop=["Time"])',
            "ImportError: cannot import name 'Time' from 'orbivex.time.time'",
        ),
        (
            'substitute("orbivex.utils.representable", drop=["Representable"])',
            "ImportError: cannot import name 'Representable' from 'orbivex.utils.representable'",
        ),
        (
            'substitute("orbivex.time.time", replace={"Time": lambda *a: None})',
            "TypeError: orbivex.time.time.Time is not a type object",
        ),
        (
            'substitute("orbivex.bodies.bodies", replace={"Earth": object()})',
            "TypeError: orbivex.bodies.bodies.Earth is not a type object",
        ),
        (
            'substitute("orbivex.utils.representable", replace={"Representable": dict})',
            "ValueError: orbivex.utils.representable.Representable size changed, may indicate "
            "binary incompatibility. Expected 24 from C header, got 48 from PyObject",
        ),
        (
            'sys.modules["orbivex.units.units"] = None',
            "ModuleNotFoundError: import of orbivex.units.units halted; None in sys.modules",
        ),
    ],
)
def test_a_missing_or_different_sibling_fails_the_import(setup, last_line):
    if "size changed" in last_line:
        from orbivex.utils.representable import Representable

        last_line = last_line.replace("24", str(Representable.__basicsize__)).replace(
            "48", str(dict.__basicsize__)
        )
    assert import_error(setup) == last_line


def test_substituted_siblings_that_offer_enough_are_accepted():
    done = run(f"""
        substitute("orbivex.frames.frames", replace={{"TEME": types.SimpleNamespace(name="T")}})
        substitute("orbivex.units.units", drop=["__doc__"])
        from {TLE_MODULE} import TLE
        body = TLE({L1!r}, {L2!r})._get_body()
        assert "T" in body.split("{{fence}}")[1], body
        print("ok")
    """)
    assert done.returncode == 0, done.stderr
    assert done.stdout.strip() == "ok"


def test_reinitialisation_is_refused():
    done = run(f"""
        import importlib.util
        import {TLE_MODULE} as first
        importlib.reload(first)  # the same module object again: harmless
        spec = importlib.util.find_spec("{TLE_MODULE}")
        try:
            importlib.util.module_from_spec(spec)
        except RuntimeError as exc:
            print(exc)
    """)
    assert done.returncode == 0, done.stderr
    assert done.stdout.strip() == (
        "Module 'tle' has already been imported. Re-initialisation is not supported."
    )


ONE_SATELLITE_CHECK = f"""
    from {TLE_MODULE} import ELSET, TLE
    for args in [(), (TLE({L1!r}, {L2!r}), TLE(*{with_satno(5)!r}))]:
        try:
            e = ELSET(*args)
            print("built", e.satno in (5, 25544))
        except Exception as exc:
            print(type(exc).__name__, str(exc))
"""


def test_the_satellite_check_is_an_assertion():
    debug = run(ONE_SATELLITE_CHECK)
    assert debug.stdout.splitlines() == ["AssertionError ", "AssertionError "], debug.stderr
    optimised = run(ONE_SATELLITE_CHECK, "-O")
    assert optimised.stdout.splitlines() == ["KeyError 'pop from an empty set'", "built True"], (
        optimised.stderr
    )


ATAN2_FAILS = f"""
    sys.modules["orbivex.mathtools.misc.misc"] = importlib.import_module(
        "orbivex._testing.testing_atan2")
    from orbivex._testing import testing_atan2 as probe
    from {TLE_MODULE} import TLE
    L1, L2 = {L1!r}, {L2!r}
    probe.fail_after(1, ArithmeticError)
    try:
        TLE(L1, L2)
    except ArithmeticError as exc:
        print("raised", exc, probe.calls())
    probe.return_after(1, -1.0)  # -1.0 without a failure is an ordinary angle
    print("tra", TLE(L1, L2).tra)
    probe.disarm()
    print("tra", TLE(L1, L2).tra > 0)
"""


def test_a_failure_of_atan2_asymmetric_ends_construction():
    done = run(ATAN2_FAILS)
    assert done.returncode == 0, done.stderr
    assert done.stdout.splitlines() == [
        "raised injected failure of atan2_asymmetric 1",
        "tra -1.0",
        "tra True",
    ]


def test_module_level_names():
    import numpy

    import orbivex.propagators.analytical.sgp4.tle as tle

    assert tle.numpy is numpy
    assert tle.TLE.__module__ == tle.ELSET.__module__ == TLE_MODULE
