"""Benchmark of orbivex.state.coe: ns per element on float64 arrays against a raw C++ loop over
the same kernels and against a NumPy-vectorised version of each algorithm, the fixed cost of
the state-vector functions on empty input against the allocation they must make, and the
per-call cost of a scalar call against math.atan2, all measured in one process.

`--repeat R` takes the best of R runs of each figure (default 5); the machine may be shared, so
figures are measured side by side, interleaved, and the minimum is kept."""

import argparse
import ctypes
import math
import timeit

import native_loops
import numpy as np

import orbivex.mathtools.misc.misc as misc
import orbivex.mathtools.quiver.quiver as quiver
import orbivex.state.coe as coe
from orbivex.datamodel import COE_dt

GM = 3.986004418e14
N = 1_000_000
P = ctypes.c_void_p


def pointer(module, name):
    api = ctypes.pythonapi
    api.PyCapsule_GetName.restype = ctypes.c_char_p
    api.PyCapsule_GetName.argtypes = [ctypes.py_object]
    api.PyCapsule_GetPointer.restype = ctypes.c_void_p
    api.PyCapsule_GetPointer.argtypes = [ctypes.py_object, ctypes.c_char_p]
    capsule = module.__pyx_capi__[name]
    return api.PyCapsule_GetPointer(capsule, api.PyCapsule_GetName(capsule))


class RawEnv(ctypes.Structure):
    _fields_ = [(n, P) for n in ("atan2", "dot", "cross", "norm", "normalize")]


def raw_loops():
    """coe_loop.cpp, built with the modules' flags by the benchmark_loops target."""
    dll = native_loops.load("coe_loop")
    for fn in (dll.loop_orp_from_sma, dll.loop_eca_from_mea):
        fn.argtypes = [P, ctypes.c_ssize_t, ctypes.c_double, P]
    dll.loop_tra_from_mea.argtypes = [P, ctypes.c_ssize_t, ctypes.c_double, P, P]
    dll.loop_coe_from_sv.argtypes = [
        P,
        P,
        ctypes.c_ssize_t,
        ctypes.c_double,
        P,
        ctypes.POINTER(RawEnv),
    ]
    dll.loop_sv_from_coe.argtypes = [P, ctypes.c_ssize_t, ctypes.c_double, P, P]
    return dll


# ---- NumPy-vectorised versions of the same algorithms ---------------------------------------


def np_orp_from_sma(a, gm=GM):
    return (2 * np.pi * a) * np.sqrt(a / gm)


def np_eca_from_mea(m, e):
    eca = np.where(m < np.pi, m + e, m - e)
    active = np.ones(m.shape, bool)
    while active.any():
        x = eca[active]
        inc = ((m[active] - x) + e * np.sin(x)) / (1.0 - e * np.cos(x))
        err = np.abs(inc / x)
        eca[active] = x + inc
        idx = np.flatnonzero(active)
        active[idx[~(err > 1e-7)]] = False
    return eca


def np_fold(y, x):
    a = np.arctan2(y, x)
    return np.where(a < 0.0, a + 2 * np.pi, a)


def np_tra_from_mea(m, e):
    eca = np_eca_from_mea(m, e)
    return np_fold(np.sqrt(1.0 - e * e) * np.sin(eca), np.cos(eca) - e)


def np_coe_from_sv(r, v, gm=GM):
    out = np.zeros(len(r), COE_dt)
    h = np.cross(r, v)
    h2 = np.einsum("ij,ij->i", h, h)
    hn = np.sqrt(h2)
    out["inc"] = np.arccos(h[:, 2] / hn)
    ur = r * (1.0 / np.linalg.norm(r, axis=1))[:, None]
    ev = np.cross(v, h) / gm - ur
    ecc = np.linalg.norm(ev, axis=1)
    out["slr"] = h2 / gm
    out["ecc"] = ecc
    out["sma"] = np.where(ecc == 1.0, np.inf, (h2 / gm) / (1.0 - ecc * ecc))
    raa = np.where(out["inc"] == 0.0, 0.0, np_fold(h[:, 0], -h[:, 1]))
    out["raa"] = raa
    un = np.stack([np.cos(raa), np.sin(raa), np.zeros_like(raa)], axis=1)
    uq = np.cross(h, un) / hn[:, None]
    out["arp"] = np.where(
        ecc == 0.0, 0.0, np_fold(np.einsum("ij,ij->i", uq, ev), np.einsum("ij,ij->i", un, ev))
    )
    ue = np.where((ecc == 0.0)[:, None], un, ev * (1.0 / ecc)[:, None])
    up = np.cross(h, ue) / hn[:, None]
    out["tra"] = np_fold(np.einsum("ij,ij->i", up, r), np.einsum("ij,ij->i", ue, r))
    return out


