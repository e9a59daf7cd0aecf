"""Pure-Python reference of the 3-vector kernels, written from their formulas (Python floats are
binary64 and never fused, so results must agree to the bit), and the table quiver must publish."""

import math

QUIVER = "orbivex.mathtools.quiver.quiver"
# quiver's native table: entry names in publication order, with their exact signature texts.
TEXTS = {
    "scale": "void (double const , double *, double *)",
    "add": "void (double *, double *, double *)",
    "sub": "void (double *, double *, double *)",
    "dot": "double (double *, double *)",
    "cross": "void (double *, double *, double *)",
    "norm": "double (double *)",
    "norm_array": "PyObject *(PyObject *)",
    "angle": "double (double *, double *)",
    "normalize": "void (double *, double *)",
    "normalize_array": "PyObject *(PyObject *)",
    "mat_x_vec": "void (double (*)[3], double *, double *)",
}


def scale(s, a):
    return [a[0] * s, a[1] * s, a[2] * s]


def add(a, b):
    return [a[0] + b[0], a[1] + b[1], a[2] + b[2]]


def sub(a, b):
    return [a[0] - b[0], a[1] - b[1], a[2] - b[2]]


def dot(a, b):
    return (a[0] * b[0] + a[1] * b[1]) + a[2] * b[2]


def cross(a, b):
    return [a[1] * b[2] - a[2] * b[1], a[2] * b[0] - a[0] * b[2], a[0] * b[1] - a[1] * b[0]]


def norm(a):
    return math.sqrt((a[0] * a[0] + a[1] * a[1]) + a[2] * a[2])


def _acos(x):
    # math.acos raises outside [-1, 1] where C's acos returns NaN.
    return math.acos(x) if -1.0 <= x <= 1.0 else math.nan


def angle(a, b):
    d = dot(a, b)
    na = norm(a)
    nb = norm(b)
    if na == 0.0 or nb == 0.0:
        return math.nan  # IEEE: x/0 is ±inf or NaN, and acos of either is NaN
    return _acos((d / na) / nb)


def normalize(a):
    n = norm(a)
    f = 1.0 / n if n else math.inf
    return scale(f, a)


def mat_x_vec(m, a):
    out = []
    for i in range(3):
        acc = 0.0
        acc += m[i][0] * a[0]
        acc += m[i][1] * a[1]
        acc += m[i][2] * a[2]
        out.append(acc)
    return out
