"""Import of orbivex.state.coe against substituted sibling modules, the once-per-process rule
and the assertion switch, each in a fresh interpreter."""

import pytest

from tests.helpers import last_line, run_python

# Builds fake siblings from the real ones; `setup` then edits them before coe is imported.
PRELUDE = """
import ctypes, sys, types
import numpy
import orbivex.mathtools.misc.misc as real_misc
import orbivex.mathtools.quiver.quiver as real_quiver
import orbivex.bodies.bodies as real_bodies
import orbivex.frames.frames as real_frames
import orbivex.mathtools.ellipsoid.ellipsoid as real_ellipsoid
import orbivex.datamodel as real_datamodel
import orbivex.typing as real_typing

def fake(name, real, drop=(), **extra):
    mod = types.ModuleType(name)
    for key, value in vars(real).items():
        if key not in drop and not key.startswith("__") or key == "__pyx_capi__":
            setattr(mod, key, value)
    if hasattr(real, "__pyx_capi__"):
        mod.__pyx_capi__ = {k: v for k, v in real.__pyx_capi__.items() if k not in drop}
    for key, value in extra.items():
        setattr(mod, key, value)
    sys.modules[name] = mod
    return mod

ctypes.pythonapi.PyCapsule_New.restype = ctypes.py_object
ctypes.pythonapi.PyCapsule_New.argtypes = [ctypes.c_void_p, ctypes.c_char_p, ctypes.c_void_p]
ctypes.pythonapi.PyCapsule_GetPointer.restype = ctypes.c_void_p
ctypes.pythonapi.PyCapsule_GetPointer.argtypes = [ctypes.py_object, ctypes.c_char_p]
KEEP = []

def capsule_with_text(capsule, old, new):
    name = new.encode()
    KEEP.append(name)
    return ctypes.pythonapi.PyCapsule_New(
        ctypes.pythonapi.PyCapsule_GetPointer(capsule, old.encode()), name, None)

def report():
    try:
        import orbivex.state.coe
    except BaseException as e:
        print(f"{type(e).__name__}: {e}")
    else:
        print("imported")
"""

ANOMALY = "double (double const , double const )"


@pytest.mark.parametrize(
    "setup, expected",
    [
        (
            "sys.modules['orbivex.time.time'] = None",
            "ModuleNotFoundError: import of orbivex.time.time halted; None in sys.modules",
        ),
        (
            "sys.modules['orbivex.mathtools.quiver.quiver'] = None",
            "ModuleNotFoundError: import of orbivex.mathtools.quiver.quiver halted; "
            "None in sys.modules",
        ),
        (
            "fake('orbivex.mathtools.quiver.quiver', real_quiver, drop=('normalize',))",
            "ImportError: orbivex.mathtools.quiver.quiver does not export expected C function "
            "normalize",
        ),
        (
            "fake('orbivex.mathtools.misc.misc', real_misc, drop=('atan2_asymmetric',))",
            "ImportError: orbivex.mathtools.misc.misc does not export expected C function "
            "atan2_asymmetric",
        ),
        (
            "m = fake('orbivex.mathtools.misc.misc', real_misc); m.__pyx_capi__['atan2_asymmetric'] = "  # noqa: E501
            f"capsule_with_text(m.__pyx_capi__['atan2_asymmetric'], '{ANOMALY}', 'double (double, double)')",  # noqa: E501
            "TypeError: C function orbivex.mathtools.misc.misc.atan2_asymmetric has wrong signature "  # noqa: E501
            f"(expected {ANOMALY}, got double (double, double))",
        ),
        (
            "m = fake('orbivex.mathtools.quiver.quiver', real_quiver); m.__pyx_capi__['dot'] = "
            "capsule_with_text(m.__pyx_capi__['dot'], 'double (double *, double *)', "
            "'double (double const *, double const *)')",
            "TypeError: C function orbivex.mathtools.quiver.quiver.dot has wrong signature "
            "(expected double (double *, double *), got double (double const *, double const *))",
        ),
        (
            "fake('orbivex.frames.frames', real_frames, drop=('ENU',))",
            "AttributeError: module 'orbivex.frames.frames' has no attribute 'ENU'",
        ),
        (
            "fake('orbivex.bodies.bodies', real_bodies, Earth=5)",
            "TypeError: orbivex.bodies.bodies.Earth is not a type object",
        ),
        ("numpy.flatiter = 5", "TypeError: numpy.flatiter is not a type object"),
        (
            "fake('orbivex.mathtools.ellipsoid.ellipsoid', real_ellipsoid, drop=('GRS80',))",
            "ImportError: cannot import name 'GRS80' from 'orbivex.mathtools.ellipsoid.ellipsoid'",
        ),
        (
            "fake('orbivex.frames.frames', real_frames, drop=('TEME',))",
            "ImportError: cannot import name 'TEME' from 'orbivex.frames.frames'",
        ),
        (
            "fake('orbivex.datamodel', real_datamodel, drop=('COE_dt',))",
            "ImportError: cannot import name 'COE_dt' from 'orbivex.datamodel'",
        ),
        (
            "fake('orbivex.typing', real_typing, drop=('DatetimeLike',))",
            "ImportError: cannot import name 'DatetimeLike' from 'orbivex.typing'",
        ),
        ("real_bodies.Earth.GM = 'three'", "TypeError: must be real number, not str"),
        # The first failure in import order is the one reported.
        (
            "fake('orbivex.bodies.bodies', real_bodies, drop=('Moon',)); "
            "fake('orbivex.mathtools.misc.misc', real_misc, drop=('atan2_asymmetric',))",
            "AttributeError: module 'orbivex.bodies.bodies' has no attribute 'Moon'",
        ),
        (
            "fake('orbivex.mathtools.misc.misc', real_misc, drop=('atan2_asymmetric',)); "
            "fake('orbivex.mathtools.quiver.quiver', real_quiver, drop=('dot',))",
            "ImportError: orbivex.mathtools.misc.misc does not export expected C function "
            "atan2_asymmetric",
        ),
    ],
)
def test_import_failures(setup, expected):
    done = run_python(PRELUDE + setup + "\nreport()\n")
    assert last_line(done) == expected, done.stderr


