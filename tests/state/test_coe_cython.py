"""A Cython module that cimports coe.pxd binds the native table of orbivex.state.coe (names and
signature texts as Cython derives them) and gets the numbers of the Python functions."""

import numpy as np
import pytest

import orbivex.state.coe as coe
from tests.cython_build import build_consumer, generated_c
from tests.helpers import bits

CONSUMER = """
from orbivex.datamodel.structured cimport COE_t
from orbivex.state.coe cimport (
    _2pi, c_orp_from_sma, c_sma_from_orp, c_mnm_from_sma, c_sma_from_mnm,
    c_eca_from_mea, c_mea_from_eca, c_eca_from_tra, c_tra_from_eca, c_tra_from_mea,
    c_mea_from_tra, c_pge_from_sma_ecc, c_apg_from_sma_ecc, c_sma_from_pge_apg,
    c_sma_from_ecc_pge, c_sma_from_ecc_apg, c_ecc_from_pge_apg, c_ecc_from_sma_pge,
    c_ecc_from_sma_apg, c_coe_from_sv, c_sv_from_coe)

def two_pi():
    return _2pi

def sizes(double x, double gm):
    return [c_orp_from_sma(x, gm), c_sma_from_orp(x, gm), c_mnm_from_sma(x, gm),
            c_sma_from_mnm(x, gm)]

def anomalies(double x, double e):
    return [c_eca_from_mea(x, e), c_mea_from_eca(x, e), c_eca_from_tra(x, e),
            c_tra_from_eca(x, e), c_tra_from_mea(x, e), c_mea_from_tra(x, e)]

def shapes(double a, double b, double re):
    return [c_pge_from_sma_ecc(a, b, re), c_apg_from_sma_ecc(a, b, re),
            c_sma_from_pge_apg(a, b, re), c_sma_from_ecc_pge(a, b, re),
            c_sma_from_ecc_apg(a, b, re), c_ecc_from_pge_apg(a, b, re),
            c_ecc_from_sma_pge(a, b, re), c_ecc_from_sma_apg(a, b, re)]

def nogil_kepler(double[:] m, double e):
    cdef Py_ssize_t i
    cdef double[:] out = m.copy()
    with nogil:
        for i in range(m.shape[0]):
            out[i] = c_tra_from_mea(m[i], e)
    return list(out)

def state(double[:] r, double[:] v, double gm):
    cdef COE_t c
    cdef double r2[3]
    cdef double v2[3]
    c_coe_from_sv(&r[0], &v[0], gm, &c)
    c_sv_from_coe(c, gm, r2, v2)
    return c, [r2[0], r2[1], r2[2]], [v2[0], v2[1], v2[2]]
"""


@pytest.fixture(scope="module")
def consumer(tmp_path_factory):
    return build_consumer(tmp_path_factory.mktemp("coe_consumer"), "coe_consumer", CONSUMER)


def test_generated_signature_texts_are_the_published_ones(tmp_path):
    c_text = generated_c(tmp_path, "coe_texts", CONSUMER)
    from tests.capsules import table

    for name, text in table("orbivex.state.coe").items():
        assert text in c_text, (name, text)


def test_consumer_binds_and_agrees(consumer):
    assert consumer.two_pi() == 6.283185307179586
    for x, gm in [(7e6, 3.986004418e14), (0.0, 1.0), (-1.0, 3.986004418e14)]:
        py = [
            coe.orp_from_sma(x, gm),
            coe.sma_from_orp(x, gm),
            coe.mnm_from_sma(x, gm),
            coe.sma_from_mnm(x, gm),
        ]
        assert bits(consumer.sizes(x, gm)) == bits(py)
    for x, e in [(0.3, 0.1), (7.0, 0.6), (-3.0, 0.5), (19.654965781773733, 0.8291313354603675)]:
        py = [
            getattr(coe, n)(x, e)
            for n in (
                "eca_from_mea",
                "mea_from_eca",
                "eca_from_tra",
                "tra_from_eca",
                "tra_from_mea",
                "mea_from_tra",
            )
        ]
        assert bits(consumer.anomalies(x, e)) == bits(py)
    m = np.linspace(-10, 10, 9)
    assert bits(consumer.nogil_kepler(m, 0.4)) == bits(coe.tra_from_mea(m, 0.4))


def test_consumer_shapes_and_state_vectors(consumer):
    re = 6378137.0
    got = consumer.shapes(7e6, 0.01, re)
    assert got[0] == (0.99 * 7e6) - re and got[5] == (0.01 - 7e6) / (((7e6 + 0.01) + re) + re)
    r = np.array([7e6, 1e5, 3e4])
    v = np.array([10.0, 7500.0, 900.0])
    rec, r2, v2 = consumer.state(r, v, 3.986004418e14)
    expected = coe.coe_from_sv(r, v, 3.986004418e14)[0]
    assert bits([rec[f] for f in expected.dtype.names]) == bits(list(expected))
    pr, pv = coe.sv_from_coe(np.array([expected]), 3.986004418e14)
    assert bits(r2 + v2) == bits(list(pr[0]) + list(pv[0]))
