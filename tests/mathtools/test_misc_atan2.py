"""atan2_asymmetric of orbivex.mathtools.misc.misc, bound from its native table."""

import ctypes
import math

import pytest
from hypothesis import given
from hypothesis import strategies as st

import orbivex.mathtools.misc.misc as misc
from tests.capsules import bind_function, table

MISC = "orbivex.mathtools.misc.misc"
TEXT = "double (double const , double const )"
TWO_PI = 6.283185307179586
D = ctypes.c_double
# Lock-free: called with the interpreter lock released.
atan2_asymmetric = bind_function(MISC, "atan2_asymmetric", TEXT, D, D, D)


def reference(y, x):
    a = math.atan2(y, x)
    return a + TWO_PI if a < 0.0 else a


def test_table_and_surface():
    assert table(MISC) == {"atan2_asymmetric": TEXT}
    assert {n for n in vars(misc) if not n.startswith("__")} == set()


def test_wrong_text_is_refused_by_a_binder():
    with pytest.raises(TypeError, match=r"expected 'double \(double, double\)'"):
        bind_function(MISC, "atan2_asymmetric", "double (double, double)", D, D, D)


@pytest.mark.parametrize(
    "y, x, expected",
    [
        (0.0, 1.0, 0.0),
        (1.0, 0.0, math.pi / 2),
        (0.0, -1.0, math.pi),  # atan2's upper bound, kept
        (-1.0, 0.0, 3 * math.pi / 2),
        (-1.0, 1.0, 7 * math.pi / 4),
        (-1e-300, 1.0, TWO_PI),  # a tiny negative angle rounds up to exactly 2π
        (-5e-324, 1.0, TWO_PI),
        (-1e-17, 1.0, TWO_PI),
        (-0.0, 1.0, -0.0),  # not negative: passes through
        (-0.0, -1.0, math.pi),  # atan2(-0, -1) is -π, folded to π
        (math.nan, 1.0, math.nan),
        (1.0, math.nan, math.nan),
        (-math.inf, math.inf, 7 * math.pi / 4),
    ],
)
def test_cases(y, x, expected):
    got = atan2_asymmetric(y, x)
    if math.isnan(expected):
        assert math.isnan(got)
    else:
        assert got == expected and math.copysign(1, got) == math.copysign(1, expected)


finite = st.floats(allow_nan=False, allow_infinity=True, width=64)


@given(finite, finite)
def test_range_and_formula(y, x):
    got = atan2_asymmetric(y, x)
    assert 0.0 <= got <= TWO_PI
    assert got == reference(y, x)