def np_sv_from_coe(c, gm=GM):
    si, ci = np.sin(c["inc"]), np.cos(c["inc"])
    sr, cr = np.sin(c["raa"]), np.cos(c["raa"])
    sa, ca = np.sin(c["arp"]), np.cos(c["arp"])
    st, ct = np.sin(c["tra"]), np.cos(c["tra"])
    rn = c["slr"] / (c["ecc"] * ct + 1.0)
    vq = np.sqrt(gm / c["slr"])
    p = np.stack([cr * ca - sr * sa * ci, sr * ca + cr * sa * ci, sa * si], axis=1)
    q = np.stack([-cr * sa - sr * ca * ci, -sr * sa + cr * ca * ci, ca * si], axis=1)
    r = (ct[:, None] * p + st[:, None] * q) * rn[:, None]
    v = ((c["ecc"] + ct)[:, None] * q - st[:, None] * p) * vq[:, None]
    return r, v


def best(fn, repeat=5):
    return min(timeit.repeat(fn, number=1, repeat=repeat))


def best_interleaved(fns, repeat, number=1):
    """Best time per call of each function (or statement, run with `number` and the globals of
    this module and coe), the functions taking turns in every round."""
    names = {**globals(), "coe": coe, "numpy": np, "COE_dt": COE_dt}
    timers = [timeit.Timer(fn, globals=names) for fn in fns]
    times = [float("inf")] * len(fns)
    for _ in range(repeat):
        for k, timer in enumerate(timers):
            times[k] = min(times[k], timer.timeit(number) / number)
    return times


def fixed_costs(repeat):
    """Empty input: each state-vector function against the numpy.zeros calls it must make,
    as statements written in Python (no wrapper around either)."""
    one_row_set = "numpy.zeros(shape=(0, 3), dtype=numpy.double)"
    rows = [
        (
            "coe_from_sv",
            "coe.coe_from_sv(EMPTY_ROWS, EMPTY_ROWS)",
            "numpy.zeros(shape=0, dtype=COE_dt)",
            "numpy.zeros(shape=0, dtype=COE_dt)",
        ),
        (
            "sv_from_coe",
            "coe.sv_from_coe(EMPTY_RECORDS)",
            f"{one_row_set}; {one_row_set}",
            f"2 x {one_row_set}",
        ),
    ]
    print(f"\nfixed cost (N = 0), best of {repeat}:")
    print(f"{'function':<14}{'ours ns':>9}{'alloc ns':>10}{'ratio':>8}  allocation")
    for name, ours, alloc, label in rows:
        t_ours, t_alloc = best_interleaved([ours, alloc], repeat, number=20_000)
        print(
            f"{name:<14}{t_ours * 1e9:>9.0f}{t_alloc * 1e9:>10.0f}{t_ours / t_alloc:>8.2f}  {label}"
        )


