"""ctypes view of the SGP4/SDP4 kernels through the test-only shim (shim.cpp), compiled with the
project's flags, with NumPy arrays in and out."""

import ctypes
import subprocess
from pathlib import Path

import numpy as np

HERE = Path(__file__).resolve().parent
ROOT = HERE.parents[2]
FLAGS = [
    "-std=c++20",
    "-O2",
    "-ffp-contract=off",
    "-fno-fast-math",
    "-Wall",
    "-Wextra",
    "-shared",
    "-fPIC",
]

GRAVITY = {"wgs72old": 0, "wgs72": 1, "wgs84": 2}
ISA = {"generic": 1, "avx2": 2, "avx512": 3}
FAMILIES = ("near", "deep", "deep_synchronous", "deep_half_day")

P, I64, I32, F64 = ctypes.c_void_p, ctypes.c_int64, ctypes.c_int32, ctypes.c_double


def build(out: Path) -> Path:
    subprocess.run(
        ["c++", *FLAGS, "-I", str(ROOT / "native"), str(HERE / "shim.cpp"), "-o", str(out)],
        check=True,
    )
    return out


def _p(a):
    return a.ctypes.data_as(P)


class Kernel:
    def __init__(self, path):
        lib = self.lib = ctypes.CDLL(str(path))
        for name, res, args in (
            ("sgp4_record_size", I64, []),
            ("sgp4_best_isa", ctypes.c_int, []),
            ("sgp4_init", None, [I64, P, P, ctypes.c_int, ctypes.c_char, P, P]),
            ("sgp4_scalar", None, [I64, P, I64, P, P, P, P, ctypes.c_int]),
            (
                "sgp4_grid_times",
                None,
                [P, I64, I64, P, I64, I64, P, P, P, I64, I64, I64, I64, F64, ctypes.c_int],
            ),
            ("sgp4_grid_sets", None, [I64, P, I64, P, P, P, P, I64, ctypes.c_int]),
            ("sgp4_paired", None, [I64, P, P, P, P, P, ctypes.c_int]),
            ("sgp4_record_info", None, [P, P]),
        ):
            fn = getattr(lib, name)
            fn.restype, fn.argtypes = res, args
        self.record_size = lib.sgp4_record_size()
        best = lib.sgp4_best_isa()
        self.isas = [name for name, code in ISA.items() if code <= best]

    def init(self, jd, elements, gravity="wgs72", mode="i"):
        """Records of sets with epochs jd (n, 2) and element rows (n, 9); and their statuses."""
        jd = np.ascontiguousarray(jd, dtype=np.float64).reshape(-1, 2)
        el = np.ascontiguousarray(elements, dtype=np.float64).reshape(-1, 9)
        n = len(el)
        recs = np.zeros((n, self.record_size), np.uint8)
        status = np.zeros(n, np.int32)
        self.lib.sgp4_init(n, _p(jd), _p(el), GRAVITY[gravity], mode.encode(), _p(recs), _p(status))
        return recs, status

    def info(self, rec):
        out = np.zeros(3, np.int32)
        self.lib.sgp4_record_info(_p(np.ascontiguousarray(rec)), _p(out))
        return {"family": FAMILIES[out[0]], "simple": bool(out[1]), "status": int(out[2])}

    def scalar(self, recs, t, carry=True):
        """The one-lane model on every set at every time: r, v (n, nt, 3), status (n, nt)."""
        t = np.ascontiguousarray(t, dtype=np.float64)
        n, nt = len(recs), len(t)
        r, v = np.empty((n, nt, 3)), np.empty((n, nt, 3))
        status = np.empty((n, nt), np.int32)
        self.lib.sgp4_scalar(n, _p(recs), nt, _p(t), _p(r), _p(v), _p(status), int(carry))
        return r, v, status

    def grid_times(
        self, recs, t, isa, *, sets=None, times=None, time_major=False, scale=1.0, out=None
    ):
        """propagate_grid_times over sets [s0, s1) and times [t0, t1): into fresh or given
        arrays of shape (n, nt, 3) and (n, nt), or (nt, n, 3) and (nt, n) if time_major."""
        t = np.ascontiguousarray(t, dtype=np.float64)
        n, nt = len(recs), len(t)
        s0, s1 = sets or (0, n)
        t0, t1 = times or (0, nt)
        if out is None:
            shape = (nt, n) if time_major else (n, nt)
            out = (
                np.full(shape + (3,), -1.0),
                np.full(shape + (3,), -1.0),
                np.full(shape, 255, np.uint8),
            )
        r, v, status = out
        if time_major:
            strides = (3, 3 * n, 1, n)
        else:
            strides = (3 * nt, 3, nt, 1)
        self.lib.sgp4_grid_times(
            _p(recs), s0, s1, _p(t), t0, t1, _p(r), _p(v), _p(status), *strides, scale, ISA[isa]
        )
        return r, v, status

    def grid_sets(self, recs, t, isa, chunk=64):
        t = np.ascontiguousarray(t, dtype=np.float64)
        n, nt = len(recs), len(t)
        r, v = np.full((n, nt, 3), -1.0), np.full((n, nt, 3), -1.0)
        status = np.full((n, nt), 255, np.uint8)
        self.lib.sgp4_grid_sets(n, _p(recs), nt, _p(t), _p(r), _p(v), _p(status), chunk, ISA[isa])
        return r, v, status

    def paired(self, recs, t, isa):
        """Set i at time t[i]: r, v (n, 3), status (n,)."""
        t = np.ascontiguousarray(t, dtype=np.float64)
        n = len(recs)
        r, v = np.full((n, 3), -1.0), np.full((n, 3), -1.0)
        status = np.full(n, 255, np.uint8)
        self.lib.sgp4_paired(n, _p(recs), _p(t), _p(r), _p(v), _p(status), ISA[isa])
        return r, v, status
