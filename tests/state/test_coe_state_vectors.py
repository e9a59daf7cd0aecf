"""coe_from_sv and sv_from_coe of orbivex.state.coe on whole arrays."""

import numpy as np
import pytest
from hypothesis import given, settings
from hypothesis import strategies as st
from hypothesis.extra import numpy as hnp

import orbivex.state.coe as coe
from orbivex.bodies.bodies import Earth
from orbivex.datamodel import COE_dt
from tests.helpers import bits
from tests.state import coe_reference as R

GM = float(Earth.GM)
FIELDS = ("ecc", "sma", "inc", "raa", "arp", "tra", "slr")


def record_bits(rec):
    return [bits(float(rec[f])) for f in FIELDS]


def leo(n=5, seed=1):
    rng = np.random.default_rng(seed)
    r = rng.uniform(-7e6, 7e6, (n, 3))
    r[:, 0] += 8e6
    v = rng.uniform(-3e3, 3e3, (n, 3))
    v[:, 1] += 7e3
    return r, v


@settings(max_examples=60, deadline=None)
@given(
    hnp.arrays(np.float64, st.tuples(st.integers(0, 6), st.just(3)), elements=st.floats(-1e8, 1e8)),
    hnp.arrays(np.float64, (6, 3), elements=st.floats(-1e4, 1e4)),
)
def test_coe_from_sv_matches_reference_per_row(r, v_all):
    v = v_all[: len(r)]
    out = coe.coe_from_sv(r, v, GM)
    assert out.dtype == COE_dt and out.shape == (len(r),)
    for i in range(len(r)):
        assert record_bits(out[i]) == [bits(x) for x in R.coe_from_sv(r[i], v[i], GM)]


def test_single_state_gives_one_record():
    r, v = leo(1)
    one = coe.coe_from_sv(r[0], v[0])
    assert one.shape == (1,) and one.dtype == COE_dt
    assert record_bits(one[0]) == record_bits(coe.coe_from_sv(r, v)[0])


def test_empty_input_and_empty_records():
    out = coe.coe_from_sv(np.zeros((0, 3)), np.zeros((0, 3)))
    assert out.shape == (0,) and out.dtype == COE_dt
    r, v = coe.sv_from_coe(np.zeros(0, COE_dt))
    assert r.shape == v.shape == (0, 3) and r.dtype == v.dtype == np.float64


def test_integer_and_non_contiguous_input():
    r = np.array([[7000000, 0, 0], [0, 8000000, 100]])
    v = np.array([[0, 7500, 10], [-7000, 0, 20]])
    got = coe.coe_from_sv(r, v)
    assert [record_bits(x) for x in got] == [
        record_bits(x) for x in coe.coe_from_sv(r.astype(float), v.astype(float))
    ]
    big_r, big_v = leo(8)
    got = coe.coe_from_sv(np.asfortranarray(big_r)[::2], big_v[::2])
    assert [record_bits(x) for x in got] == [
        record_bits(x) for x in coe.coe_from_sv(big_r[::2].copy(), big_v[::2].copy())
    ]


def test_degenerate_states_give_nan_records():
    out = coe.coe_from_sv(np.array([[7e6, 0, 0], [0, 0, 0]]), np.array([[14e6, 0, 0], [1, 2, 3]]))
    assert np.isnan(out.view(np.float64)).all()


@pytest.mark.parametrize(
    "r, v",
    [
        (np.zeros(3), np.zeros((1, 3))),
        (np.zeros((4, 3)), np.zeros((5, 3))),
        (np.zeros((2, 2)), np.zeros((2, 2))),
        (np.zeros(4), np.zeros(4)),
        (np.zeros((2, 3)), np.zeros(3)),
        (np.zeros((1, 1, 3)), np.zeros((1, 1, 3))),
    ],
)
def test_shape_checks_are_bare_assertions(r, v):
    with pytest.raises(AssertionError) as info:
        coe.coe_from_sv(r, v)
    assert info.value.args == ()


