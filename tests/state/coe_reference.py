"""Pure-Python reference of the coe kernels, written from the formulas, for bit-exact comparison.

Python floats are binary64 with one rounding per operation, so writing each formula in its
evaluation order reproduces the native kernels bit for bit, given the same libm functions."""

import ctypes
import ctypes.util
import math

TWO_PI = 6.283185307179586
PI = 3.141592653589793
RTOL = 1e-7
NAN = float("nan")

_libm = ctypes.CDLL(ctypes.util.find_library("m"))
_libm.cbrt.restype = ctypes.c_double
_libm.cbrt.argtypes = [ctypes.c_double]


def cbrt(x):
    """The platform's cube root (not correctly rounded: cbrt(27.0) need not be 3.0)."""
    return _libm.cbrt(x)


def sqrt(x):
    return math.sqrt(x) if x >= 0.0 or math.isnan(x) else NAN


def _sin(x):
    return math.sin(x) if math.isfinite(x) else NAN


def _cos(x):
    return math.cos(x) if math.isfinite(x) else NAN


def _div(a, b):
    """IEEE division: Python raises on a zero divisor."""
    if b == 0.0:
        if a == 0.0 or math.isnan(a):
            return NAN
        return math.copysign(math.inf, a) * math.copysign(1.0, b)
    return a / b


def atan2_asymmetric(y, x):
    a = math.atan2(y, x)
    return a + TWO_PI if a < 0.0 else a


def orp_from_sma(sma, gm):
    t = TWO_PI * sma
    return t * sqrt(_div(sma, gm))


def sma_from_orp(orp, gm):
    u = (gm * orp) / TWO_PI
    return cbrt((orp * u) / TWO_PI)


def mnm_from_sma(sma, gm):
    return _div(sqrt(_div(gm, sma)), sma)


def sma_from_mnm(mnm, gm):
    return cbrt(_div(_div(gm, mnm), mnm))


def pge_from_sma_ecc(sma, ecc, re):
    return ((1.0 - ecc) * sma) - re


def apg_from_sma_ecc(sma, ecc, re):
    return (sma * (ecc + 1.0)) - re


def sma_from_pge_apg(pge, apg, re):
    return ((apg + pge) * 0.5) + re


def sma_from_ecc_pge(ecc, pge, re):
    return _div(re + pge, 1.0 - ecc)


def sma_from_ecc_apg(ecc, apg, re):
    return _div(re + apg, ecc + 1.0)


def ecc_from_pge_apg(pge, apg, re):
    return _div(apg - pge, ((pge + apg) + re) + re)


def ecc_from_sma_pge(sma, pge, re):
    return 1.0 - _div(re + pge, sma)


def ecc_from_sma_apg(sma, apg, re):
    return _div(re + apg, sma) - 1.0


def mea_from_eca(eca, ecc):
    return eca - ecc * _sin(eca)


def newton_steps(mea, ecc, limit):
    """Newton iterates of Kepler's equation as the solver takes them: (estimates, converged)."""
    eca = mea + ecc if mea < PI else mea - ecc
    seen = []
    for _ in range(limit):
        s, c = _sin(eca), _cos(eca)
        increment = _div((mea - eca) + ecc * s, 1.0 - ecc * c)
        error = abs(_div(increment, eca))
        eca = eca + increment
        seen.append(eca)
        if not error > RTOL:
            return seen, True
    return seen, False


def eca_from_mea(mea, ecc, limit=2_000_000):
    """Plain Newton; None when it has not stopped within `limit` steps."""
    if mea == 0.0 or mea == PI or ecc == 0.0:
        return mea
    seen, done = newton_steps(mea, ecc, limit)
    return seen[-1] if done else None


def eca_from_tra(tra, ecc):
    s, c = _sin(tra), _cos(tra)
    x = c + ecc
    y = sqrt(1.0 - ecc * ecc) * s
    return atan2_asymmetric(y, x)


def tra_from_eca(eca, ecc):
    s, c = _sin(eca), _cos(eca)
    x = c - ecc
    y = sqrt(1.0 - ecc * ecc) * s
    return atan2_asymmetric(y, x)


def tra_from_mea(mea, ecc):
    eca = eca_from_mea(mea, ecc)
    return None if eca is None else tra_from_eca(eca, ecc)


def mea_from_tra(tra, ecc):
    return mea_from_eca(eca_from_tra(tra, ecc), ecc)


# 3-vector helpers in the operation orders of the vector kernels.
def _dot(a, b):
    return (a[0] * b[0] + a[1] * b[1]) + a[2] * b[2]


def _cross(a, b):
    return [a[1] * b[2] - a[2] * b[1], a[2] * b[0] - a[0] * b[2], a[0] * b[1] - a[1] * b[0]]


def _norm(a):
    return sqrt((a[0] * a[0] + a[1] * a[1]) + a[2] * a[2])


def _normalize(a):
    f = _div(1.0, _norm(a))
    return [a[0] * f, a[1] * f, a[2] * f]


def coe_from_sv(r, v, gm):
    """(ecc, sma, inc, raa, arp, tra, slr)."""
    r = [float(x) for x in r]
    v = [float(x) for x in v]
    h = _cross(r, v)
    l2 = _dot(h, h)
    if l2 == 0.0:
        return (NAN,) * 7
    l_norm = sqrt(l2)
    q = h[2] / l_norm
    inc = math.acos(q) if -1.0 <= q <= 1.0 else NAN
    u_r = _normalize(r)
    e = _cross(v, h)
    e = [_div(e[k], gm) - u_r[k] for k in range(3)]
    ecc = _norm(e)
    slr = _div(l2, gm)
    sma = math.inf if ecc == 1.0 else _div(_div(l2, gm), 1.0 - ecc * ecc)
    raa = 0.0 if inc == 0.0 else atan2_asymmetric(h[0], -h[1])
    u_n = [_cos(raa), _sin(raa), 0.0]
    if ecc == 0.0:
        arp = 0.0
        u_e = u_n
    else:
        u_q = [x / l_norm for x in _cross(h, u_n)]
        arp = atan2_asymmetric(_dot(u_q, e), _dot(u_n, e))
        u_e = _normalize(e)
    u_p = [x / l_norm for x in _cross(h, u_e)]
    tra = atan2_asymmetric(_dot(u_p, r), _dot(u_e, r))
    return (ecc, sma, inc, raa, arp, tra, slr)


def sv_from_coe(ecc, inc, raa, arp, tra, slr, gm):
    """(r, v) as two lists."""
    si, ci = _sin(inc), _cos(inc)
    sr, cr = _sin(raa), _cos(raa)
    sa, ca = _sin(arp), _cos(arp)
    st, ct = _sin(tra), _cos(tra)
    r_norm = _div(slr, ecc * ct + 1.0)
    vq = sqrt(_div(gm, slr))
    rot = [
        [cr * ca - sr * sa * ci, -cr * sa - sr * ca * ci],
        [sr * ca + cr * sa * ci, -sr * sa + cr * ca * ci],
        [sa * si, ca * si],
    ]
    r = [(ct * rot[i][0] + st * rot[i][1]) * r_norm for i in range(3)]
    v = [((ecc + ct) * rot[i][1] - st * rot[i][0]) * vq for i in range(3)]
    return r, v
