"""A Cython module that cimports quiver's and misc's .pxd declarations binds their native tables
(Cython checks each signature text at import) and gets the same results as the kernels."""

import numpy as np
import pytest

import orbivex.mathtools.misc.misc as misc
import orbivex.mathtools.quiver.quiver as quiver
from tests.capsules import table
from tests.cython_build import build_consumer, generated_c
from tests.helpers import bits
from tests.mathtools import quiver_reference as ref

# Every entry the modules publish is cimported, so the import checks each one's text.
CONSUMER = (
    f"""
from orbivex.mathtools.quiver.quiver cimport {", ".join(table(quiver))}
from orbivex.mathtools.misc.misc cimport {", ".join(table(misc))}
"""
    + """
cdef list as_list(double* v):
    return [v[0], v[1], v[2]]

def vector_ops(a, b, double s):
    cdef double va[3]
    cdef double vb[3]
    cdef double out[3]
    cdef double m[3][3]
    cdef double d, n, t, q
    for k in range(3):
        va[k] = a[k]
        vb[k] = b[k]
        m[0][k] = a[k]
        m[1][k] = b[k]
        m[2][k] = s
    res = {}
    with nogil:
        d = dot(va, vb)
        n = norm(va)
        t = angle(va, vb)
        q = atan2_asymmetric(va[1], va[0])
    res.update(dot=d, norm=n, angle=t, atan2=q)
    with nogil:
        scale(s, va, out)
    res["scale"] = as_list(out)
    with nogil:
        add(va, vb, out)
    res["add"] = as_list(out)
    with nogil:
        sub(va, vb, out)
    res["sub"] = as_list(out)
    with nogil:
        cross(va, vb, out)
    res["cross"] = as_list(out)
    with nogil:
        normalize(va, out)
    res["normalize"] = as_list(out)
    with nogil:
        mat_x_vec(m, vb, out)
    res["mat_x_vec"] = as_list(out)
    return res

def rows(a):
    return norm_array(a), normalize_array(a)
"""
)


@pytest.fixture(scope="module")
def consumer(tmp_path_factory):
    return build_consumer(tmp_path_factory.mktemp("quiver_consumer"), "quiver_consumer", CONSUMER)


@pytest.mark.parametrize(
    "a, b, s",
    [
        ((3.0, 4.0, 0.0), (1.0, 1.0, 1.0), 0.5),
        ((1.0, 1.0, 1.0), (1.0, 1.0, 1.0), -2.0),
        ((-0.0, -1e-300, 2.5), (1e200, -3.0, 0.1), 1e-3),
    ],
)
def test_consumer_gets_the_kernels(consumer, a, b, s):
    res = consumer.vector_ops(a, b, s)
    assert bits(res["dot"]) == bits(ref.dot(a, b))
    assert bits(res["norm"]) == bits(ref.norm(a))
    assert bits(res["angle"]) == bits(ref.angle(a, b))
    assert bits(res["scale"]) == bits(ref.scale(s, a))
    assert bits(res["add"]) == bits(ref.add(a, b))
    assert bits(res["sub"]) == bits(ref.sub(a, b))
    assert bits(res["cross"]) == bits(ref.cross(a, b))
    assert bits(res["normalize"]) == bits(ref.normalize(a))
    assert bits(res["mat_x_vec"]) == bits(ref.mat_x_vec([a, b, (s, s, s)], b))
    assert 0.0 <= res["atan2"] <= 6.283185307179586


def test_consumer_gets_the_row_kernels(consumer):
    a = np.array([[3.0, 4.0, 0.0, 1.0], [0.0, 0.0, 0.0, 1.0]])
    n, u = consumer.rows(a)
    assert n.tolist() == [5.0, 0.0]
    assert u[0].tolist() == [0.6000000000000001, 0.8, 0.0] and np.isnan(u[1]).all()
    with pytest.raises(ValueError, match="needs at least 3 columns"):
        consumer.rows(np.zeros((2, 2)))


def test_generated_texts_are_the_published_ones(tmp_path):
    c = generated_c(tmp_path, "texts", CONSUMER)
    for text in {**table(quiver), **table(misc)}.values():
        assert text in c


def test_a_different_declaration_is_refused_at_import(tmp_path):
    # A .pxd that declares atan2_asymmetric without const parameters, found before ours.
    fake = tmp_path / "fake" / "orbivex" / "mathtools" / "misc"
    fake.mkdir(parents=True)
    for d in (fake.parent.parent, fake.parent, fake):
        (d / "__init__.pxd").write_text("")
    (fake / "misc.pxd").write_text("cdef double atan2_asymmetric(double y, double x)\n")
    source = "from orbivex.mathtools.misc.misc cimport atan2_asymmetric\n"
    with pytest.raises(TypeError) as exc:
        build_consumer(tmp_path, "wrong", source, include_dirs=[tmp_path / "fake"])
    assert str(exc.value) == (
        "C function orbivex.mathtools.misc.misc.atan2_asymmetric has wrong signature "
        "(expected double (double, double), got double (double const , double const ))"
    )