@pytest.mark.parametrize(
    "call, error",
    [
        (lambda: coe.coe_from_sv([7e6, 0, 0], [0, 7500, 0]), AttributeError),
        (lambda: coe.coe_from_sv(np.zeros(3), np.zeros(3), "GM"), TypeError),
        (
            lambda: coe.coe_from_sv(np.array([[1.0, "x", 2.0]], dtype=object), np.ones((1, 3))),
            TypeError,
        ),
        (lambda: coe.sv_from_coe(None), AttributeError),
        (lambda: coe.sv_from_coe(np.zeros(2, COE_dt), "GM"), TypeError),
        (lambda: coe.sv_from_coe(np.zeros(2, COE_dt)[0]), ValueError),
        (lambda: coe.sv_from_coe(np.zeros((2, 2), COE_dt)), ValueError),
        (lambda: coe.sv_from_coe(np.zeros(14)), ValueError),
        (lambda: coe.sv_from_coe(np.zeros((2, 7))), ValueError),
        (lambda: coe.sv_from_coe(np.zeros(2, [(f, "f4") for f in FIELDS])), ValueError),
        (lambda: coe.sv_from_coe(np.zeros(2, [(f, ">f8") for f in FIELDS])), ValueError),
        (lambda: coe.sv_from_coe(np.zeros(2, [(f, "f8") for f in FIELDS[:6]])), ValueError),
        # Seven doubles, but not seven fields.
        (lambda: coe.sv_from_coe(np.zeros(2, [("e", "f8", (7,))])), ValueError),
        (lambda: coe.sv_from_coe(np.zeros(2, [("e", "f8"), ("rest", "f8", (6,))])), ValueError),
        # A record of one double is not a double.
        (lambda: coe.orp_from_sma(np.zeros(2, [("sma", "f8")])), ValueError),
    ],
)
def test_state_vector_errors(call, error):
    with pytest.raises(error):
        call()


def test_read_only_records_are_refused():
    rec = np.zeros(2, COE_dt)
    rec.flags.writeable = False
    with pytest.raises(ValueError, match="read-only"):
        coe.sv_from_coe(rec)


def test_sv_from_coe_matches_reference_and_ignores_sma():
    r, v = leo(6)
    elements = coe.coe_from_sv(r, v)
    pr, pv = coe.sv_from_coe(elements)
    for i, e in enumerate(elements):
        er, ev = R.sv_from_coe(
            *(float(e[f]) for f in ("ecc", "inc", "raa", "arp", "tra", "slr")), GM
        )
        assert [bits(x) for x in pr[i]] == [bits(x) for x in er]
        assert [bits(x) for x in pv[i]] == [bits(x) for x in ev]
    np.testing.assert_allclose(pr, r, rtol=0, atol=1e-3)
    np.testing.assert_allclose(pv, v, rtol=0, atol=1e-6)
    changed = elements.copy()
    changed["sma"] = [1.0, -2.0, np.inf, np.nan, 0.0, 5.0]
    cr, cv = coe.sv_from_coe(changed)
    assert cr.tobytes() == pr.tobytes() and cv.tobytes() == pv.tobytes()


def test_records_by_layout_not_by_name_and_strided():
    r, v = leo(6)
    elements = coe.coe_from_sv(r, v)
    renamed = elements.view([(f"f{i}", "f8") for i in range(7)])
    a = coe.sv_from_coe(renamed)
    b = coe.sv_from_coe(elements)
    assert a[0].tobytes() == b[0].tobytes() and a[1].tobytes() == b[1].tobytes()
    s = coe.sv_from_coe(elements[::2])
    assert s[0].tobytes() == b[0][::2].copy().tobytes()
    assert s[1].tobytes() == b[1][::2].copy().tobytes()


def test_gm_default_and_explicit():
    r, v = leo(3)
    assert coe.coe_from_sv(r, v).tobytes() == coe.coe_from_sv(r, v, GM).tobytes()
    assert coe.coe_from_sv(r, v, GM=1e14).tobytes() != coe.coe_from_sv(r, v).tobytes()
    e = coe.coe_from_sv(r, v)
    assert coe.sv_from_coe(e, 1e14)[1].tobytes() == coe.sv_from_coe(coe=e, GM=1e14)[1].tobytes()
