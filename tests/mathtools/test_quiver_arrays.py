"""quiver's row-wise norm_array and normalize_array, bound from its native table."""

import ctypes

import numpy as np
import pytest
from hypothesis import given
from hypothesis import strategies as st
from hypothesis.extra import numpy as hnp

import orbivex.mathtools.quiver.quiver as quiver
from tests.capsules import bind_function
from tests.helpers import bits
from tests.mathtools import quiver_reference as ref
from tests.mathtools.quiver_reference import QUIVER, TEXTS


def bind_rows(name):
    # These need the interpreter lock and report errors through it: ctypes.PYFUNCTYPE.
    return bind_function(QUIVER, name, TEXTS[name], ctypes.py_object, ctypes.py_object, gil=True)


norm_array, normalize_array = bind_rows("norm_array"), bind_rows("normalize_array")


def expected_rows(a):
    rows = [[float(x) for x in row[:3]] for row in np.asarray(a)]
    return [ref.norm(r) for r in rows], [ref.normalize(r) for r in rows]


def check(a):
    norms, units = expected_rows(a)
    got_n, got_u = norm_array(a), normalize_array(a)
    assert type(got_n) is np.ndarray and got_n.dtype == np.float64
    assert got_n.shape == (len(norms),) and got_u.shape == (len(norms), 3)
    assert bits(got_n) == bits(norms)
    assert bits(got_u) == bits(units)


def test_documented_rows():
    a = np.array([[3.0, 4.0, 0.0], [0.0, 0.0, 0.0]])
    assert norm_array(a).tolist() == [5.0, 0.0]
    u = normalize_array(a)
    assert u[0].tolist() == [0.6000000000000001, 0.8, 0.0]
    assert np.isnan(u[1]).all()


BASE = np.arange(1.0, 61.0).reshape(10, 6) * np.array([1, -0.5, 0.25, 3, 1e-3, 7])

LAYOUTS = {
    "contiguous": np.ascontiguousarray(BASE[:, :3]),
    "every second row": BASE[::2, :3],
    "reversed rows": BASE[::-1, :3],
    "fortran order": np.asfortranarray(BASE[:, :3]),
    "more than three columns": BASE,
    "strided columns": BASE[:, ::2],
    "transposed view": np.ascontiguousarray(BASE[:, :3].T).T,
    "read-only": np.ascontiguousarray(BASE[:, :3]),
    "empty": np.zeros((0, 3)),
    "empty and wide": np.zeros((0, 5)),
}
LAYOUTS["read-only"].flags.writeable = False


@pytest.mark.parametrize("a", LAYOUTS.values(), ids=LAYOUTS.keys())
def test_any_layout_matches_row_by_row_kernels(a):
    before = a.copy()
    check(a)
    np.testing.assert_array_equal(a, before)  # input never written
    np.testing.assert_array_equal(norm_array(a), norm_array(np.ascontiguousarray(a[:, :3])))


def test_unaligned_rows():
    # Packed records: the doubles sit at odd offsets inside each 25-byte row.
    packed = np.zeros(4, dtype=[("tag", "u1"), ("v", "<f8", (3,))])
    packed["v"] = [[3, 4, 0], [1, 1, 1], [-2, 0, 0], [1e300, 1e300, 0]]
    view = packed["v"]
    assert view.ctypes.data % 8 != 0
    check(view)


def test_empty_results_have_row_shapes():
    assert norm_array(np.zeros((0, 3))).shape == (0,)
    assert normalize_array(np.zeros((0, 3))).shape == (0, 3)


def test_result_is_new_each_call():
    a = np.ones((2, 3))
    assert norm_array(a) is not norm_array(a)


DIMS = "Buffer has wrong number of dimensions (expected 2, got {})"
DTYPE = "Buffer dtype mismatch, expected 'double' but got '{}'"


