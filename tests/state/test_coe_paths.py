"""The direct paths of orbivex.state.coe (exact floats and float64 ndarrays) against the general
per-element path, the call-time module names, and references and memory over many calls."""

import gc
import numbers
import sys
import tracemalloc
import types

import numpy as np
import pytest

import orbivex.state.coe as coe
from orbivex.datamodel import COE_dt
from tests.helpers import bits
from tests.state import coe_catalogue as cat

ONE_ARG = cat.SIZE
TWO_ARG = cat.ANOMALY


class Plain(np.ndarray):
    """Not an exact ndarray: takes the general path with identical item values."""


class CountingGM:
    """A GM whose conversion has a side effect."""

    def __init__(self, value):
        self.value = value
        self.calls = 0

    def __float__(self):
        self.calls += 1
        return self.value


X = np.array([7e6, -1.0, 0.0, 4.2e7, np.inf, np.nan, 1e-300, 3.5])
E = np.array([0.0, 0.1, 0.5, 0.9, 0.99, 0.3, 0.0, 0.7])


@pytest.mark.parametrize("name", ONE_ARG)
def test_size_paths_agree(name):
    f = getattr(coe, name)
    fast = f(X, 3.986004418e14)
    gm = CountingGM(3.986004418e14)
    assert bits(f(X.view(Plain), 3.986004418e14)) == bits(fast)
    assert bits(f(X, gm)) == bits(fast)
    assert gm.calls == len(X)  # converted for every element, as the general path reads
    assert bits(f(X, 398600441800000)) == bits(f(X, 398600441800000.0))


@pytest.mark.parametrize("name", TWO_ARG)
def test_anomaly_paths_agree(name):
    f = getattr(coe, name)
    m = X[[0, 1, 3, 6, 7]] / 1e6
    e = E[[1, 2, 3, 5, 7]]
    for a, b in [(m, e), (m, 0.25), (1.5, e), (m, 0), (2, e)]:
        fast = f(a, b)
        slow_a = a.view(Plain) if isinstance(a, np.ndarray) else a
        slow_b = b.view(Plain) if isinstance(b, np.ndarray) else b
        assert bits(f(slow_a, slow_b)) == bits(fast)
        assert bits(fast) == bits([f(float(p), float(q)) for p, q in np.broadcast(a, b)])


def test_strided_and_unaligned_buffers_are_read_correctly():
    raw = np.zeros(8 * 9 + 1, np.uint8)[1:].view(np.float64)  # misaligned float64 data
    raw[:] = np.linspace(1e6, 9e6, 9)
    assert not raw.flags.aligned
    assert bits(coe.orp_from_sma(raw)) == bits([coe.orp_from_sma(float(x)) for x in raw])
    assert bits(coe.mea_from_eca(raw[::-3], 0.2)) == bits(coe.mea_from_eca(raw[::-3].copy(), 0.2))


def test_item_access_of_a_subclass_is_honoured():
    class Doubled(np.ndarray):
        def __getitem__(self, i):
            return 2 * super().__getitem__(i)

    x = np.array([1e6, 2e6]).view(Doubled)
    assert bits(coe.orp_from_sma(x)) == bits(coe.orp_from_sma(np.array([2e6, 4e6])))
    assert bits(coe.eca_from_mea(0.5, np.array([0.1, 0.2]).view(Doubled))) == bits(
        coe.eca_from_mea(0.5, np.array([0.2, 0.4]))
    )