def test_failed_import_can_be_retried_and_reads_gm_afresh():
    done = run_python(
        PRELUDE
        + """
sys.modules['orbivex.mathtools.misc.misc'] = None
report()
sys.modules['orbivex.mathtools.misc.misc'] = real_misc
real_bodies.Earth.GM = 1.0
report()
import orbivex.state.coe as coe
print(coe.orp_from_sma.__defaults__, coe.coe_from_sv.__defaults__, coe.orp_from_sma(1.0))
"""
    )
    lines = done.stdout.splitlines()
    assert lines[0].startswith("ModuleNotFoundError") and lines[1] == "imported", done.stderr
    assert lines[2] == "(1.0,) (1.0,) 6.283185307179586"


def test_integer_gm_default_kept_unconverted_by_size_functions():
    done = run_python(
        PRELUDE
        + """
real_bodies.Earth.GM = 4
import orbivex.state.coe as coe
print(repr(coe.orp_from_sma.__defaults__), repr(coe.sv_from_coe.__defaults__))
"""
    )
    assert last_line(done) == "(4,) (4.0,)", done.stderr
    # A float subclass is converted as float() converts it: through its own __float__.
    done = run_python(
        PRELUDE
        + """
class Own(float):
    def __float__(self):
        return 5.0
real_bodies.Earth.GM = Own(4.0)
import orbivex.state.coe as coe
print(repr(coe.sv_from_coe.__defaults__))
"""
    )
    assert last_line(done) == "(5.0,)", done.stderr


def test_second_module_object_is_refused_and_reload_is_harmless():
    done = run_python("""
import importlib, sys
import orbivex.state.coe as coe
importlib.reload(coe)
print(coe.orp_from_sma(7e6))
del sys.modules['orbivex.state.coe']
try:
    import orbivex.state.coe
except RuntimeError as e:
    print(e)
""")
    out = done.stdout.splitlines()
    assert out[-1] == (
        "Module 'coe' has already been imported. Re-initialisation is not supported."
    ), done.stderr
    assert float(out[0]) > 0


OPTIMISED = """
import numpy as np
import orbivex.state.coe as coe
def attempt(f):
    try:
        r = f()
    except BaseException as e:
        print(f"{type(e).__name__}: {e}")
    else:
        print("ok", np.asarray(r).tolist() if not isinstance(r, tuple) else len(r))
attempt(lambda: coe.orp_from_sma(np.array(7e6)))
attempt(lambda: coe.orp_from_sma(np.zeros((2, 2))))
attempt(lambda: coe.mea_from_eca(np.zeros(3), np.zeros(1)))
attempt(lambda: coe.mea_from_eca(np.array([1.0, 2.0]), np.array([0.0, 0.0, 5.0])))
attempt(lambda: coe.coe_from_sv(np.zeros(4), np.zeros(4)))
attempt(lambda: coe.coe_from_sv(np.ones((2, 2)), np.ones((2, 2))))
a4 = np.array([[7e6, 1e5, 0, 99.0], [8e6, 0, 1e5, -5.0]])
b4 = np.array([[0, 7500, 100, 3.0], [10, 7000, 900, 8.0]])
attempt(lambda: coe.coe_from_sv(a4, b4).tobytes()
        == coe.coe_from_sv(a4[:, :3], b4[:, :3]).tobytes())
"""


def test_optimised_interpreter_skips_the_shape_checks():
    done = run_python(OPTIMISED, "-O")
    assert done.stdout.splitlines() == [
        "ValueError: Buffer has wrong number of dimensions (expected 1, got 0)",
        "ValueError: Buffer has wrong number of dimensions (expected 1, got 2)",
        "IndexError: index 1 is out of bounds for axis 0 with size 1",
        "ok [1.0, 2.0]",
        "ValueError: cannot reshape array of size 4 into shape (1,3)",
        "IndexError: index 2 is out of bounds for axis 1 with size 2",
        "ok True",
    ], done.stderr
    done = run_python(OPTIMISED)
    assert done.stdout.splitlines()[:3] == ["AssertionError: "] * 3, done.stderr