EMPTY_ROWS = np.zeros((0, 3))
EMPTY_RECORDS = np.zeros(0, COE_dt)


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--repeat", type=int, default=5)
    repeat = parser.parse_args().repeat
    rng = np.random.default_rng(7)
    sma = rng.uniform(6.6e6, 4.2e7, N)
    mea = rng.uniform(0.0, 2 * np.pi, N)
    r = rng.normal(size=(N, 3)) * 7e6
    v = rng.normal(size=(N, 3)) * 5e3
    elements = coe.coe_from_sv(r, v)
    out = np.empty(N)
    out_coe = np.empty(N, COE_dt)
    out_r, out_v = np.empty((N, 3)), np.empty((N, 3))
    atan2 = pointer(misc, "atan2_asymmetric")
    env = RawEnv(atan2, *(pointer(quiver, n) for n in ("dot", "cross", "norm", "normalize")))

    dll = raw_loops()
    d = lambda a: a.ctypes.data  # noqa: E731
    rows = [
        (
            "orp_from_sma",
            lambda: coe.orp_from_sma(sma),
            lambda: dll.loop_orp_from_sma(d(sma), N, GM, d(out)),
            lambda: np_orp_from_sma(sma),
            lambda: (coe.orp_from_sma(sma), out),
        ),
        (
            "eca_from_mea e=0.1",
            lambda: coe.eca_from_mea(mea, 0.1),
            lambda: dll.loop_eca_from_mea(d(mea), N, 0.1, d(out)),
            lambda: np_eca_from_mea(mea, 0.1),
            lambda: (coe.eca_from_mea(mea, 0.1), out),
        ),
        (
            "eca_from_mea e=0.9",
            lambda: coe.eca_from_mea(mea, 0.9),
            lambda: dll.loop_eca_from_mea(d(mea), N, 0.9, d(out)),
            lambda: np_eca_from_mea(mea, 0.9),
            lambda: (coe.eca_from_mea(mea, 0.9), out),
        ),
        (
            "tra_from_mea e=0.3",
            lambda: coe.tra_from_mea(mea, 0.3),
            lambda: dll.loop_tra_from_mea(d(mea), N, 0.3, d(out), atan2),
            lambda: np_tra_from_mea(mea, 0.3),
            lambda: (coe.tra_from_mea(mea, 0.3), out),
        ),
        (
            "coe_from_sv",
            lambda: coe.coe_from_sv(r, v),
            lambda: dll.loop_coe_from_sv(d(r), d(v), N, GM, d(out_coe), ctypes.byref(env)),
            lambda: np_coe_from_sv(r, v),
            lambda: (coe.coe_from_sv(r, v), out_coe),
        ),
        (
            "sv_from_coe",
            lambda: coe.sv_from_coe(elements),
            lambda: dll.loop_sv_from_coe(d(elements), N, GM, d(out_r), d(out_v)),
            lambda: np_sv_from_coe(elements),
            lambda: (np.concatenate(coe.sv_from_coe(elements)), np.concatenate([out_r, out_v])),
        ),
    ]
    print(f"N = {N:,} float64 elements; best of {repeat}\n")
    print(
        f"{'function':<20}{'ours ns':>9}{'C++ ns':>9}{'NumPy ns':>10}{'ours/C++':>10}"
        f"{'ours/NumPy':>12}  same bits as C++"
    )
    for name, ours, raw, vec, check in rows:
        t_ours, t_raw = best_interleaved([ours, raw], repeat)
        t_np = best(vec, repeat=3)
        got, ref = check()
        same = got.tobytes() == ref.tobytes()
        print(
            f"{name:<20}{t_ours / N * 1e9:>9.2f}{t_raw / N * 1e9:>9.2f}"
            f"{t_np / N * 1e9:>10.2f}{t_ours / t_raw:>10.3f}{t_ours / t_np:>12.3f}  {same}"
        )

    fixed_costs(repeat)

    setup = "from orbivex.state.coe import orp_from_sma; from math import atan2"
    number = 2_000_000
    t_coe = min(timeit.repeat("orp_from_sma(7e6)", setup, number=number, repeat=7)) / number
    t_atan2 = min(timeit.repeat("atan2(1.0, 2.0)", setup, number=number, repeat=7)) / number
    print(
        f"\nper call: orp_from_sma(7e6) {t_coe * 1e9:.1f} ns, math.atan2(1.0, 2.0) "
        f"{t_atan2 * 1e9:.1f} ns, ratio {t_coe / t_atan2:.3f}"
    )
    assert math.isfinite(t_coe)


if __name__ == "__main__":
    main()