def test_shape_is_subscripted_like_python():
    # `x.shape[0]` is a subscript: a duck-typed array whose shape is a mapping works.
    class Duck:
        def __init__(self, a):
            self.a, self.ndim = a, a.ndim
            self.shape = dict(enumerate(a.shape))

        def __getitem__(self, i):
            return self.a[i]

        def __array__(self, dtype=None, copy=None):
            return self.a

        def reshape(self, shape):
            return Duck(self.a.reshape(shape))

    x = np.array([7e6, 8e6])
    assert bits(coe.orp_from_sma(Duck(x))) == bits(coe.orp_from_sma(x))
    assert bits(coe.eca_from_mea(Duck(x / 8e6), Duck(x / 8e7))) == bits(
        coe.eca_from_mea(x / 8e6, x / 8e7)
    )
    r, v = np.array([[7e6, 0, 0]]), np.array([[0, 7.5e3, 10]])
    assert coe.coe_from_sv(Duck(r), Duck(v)).tobytes() == coe.coe_from_sv(r, v).tobytes()


def test_state_vector_paths_agree():
    rng = np.random.default_rng(5)
    r = rng.uniform(-8e6, 8e6, (7, 3))
    v = rng.uniform(-8e3, 8e3, (7, 3))
    fast = coe.coe_from_sv(r, v)
    assert fast.tobytes() == coe.coe_from_sv(r.view(Plain), v.view(Plain)).tobytes()
    assert fast.tobytes() == coe.coe_from_sv(r.astype(object), v.astype(object)).tobytes()
    assert fast.tobytes() == coe.coe_from_sv(np.asfortranarray(r), v).tobytes()


def test_rebound_numbers_is_consulted_at_call_time(monkeypatch):
    expected = coe.orp_from_sma(7.0)
    monkeypatch.setattr(numbers, "Real", numbers.Integral)
    assert coe.orp_from_sma(7) == expected
    with pytest.raises(AttributeError, match="'float' object has no attribute 'ndim'"):
        coe.orp_from_sma(7.5)
    monkeypatch.undo()
    monkeypatch.setattr(coe, "numbers", types.SimpleNamespace(Real=float))
    with pytest.raises(AttributeError, match="'int' object has no attribute 'ndim'"):
        coe.eca_from_mea(1, 0.5)
    assert coe.eca_from_mea(1.0, 0.5) == coe.eca_from_mea(np.array([1.0]), 0.5)[0]
    monkeypatch.delattr(coe, "numbers")
    with pytest.raises(NameError, match="name 'numbers' is not defined"):
        coe.orp_from_sma(7e6)


def test_rebound_numpy_allocates_and_converts(monkeypatch):
    seen = []

    def zeros_like(x):
        seen.append("zeros_like")
        return np.zeros(len(x))  # float64 even for integer input

    def asarray(x):
        seen.append("asarray")
        return np.asarray(x)

    monkeypatch.setattr(coe, "numpy", types.SimpleNamespace(zeros_like=zeros_like, asarray=asarray))
    got = coe.orp_from_sma(np.array([7000000, 8000000]))
    assert seen == ["zeros_like", "asarray"]
    assert bits(got) == bits([coe.orp_from_sma(7e6), coe.orp_from_sma(8e6)])
    # A result shorter than the loop over x.shape[0] is never written past its end; a longer
    # one makes the anomaly loop read past the end of its input.
    monkeypatch.setattr(
        coe, "numpy", types.SimpleNamespace(zeros_like=lambda x: np.zeros(1), asarray=np.asarray)
    )
    with pytest.raises(IndexError, match="Out of bounds on buffer access"):
        coe.orp_from_sma(np.array([7e6, 8e6]))
    monkeypatch.setattr(
        coe, "numpy", types.SimpleNamespace(zeros_like=lambda x: np.zeros(3), asarray=np.asarray)
    )
    with pytest.raises(IndexError):
        coe.eca_from_mea(np.array([1.0, 2.0]), 0.1)
    monkeypatch.undo()
    monkeypatch.setattr(np, "zeros_like", lambda x: np.zeros(len(x), np.float32))
    with pytest.raises(ValueError):  # the real module's function as it is now
        coe.orp_from_sma(np.array([7e6]))