@pytest.mark.parametrize(
    "fn, name", [(norm_array, "norm_array"), (normalize_array, "normalize_array")]
)
@pytest.mark.parametrize(
    "bad, error, message",
    [
        (np.zeros((4, 2)), ValueError, "{name}() needs at least 3 columns (got 2)"),
        (np.zeros((0, 0)), ValueError, "{name}() needs at least 3 columns (got 0)"),
        (np.zeros(3), ValueError, DIMS.format(1)),
        (np.zeros((1, 3, 1)), ValueError, DIMS.format(3)),
        (np.zeros((2, 3), np.float32), ValueError, DTYPE.format("f")),
        (np.zeros((2, 3), ">f8"), ValueError, DTYPE.format(">d")),
        (None, TypeError, "a bytes-like object is required, not 'NoneType'"),
    ],
)
def test_refused_inputs(fn, name, bad, error, message):
    with pytest.raises(error) as exc:
        fn(bad)
    assert str(exc.value) == message.format(name=name)


@pytest.fixture
def module_numpy(monkeypatch):
    """Replaces quiver's module-level `numpy` for one test."""

    def use(replacement):
        monkeypatch.setattr(quiver, "numpy", replacement)

    return use


class RecordingNumpy:
    """Stands in for NumPy and records each zeros call."""

    double = np.double

    def __init__(self):
        self.calls = []

    def zeros(self, *args, **kwargs):
        self.calls.append((args, kwargs))
        return np.zeros(*args, **kwargs)


def test_allocates_through_module_numpy_at_each_call(module_numpy):
    fake = RecordingNumpy()
    module_numpy(fake)
    norm_array(np.ones((2, 3)))
    normalize_array(np.ones((5, 4)))
    assert fake.calls == [
        ((), {"shape": (2,), "dtype": np.double}),
        ((), {"shape": (5, 3), "dtype": np.double}),
    ]


class FortranNumpy:
    """Allocates Fortran-ordered results: the kernels must write through the result's strides."""

    double = np.double

    @staticmethod
    def zeros(shape, dtype):
        return np.zeros(shape, dtype=dtype, order="F")


def test_results_are_written_through_their_strides(module_numpy):
    a = np.array([[3.0, 4.0, 0.0], [1.0, -2.0, 2.0], [0.0, 0.0, 5.0]])
    expected = normalize_array(a)
    module_numpy(FortranNumpy)
    got = normalize_array(a)
    assert got.flags.f_contiguous and not got.flags.c_contiguous
    np.testing.assert_array_equal(got, expected)


def test_missing_module_numpy(monkeypatch):
    monkeypatch.delattr(quiver, "numpy")
    with pytest.raises(NameError, match="name 'numpy' is not defined"):
        norm_array(np.ones((1, 3)))


class FailingNumpy:
    double = np.double

    @staticmethod
    def zeros(**kwargs):
        raise MemoryError("no room")


class WrongShapeNumpy:
    double = np.double

    @staticmethod
    def zeros(shape, dtype):
        return np.zeros(shape[0] + 1, dtype=dtype)


@pytest.mark.parametrize(
    "fake, error", [(FailingNumpy, MemoryError), (WrongShapeNumpy, ValueError)]
)
def test_allocation_failures_pass_on(module_numpy, fake, error):
    module_numpy(fake)
    for fn in (norm_array, normalize_array):
        with pytest.raises(error):
            fn(np.ones((3, 3)))


rows = hnp.arrays(
    np.float64,
    hnp.array_shapes(min_dims=2, max_dims=2, min_side=0, max_side=6).filter(lambda s: s[1] >= 3),
    elements=st.floats(allow_nan=True, allow_infinity=True, width=64),
)


@given(rows, st.booleans())
def test_rows_match_the_formulas_bit_for_bit(a, fortran):
    check(np.asfortranarray(a) if fortran else a)


def test_large_inputs_match_numpy_to_rounding():
    rng = np.random.default_rng(7)
    a = rng.normal(size=(1000, 3)) * 1e7
    np.testing.assert_allclose(norm_array(a), np.sqrt((a * a).sum(axis=1)), rtol=4e-16)
    np.testing.assert_allclose(np.linalg.norm(normalize_array(a), axis=1), 1.0, rtol=1e-15)
