"""Signals during the array loops of orbivex.state.coe: handlers run within a long call, and a
KeyboardInterrupt ends it without a result or a leak."""

import pytest

from tests.helpers import last_line, run_python

# A timer signal every 10 ms. A loop that never looks for signals runs the handler at most once,
# after it returns (a pending signal is a flag, not a count); so a handler that has run three
# times has run within the call. The third run raises KeyboardInterrupt, as Ctrl-C does.
SCRIPT = """
import signal, sys, tracemalloc
import numpy as np
import orbivex.state.coe as coe

class Plain(np.ndarray):
    pass

rng = np.random.default_rng(5)
N = 1_000_000
mea = rng.uniform(0.0, 6.2, N)
r = rng.normal(size=(N, 3)) * 7e6
v = rng.normal(size=(N, 3)) * 5e3
CALLS = {{
    "eca_from_mea": lambda: (coe.eca_from_mea, (mea, 0.9)),
    "tra_from_mea general": lambda: (coe.tra_from_mea, (mea.view(Plain)[: N // 4], 0.3)),
    "coe_from_sv": lambda: (coe.coe_from_sv, (r, v)),
    "coe_from_sv general": lambda: (coe.coe_from_sv, (r[: N // 4].astype(np.float32), v[: N // 4])),
    "sv_from_coe": lambda: (coe.sv_from_coe, (np.resize(coe.coe_from_sv(r[:99], v[:99]), N),)),
}}
f, args = CALLS[{name!r}]()
runs = 0
raise_on = {raise_on}

def handler(signum, frame):
    global runs
    runs += 1
    if runs == raise_on:
        raise KeyboardInterrupt

signal.signal(signal.SIGALRM, handler)
quiet = f(*args) if raise_on == 0 else None
refs = [sys.getrefcount(a) for a in args]
tracemalloc.start()
before = tracemalloc.get_traced_memory()[0]
signal.setitimer(signal.ITIMER_REAL, 0.01, 0.01)
result = None
try:
    result = f(*args)
    outcome = "returned"
except KeyboardInterrupt:
    outcome = "interrupted"
signal.setitimer(signal.ITIMER_REAL, 0, 0)
runs_in_call = runs
as_tuple = lambda x: x if isinstance(x, tuple) else (x,)
same = quiet is not None and all(
    a.tobytes() == b.tobytes() for a, b in zip(as_tuple(quiet), as_tuple(result)))
no_result = result is None
del result
grown = tracemalloc.get_traced_memory()[0] - before
print(outcome, runs_in_call >= 3, no_result, grown < 100_000,
      refs == [sys.getrefcount(a) for a in args], same)
"""

NAMES = [
    "eca_from_mea",
    "tra_from_mea general",
    "coe_from_sv",
    "coe_from_sv general",
    "sv_from_coe",
]


@pytest.mark.parametrize("name", NAMES)
def test_keyboard_interrupt_ends_a_long_call(name):
    done = run_python(SCRIPT.format(name=name, raise_on=3))
    assert last_line(done) == "interrupted True True True True False", done.stderr


@pytest.mark.parametrize("name", ["eca_from_mea", "coe_from_sv", "sv_from_coe"])
def test_handlers_that_return_leave_the_result_unchanged(name):
    done = run_python(SCRIPT.format(name=name, raise_on=0))
    assert last_line(done) == "returned True False True True True", done.stderr
