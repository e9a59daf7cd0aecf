"""The record dtypes of orbivex.datamodel.structured and their re-export by orbivex.datamodel."""

import numpy as np
import pytest

import orbivex.datamodel
import orbivex.datamodel.structured as structured
from tests.helpers import error_line, run_python

F8 = np.dtype(np.float64)

# name: [(field, base type, shape, offset)], itemsize
LAYOUTS = {
    "SurfCoord_dtype": ([("lat", "f8", (), 0), ("lon", "f8", (), 8)], 16),
    "LLA_dtype": ([("lat", "f8", (), 0), ("lon", "f8", (), 8), ("alt", "f8", (), 16)], 24),
    "ENU_dtype": (
        [("u_east", "f8", (3,), 0), ("u_north", "f8", (3,), 24), ("u_up", "f8", (3,), 48)],
        72,
    ),
    "AER_dtype": (
        [("azimuth", "f8", (), 0), ("elevation", "f8", (), 8), ("range", "f8", (), 16)],
        24,
    ),
    "DTF_dtype": (
        [
            ("year", "u2", (), 0),
            ("month", "u1", (), 2),
            ("day", "u1", (), 3),
            ("hour", "u1", (), 4),
            ("minute", "u1", (), 5),
            ("second", "f8", (), 6),
        ],
        14,
    ),
    "GeoState_dt": (
        [
            (n, "f8", (), 8 * i)
            for i, n in enumerate(["lat", "lon", "alt", "lat_dot", "lon_dot", "alt_dot"])
        ],
        48,
    ),
    "COE_dt": (
        [
            (n, "f8", (), 8 * i)
            for i, n in enumerate(["ecc", "sma", "inc", "raa", "arp", "tra", "slr"])
        ],
        56,
    ),
}


@pytest.mark.parametrize("name", LAYOUTS)
def test_layout(name):
    fields, itemsize = LAYOUTS[name]
    dt = getattr(structured, name)
    assert isinstance(dt, np.dtype)
    assert dt.names == tuple(f[0] for f in fields)
    assert dt.itemsize == itemsize
    assert not dt.isalignedstruct
    for field, base, shape, offset in fields:
        sub, off = dt.fields[field]
        assert off == offset
        assert sub.base == np.dtype(base) and sub.base.isnative
        assert sub.shape == shape
    # Equal to the dtype built from the same list of fields.
    assert dt == np.dtype([(f, b, s) if s else (f, b) for f, b, s, _ in fields])


def test_module_names_and_build_order():
    assert structured.numpy is np
    assert structured.dtype is np.dtype
    built = [n for n in vars(structured) if n.endswith(("_dtype", "_dt"))]
    assert built == list(LAYOUTS)


def test_package_reexports_the_same_objects():
    for name in LAYOUTS:
        assert getattr(orbivex.datamodel, name) is getattr(structured, name)


def test_enu_field_view_is_n_by_3():
    a = np.zeros(5, dtype=structured.ENU_dtype)
    view = a["u_north"]
    assert view.shape == (5, 3) and view.dtype == F8
    view[2] = [1.0, 2.0, 3.0]
    assert a[2]["u_north"].tolist() == [1.0, 2.0, 3.0]
    assert a[2]["u_east"].tolist() == [0.0, 0.0, 0.0] and a[2]["u_up"].tolist() == [0.0] * 3


def test_dtf_is_packed():
    a = np.zeros(2, dtype=structured.DTF_dtype)
    a[1] = (2024, 2, 29, 23, 59, 59.5)
    raw = a.tobytes()
    assert len(raw) == 28
    assert np.frombuffer(raw[14 + 6 : 14 + 14], "<f8")[0] == 59.5
    assert int.from_bytes(raw[14:16], "little") == 2024 and raw[16:20] == bytes([2, 29, 23, 59])


def test_coe_records_are_contiguous_doubles():
    a = np.zeros(3, dtype=structured.COE_dt)
    a["sma"] = [7e6, 8e6, 9e6]
    a["slr"] = [1.0, 2.0, 3.0]
    flat = np.frombuffer(a.tobytes(), dtype=np.float64).reshape(3, 7)
    assert flat[:, 1].tolist() == [7e6, 8e6, 9e6] and flat[:, 6].tolist() == [1.0, 2.0, 3.0]
    assert a.nbytes == 3 * 56


def run_fresh(setup):
    """Imports structured in a fresh interpreter after `setup` has run there."""
    code = setup + "\nimport orbivex.datamodel.structured as s\nprint(s.COE_dt, s.DTF_dtype)"
    return run_python(code)


def test_field_types_are_looked_up_on_numpy_at_import():
    done = run_fresh("import numpy; numpy.double = numpy.float32; numpy.uint8 = numpy.int8")
    assert done.returncode == 0, done.stderr
    assert "('ecc', '<f4')" in done.stdout and "('month', 'i1')" in done.stdout


@pytest.mark.parametrize(
    "setup, error",
    [
        ("import numpy; del numpy.uint16", "AttributeError"),
        ("import numpy; del numpy.dtype", "ImportError: cannot import name 'dtype' from 'numpy'"),
        ("import sys; sys.modules['numpy'] = None", "ModuleNotFoundError"),
    ],
)
def test_import_failures_pass_on(setup, error):
    assert error in error_line(run_fresh(setup))
