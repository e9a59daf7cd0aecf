"""The 3-vector kernels of quiver, bound from its native table as a consumer binds them."""

import ctypes
import math
import threading

import pytest
from hypothesis import given
from hypothesis import strategies as st

from tests.capsules import bind_function, table
from tests.helpers import bits
from tests.mathtools import quiver_reference as ref
from tests.mathtools.quiver_reference import QUIVER, TEXTS

Vec = ctypes.c_double * 3
Mat = Vec * 3
P = ctypes.POINTER(ctypes.c_double)
PRow = ctypes.POINTER(Vec)
D = ctypes.c_double

# Lock-free kernels, called with the interpreter lock released (ctypes.CFUNCTYPE).
scale = bind_function(QUIVER, "scale", TEXTS["scale"], None, D, P, P)
add = bind_function(QUIVER, "add", TEXTS["add"], None, P, P, P)
sub = bind_function(QUIVER, "sub", TEXTS["sub"], None, P, P, P)
dot = bind_function(QUIVER, "dot", TEXTS["dot"], D, P, P)
cross = bind_function(QUIVER, "cross", TEXTS["cross"], None, P, P, P)
norm = bind_function(QUIVER, "norm", TEXTS["norm"], D, P)
angle = bind_function(QUIVER, "angle", TEXTS["angle"], D, P, P)
normalize = bind_function(QUIVER, "normalize", TEXTS["normalize"], None, P, P)
mat_x_vec = bind_function(QUIVER, "mat_x_vec", TEXTS["mat_x_vec"], None, PRow, P, P)


def call_out(fn, *inputs):
    """Runs a kernel that writes a 3-vector and returns that output as a list."""
    out = Vec()
    fn(*inputs, out)
    return list(out)


def test_table_publishes_its_entries_in_order_with_exact_texts():
    assert table(QUIVER) == TEXTS
    assert list(table(QUIVER)) == list(TEXTS)


def test_module_surface_is_numpy_and_the_table_only():
    import numpy

    import orbivex.mathtools.quiver.quiver as quiver

    assert quiver.numpy is numpy
    public = {n for n in vars(quiver) if not n.startswith("__")}
    assert public == {"numpy"}


@pytest.mark.parametrize(
    "a, b, expected",
    [
        ((1, 1, 1), (1, 1, 1), math.nan),  # quotient rounds to 1.0000000000000002, no clamping
        ((1, 2, 3), (1, 2, 3), 0.0),
        ((1, 0, 0), (0, 1, 0), math.pi / 2),
        ((1, 0, 0), (-1, 0, 0), math.pi),
        ((0, 0, 0), (1, 2, 3), math.nan),
        ((1, 2, 3), (0, 0, 0), math.nan),
        ((math.inf, 0, 0), (1, 0, 0), math.nan),
    ],
)
def test_angle_cases(a, b, expected):
    assert bits(angle(Vec(*a), Vec(*b))) == bits(expected)


@pytest.mark.parametrize(
    "a, expected",
    [
        ((3, 4, 0), [0.6000000000000001, 0.8, 0.0]),  # times the rounded 1/5, not divided by 5
        ((0, 0, 0), [math.nan] * 3),
        ((-0.0, 0, -2), [-0.0, 0.0, -1.0]),
        ((math.inf, 0, 0), [math.nan, 0.0, 0.0]),  # 1/inf is 0, and inf·0 is NaN
    ],
)
def test_normalize_cases(a, expected):
    assert bits(call_out(normalize, Vec(*a))) == bits(expected)


@pytest.mark.parametrize(
    "a, expected",
    [
        ((1e200, 1e200, 0), math.inf),  # squares overflow: no rescaling
        ((1e-200, 1e-200, 0), 0.0),  # and underflow
        ((3, 4, 12), 13.0),
        ((-0.0, 0.0, -0.0), 0.0),
        ((math.nan, 0, 0), math.nan),
    ],
)
def test_norm_cases(a, expected):
    assert bits(norm(Vec(*a))) == bits(expected)


def test_cross_basis_and_antisymmetry():
    assert call_out(cross, Vec(1, 0, 0), Vec(0, 1, 0)) == [0.0, 0.0, 1.0]
    a, b = Vec(1.5, -2.25, 3.0), Vec(-0.5, 7.0, 2.0)
    ab, ba = call_out(cross, a, b), call_out(cross, b, a)
    assert ab == [-x for x in ba]


