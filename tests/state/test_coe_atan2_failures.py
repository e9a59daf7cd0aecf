"""A failure reported by atan2_asymmetric reaches the caller of every coe function that can see
one. A fresh interpreter substitutes orbivex.mathtools.misc.misc with the test-only module
orbivex._testing.testing_atan2, which can be armed to fail on a chosen call."""

import json

import pytest

from tests.helpers import last_line, run_python
from tests.state import coe_catalogue as cat

WORKER = r"""
import ctypes, gc, json, sys, tracemalloc, types
from orbivex._testing import testing_atan2 as t
stand_in = types.ModuleType("orbivex.mathtools.misc.misc")
stand_in.__pyx_capi__ = t.__pyx_capi__
sys.modules["orbivex.mathtools.misc.misc"] = stand_in
import numpy as np
import orbivex.state.coe as coe
from tests.state.coe_catalogue import BOUND_ANOMALY

class Injected(Exception):
    pass

x5 = np.array([0.3, 1.1, 2.0, 4.0, 5.5])
e5 = np.array([0.1, 0.2, 0.3, 0.4, 0.5])
r3 = np.array([[7e6, 1e5, 3e4], [7.1e6, 2e5, 1e4], [6.9e6, -1e5, 5e4]])
v3 = np.array([[10.0, 7500.0, 900.0], [-20.0, 7400.0, 800.0], [30.0, 7600.0, -700.0]])
results = {}

def outcome(call):
    try:
        out = call()
    except Injected as e:
        return ["raised", str(e), t.calls()]
    except BaseException as e:
        return ["other", f"{type(e).__name__}: {e}"]
    return ["returned", np.asarray(out).tolist() if not isinstance(out, float) else out]

def failing(name, call, n, value):
    t.fail_after(n, Injected, value)
    results[name] = outcome(call)
    t.disarm()
    results[name + "/after"] = outcome(call)  # nothing stale: the next call is ordinary

CALLS = {
    "scalar": (lambda f: lambda: f(0.7, 0.1), 1),
    "array-first": (lambda f: lambda: f(x5, 0.1), 1),
    "array-later": (lambda f: lambda: f(x5, 0.1), 4),
    "ecc-array": (lambda f: lambda: f(0.7, e5), 3),
    "both-arrays": (lambda f: lambda: f(x5, e5), 5),
    "subclass": (lambda f: lambda: f(x5.view(type("Sub", (np.ndarray,), {})), 0.2), 2),
}
for fname in BOUND_ANOMALY:
    for kind, (make, n) in CALLS.items():
        for value in (0.5, -1.0):
            failing(f"{fname}/{kind}/{value}", make(getattr(coe, fname)), n, value)
for n in (1, 2, 3, 7):
    failing(f"coe_from_sv/{n}", lambda: coe.coe_from_sv(r3, v3), n, 0.5)

# Ordinary -1.0 results, with nothing pending, are results.
def returning(name, call, n):
    t.return_after(n, -1.0)
    results[name] = outcome(call)
    t.disarm()
returning("plain/scalar", lambda: coe.tra_from_eca(0.7, 0.1), 1)
returning("plain/array", lambda: coe.tra_from_eca(x5, 0.1), 2)
returning("plain/mea_from_tra", lambda: coe.mea_from_tra(x5, 0.3), 3)
returning("plain/coe_from_sv", lambda: coe.coe_from_sv(r3, v3)["raa"], 4)
results["expect/mea_from_eca"] = coe.mea_from_eca(-1.0, 0.3)

# The exported entries leave the failure pending and return -1.0.
api = ctypes.pythonapi
api.PyCapsule_GetPointer.restype = ctypes.c_void_p
api.PyCapsule_GetPointer.argtypes = [ctypes.py_object, ctypes.c_char_p]
text = "double (double const , double const )"
ptr = api.PyCapsule_GetPointer(coe.__pyx_capi__["c_tra_from_eca"], text.encode())
c_tra_from_eca = ctypes.PYFUNCTYPE(ctypes.c_double, ctypes.c_double, ctypes.c_double)(ptr)
t.fail_after(1, Injected, 0.5)
results["exported"] = outcome(lambda: c_tra_from_eca(0.7, 0.1))
t.disarm()

# No references or memory kept by the failure paths.
before = [sys.getrefcount(x) for x in (x5, e5, r3, v3)]
def churn():
    for i in range(400):
        for f in (coe.eca_from_tra, coe.mea_from_tra):
            t.fail_after(1 + i % 5, Injected)
            try:
                f(x5, e5)
            except Injected:
                pass
        t.fail_after(1 + i % 9, Injected)
        try:
            coe.coe_from_sv(r3, v3)
        except Injected:
            pass
    t.disarm()
churn()
gc.collect()
tracemalloc.start()
snap = tracemalloc.take_snapshot()
churn()
gc.collect()
grown = sum(s.size_diff for s in tracemalloc.take_snapshot().compare_to(snap, "filename"))
results["refcounts"] = [before, [sys.getrefcount(x) for x in (x5, e5, r3, v3)]]
results["grown"] = grown
print(json.dumps(results))
"""


@pytest.fixture(scope="module")
def results():
    done = run_python(WORKER, timeout=300)
    return json.loads(last_line(done))


FUNCTIONS = cat.BOUND_ANOMALY
KINDS = {
    "scalar": 1,
    "array-first": 1,
    "array-later": 4,
    "ecc-array": 3,
    "both-arrays": 5,
    "subclass": 2,
}


@pytest.mark.parametrize("value", [0.5, -1.0])
@pytest.mark.parametrize("kind", KINDS)
@pytest.mark.parametrize("fname", FUNCTIONS)
def test_failure_reaches_the_caller(results, fname, kind, value):
    key = f"{fname}/{kind}/{value}"
    # Raised at the armed call: the loop stopped there and returned nothing.
    assert results[key] == ["raised", "injected failure of atan2_asymmetric", KINDS[kind]]
    assert results[key + "/after"][0] == "returned"


@pytest.mark.parametrize("n", [1, 2, 3, 7])
def test_state_vector_failure_at_each_angle_and_a_later_row(results, n):
    assert results[f"coe_from_sv/{n}"] == ["raised", "injected failure of atan2_asymmetric", n]
    assert results[f"coe_from_sv/{n}/after"][0] == "returned"


def test_plain_minus_one_is_a_result(results):
    assert results["plain/scalar"] == ["returned", -1.0]
    assert results["plain/array"][0] == "returned" and results["plain/array"][1][1] == -1.0
    assert results["plain/mea_from_tra"][1][2] == results["expect/mea_from_eca"]
    assert results["plain/coe_from_sv"][1][1] == -1.0  # row 2's raa, the 4th angle computed


def test_exported_entry_leaves_the_failure_pending(results):
    assert results["exported"][:2] == ["raised", "injected failure of atan2_asymmetric"]


def test_failure_paths_keep_no_references_or_memory(results):
    before, after = results["refcounts"]
    assert before == after
    assert results["grown"] < 20_000