def test_rebound_coe_dt_is_used_for_the_result(monkeypatch):
    other = np.dtype([(f"x{i}", "f8") for i in range(7)])
    monkeypatch.setattr(coe, "COE_dt", other)
    assert coe.coe_from_sv(np.array([7e6, 0, 0]), np.array([0, 7.5e3, 10])).dtype == other
    monkeypatch.setattr(coe, "COE_dt", np.dtype("f8"))
    with pytest.raises(ValueError, match="dtype mismatch"):
        coe.coe_from_sv(np.array([7e6, 0, 0]), np.array([0, 7.5e3, 10]))


def test_state_vector_allocations_look_names_up_as_written(monkeypatch):
    # numpy.zeros(shape=..., dtype=numpy.double / COE_dt): `numpy.zeros` before the dtype.
    seen = []

    class Numpy:
        def __getattr__(self, name):
            seen.append(name)
            return getattr(np, name)

    monkeypatch.setattr(coe, "numpy", Numpy())
    coe.sv_from_coe(np.zeros(2, COE_dt))
    assert seen == ["zeros", "double", "zeros", "double", "asarray", "asarray"]
    monkeypatch.delattr(coe, "COE_dt")
    monkeypatch.delattr(coe, "numpy")
    with pytest.raises(NameError, match="'numpy'"):
        coe.coe_from_sv(np.array([7e6, 0, 0]), np.array([0, 7.5e3, 10]))


# ---- references and memory ------------------------------------------------------------------


def calls(x, e, gm, r, v, rec):
    yield lambda: coe.orp_from_sma(7e6, gm)
    yield lambda: coe.orp_from_sma(x, gm)
    yield lambda: coe.tra_from_mea(x, e)
    yield lambda: coe.tra_from_mea(0.5, e)
    yield lambda: coe.mea_from_tra(x.view(Plain), e)
    yield lambda: coe.coe_from_sv(r, v, gm)
    yield lambda: coe.sv_from_coe(rec, gm)
    yield lambda: coe.orp_from_sma(x, "bad")
    yield lambda: coe.eca_from_mea(x, np.zeros(1))
    yield lambda: coe.orp_from_sma(np.zeros(3, int), gm)
    yield lambda: coe.orp_from_sma([1.0], gm)
    yield lambda: coe.coe_from_sv(r, np.zeros((9, 3)), gm)
    yield lambda: coe.sv_from_coe(np.zeros(3), gm)
    yield lambda: coe.mea_from_eca(np.array([1.0, "x"], object).view(Plain), 0.1)


def churn(fns, times):
    for _ in range(times):
        for f in fns:
            try:
                f()
            except (TypeError, ValueError, AssertionError, AttributeError):
                pass


def test_no_references_kept():
    x = np.linspace(1.0, 5.0, 6)
    e = np.linspace(0.0, 0.5, 6)
    gm = 3.986004418e14 + 1.0  # a fresh float object
    r = np.ones((4, 3)) + np.eye(4, 3)
    v = np.arange(12.0).reshape(4, 3)
    rec = np.zeros(4, COE_dt)
    default = coe.orp_from_sma.__defaults__[0]
    objs = (x, e, gm, r, v, rec, default)
    fns = list(calls(x, e, gm, r, v, rec))
    churn(fns, 5)
    before = [sys.getrefcount(o) for o in objs]
    churn(fns, 200)
    assert [sys.getrefcount(o) for o in objs] == before


def test_no_memory_growth():
    x = np.linspace(1.0, 5.0, 6)
    e = np.linspace(0.0, 0.5, 6)
    r = np.ones((4, 3)) + np.eye(4, 3)
    v = np.arange(12.0).reshape(4, 3)
    fns = list(calls(x, e, 3.986004418e14, r, v, np.zeros(4, COE_dt)))
    churn(fns, 50)
    gc.collect()
    tracemalloc.start()
    try:
        snap = tracemalloc.take_snapshot()
        churn(fns, 500)
        gc.collect()
        grown = sum(s.size_diff for s in tracemalloc.take_snapshot().compare_to(snap, "filename"))
    finally:
        tracemalloc.stop()
    assert grown < 50_000