IDENTITY = Mat(Vec(1, 0, 0), Vec(0, 1, 0), Vec(0, 0, 1))


@pytest.mark.parametrize(
    "a, expected",
    [
        ((1.5, -2.0, 3.25), [1.5, -2.0, 3.25]),
        ((-0.0, -0.0, 1.0), [0.0, 0.0, 1.0]),  # the row sums start at +0.0
        ((math.inf, 1.0, 2.0), [math.inf, math.nan, math.nan]),  # 0·inf in rows 1 and 2
    ],
)
def test_mat_x_vec_identity(a, expected):
    assert bits(call_out(mat_x_vec, IDENTITY, Vec(*a))) == bits(expected)


def test_mat_x_vec_is_row_major():
    m = Mat(Vec(1, 2, 3), Vec(4, 5, 6), Vec(7, 8, 9))
    assert call_out(mat_x_vec, m, Vec(1, 0, 0)) == [1.0, 4.0, 7.0]


def test_in_place_use_matches_separate_output():
    v = Vec(3.0, -7.5, 0.1)
    expected = call_out(normalize, v)
    normalize(v, v)
    assert list(v) == expected
    a, b = Vec(0.1, 0.2, 0.3), Vec(1e16, -1.0, 3.0)
    expected = call_out(add, a, b)
    add(a, b, a)
    assert list(a) == expected
    a = Vec(0.1, 0.2, 0.3)
    expected = call_out(sub, a, b)
    sub(a, b, b)
    assert list(b) == expected
    expected = call_out(scale, 1.0 / 3.0, a)
    scale(1.0 / 3.0, a, a)
    assert list(a) == expected


def test_inputs_are_not_written():
    a, b = Vec(1, 2, 3), Vec(-4, 5, 0.5)
    for fn in (add, sub, cross):
        call_out(fn, a, b)
    normalize(a, Vec())
    angle(a, b)
    assert list(a) == [1, 2, 3] and list(b) == [-4, 5, 0.5]


# Any binary64 value, including signed zeros, subnormals, infinities and NaN.
anyfloat = st.floats(allow_nan=True, allow_infinity=True, width=64)
vec = st.tuples(anyfloat, anyfloat, anyfloat)


@given(vec, vec, anyfloat)
def test_vector_kernels_match_the_formulas_bit_for_bit(a, b, s):
    va, vb = Vec(*a), Vec(*b)
    assert bits(call_out(scale, s, va)) == bits(ref.scale(s, a))
    assert bits(call_out(add, va, vb)) == bits(ref.add(a, b))
    assert bits(call_out(sub, va, vb)) == bits(ref.sub(a, b))
    assert bits(dot(va, vb)) == bits(ref.dot(a, b))
    assert bits(call_out(cross, va, vb)) == bits(ref.cross(a, b))
    assert bits(norm(va)) == bits(ref.norm(a))
    assert bits(call_out(normalize, va)) == bits(ref.normalize(a))


# Moderate magnitudes so that the angle's quotient is usually inside [-1, 1].
moderate = st.floats(min_value=-1e6, max_value=1e6, allow_nan=False, width=64)
mvec = st.tuples(moderate, moderate, moderate)


@given(mvec, mvec)
def test_angle_matches_the_formula_bit_for_bit(a, b):
    assert bits(angle(Vec(*a), Vec(*b))) == bits(ref.angle(a, b))


@given(st.tuples(vec, vec, vec), vec)
def test_mat_x_vec_matches_the_formula_bit_for_bit(m, a):
    got = call_out(mat_x_vec, Mat(*(Vec(*row) for row in m)), Vec(*a))
    assert bits(got) == bits(ref.mat_x_vec(m, a))


def test_kernels_run_concurrently_without_the_lock():
    # ctypes releases the interpreter lock around each call: several threads at once.
    expected = call_out(normalize, Vec(1.0, 2.0, 3.0))
    failures = []

    def work():
        for _ in range(2000):
            if call_out(normalize, Vec(1.0, 2.0, 3.0)) != expected:
                failures.append(1)

    threads = [threading.Thread(target=work) for _ in range(4)]
    for t in threads:
        t.start()
    for t in threads:
        t.join()
    assert not failures
