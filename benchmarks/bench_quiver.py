"""Benchmark of quiver's norm_array and normalize_array: ns per row against a raw C++ loop over
the same kernels and against NumPy's vectorised equivalent, measured in one process."""

import ctypes
import sys
import timeit

import native_loops
import numpy as np

import orbivex.mathtools.quiver.quiver as quiver

TEXT = "PyObject *(PyObject *)"


def bind(name):
    """Binds a row kernel through its capsule (keeps the interpreter lock, as it needs)."""
    capsule = quiver.__pyx_capi__[name]
    api = ctypes.pythonapi
    api.PyCapsule_GetName.restype = ctypes.c_char_p
    api.PyCapsule_GetName.argtypes = [ctypes.py_object]
    api.PyCapsule_GetPointer.restype = ctypes.c_void_p
    api.PyCapsule_GetPointer.argtypes = [ctypes.py_object, ctypes.c_char_p]
    assert api.PyCapsule_GetName(capsule).decode() == TEXT
    ptr = api.PyCapsule_GetPointer(capsule, TEXT.encode())
    return ctypes.PYFUNCTYPE(ctypes.py_object, ctypes.py_object)(ptr)


def raw_loops():
    """quiver_loop.cpp, built with the modules' flags by the benchmark_loops target."""
    dll = native_loops.load("quiver_loop")
    for fn in (dll.loop_norm, dll.loop_normalize):
        fn.restype = None
        fn.argtypes = [ctypes.c_void_p, ctypes.c_ssize_t, ctypes.c_void_p]
    return dll


def best_ns_per_row(fn, n, repeat=7):
    number = max(1, 2_000_000 // max(n, 1))
    return min(timeit.repeat(fn, number=number, repeat=repeat)) / number / n * 1e9


def main():
    norm_array, normalize_array = bind("norm_array"), bind("normalize_array")
    rng = np.random.default_rng(1)
    dll = raw_loops()
    print(
        f"{'kernel':<16}{'N':>9}{'ours ns/row':>13}{'C++ ns/row':>12}{'NumPy ns/row':>14}"
        f"{'ours/C++':>10}{'ours/NumPy':>12}"
    )
    for n in (10, 1_000, 100_000, 1_000_000):
        a = rng.normal(size=(n, 3)) * 7e6
        out1, out3 = np.empty(n), np.empty((n, 3))
        ap, o1, o3 = a.ctypes.data, out1.ctypes.data, out3.ctypes.data
        # Same bits from every path before any timing.
        dll.loop_norm(ap, n, o1)
        dll.loop_normalize(ap, n, o3)
        assert np.array_equal(norm_array(a), out1)
        assert np.array_equal(normalize_array(a), out3)
        cases = [
            (
                "norm_array",
                lambda: norm_array(a),
                lambda: dll.loop_norm(ap, n, o1),
                lambda: np.sqrt(np.einsum("ij,ij->i", a, a)),
            ),
            (
                "normalize_array",
                lambda: normalize_array(a),
                lambda: dll.loop_normalize(ap, n, o3),
                lambda: a * (1.0 / np.sqrt(np.einsum("ij,ij->i", a, a)))[:, None],
            ),
        ]
        for name, ours, raw, vectorised in cases:
            t_ours = best_ns_per_row(ours, n)
            t_raw = best_ns_per_row(raw, n)
            t_np = best_ns_per_row(vectorised, n)
            print(
                f"{name:<16}{n:>9}{t_ours:>13.2f}{t_raw:>12.2f}{t_np:>14.2f}"
                f"{t_ours / t_raw:>10.2f}{t_ours / t_np:>12.2f}"
            )
    return 0


if __name__ == "__main__":
    sys.exit(main())
