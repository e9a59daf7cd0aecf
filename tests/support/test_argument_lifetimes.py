"""Arguments stay alive for the whole call, whatever Python code the call runs does to the place
they were bound from (a function's __defaults__, the dict of keyword arguments).

Each case runs in its own interpreter with the debug allocator (-X dev), so a freed argument is
overwritten at once and a crash fails the one test instead of ending the run."""

import pytest

from tests.helpers import last_line, run_python
from tests.propagators.tle_lines import L1, L2


def run_checked(code: str) -> str:
    done = run_python(code, "-X", "dev")
    assert done.returncode == 0, done.stderr[-2000:]
    return last_line(done)


@pytest.mark.parametrize(
    "call, replacement",
    [
        ("f(X())", "(float('1.0'),)"),
        ("f(sma=X())", "None"),
    ],
)
def test_a_default_replaced_during_the_call_is_the_one_used(call, replacement):
    # The call starts with GM = 3.986004418e14; sma's __float__ replaces it mid-call.
    code = f"""
        import numbers
        from orbivex.state import coe
        f = coe.orp_from_sma
        class X:
            def __float__(self):
                f.__defaults__ = {replacement}
                return 7.0e6
        numbers.Real.register(X)
        f.__defaults__ = (float("3.986004418e14"),)
        got = {call}
        print(got == coe.orp_from_sma(7.0e6, 3.986004418e14), f.__defaults__ == {replacement})
    """
    assert run_checked(code) == "True True"


def test_calls_racing_a_thread_that_replaces_defaults_use_one_default_or_the_other():
    code = """
        import sys, threading, time
        import numpy as np
        from orbivex.state import coe
        f = coe.orp_from_sma
        sma = np.linspace(7.0e6, 4.2e7, 5000)
        expected = [f(sma, 3.986004418e14), f(sma, 1.0e14)]
        stop = False
        def flip():
            while not stop:
                # New floats each time, freed with the tuple they were replaced in.
                f.__defaults__ = (float("3.986004418e14"),)
                time.sleep(0)
                f.__defaults__ = (float("1.0e14"),)
                time.sleep(0)
        sys.setswitchinterval(1e-6)
        flipper = threading.Thread(target=flip)
        flipper.start()
        calls = mismatches = 0
        end = time.monotonic() + 1.5
        try:
            while time.monotonic() < end:
                got = f(sma)
                calls += 1
                mismatches += not any(np.array_equal(got, e) for e in expected)
        finally:
            stop = True
            flipper.join()
        print(calls > 0, mismatches)
    """
    assert run_checked(code) == "True 0"


def test_signature_racing_a_thread_that_replaces_defaults():
    code = """
        import inspect, sys, threading, time
        from orbivex.state import coe
        f = coe.orp_from_sma
        stop = False
        def flip():
            while not stop:
                f.__defaults__ = (float("2.5"),)
                time.sleep(0)
                f.__defaults__ = None
                time.sleep(0)
        sys.setswitchinterval(1e-6)
        flipper = threading.Thread(target=flip)
        flipper.start()
        seen = set()
        end = time.monotonic() + 1.5
        try:
            while time.monotonic() < end:
                seen.add(inspect.signature(f).parameters["GM"].default)
        finally:
            stop = True
            flipper.join()
        print(seen <= {2.5, inspect.Parameter.empty}, len(seen) > 0)
    """
    assert run_checked(code) == "True True"


# A hook run by the constructor reaches the dict of keyword arguments and empties it: the values
# bound from it are then held by the binder alone.
@pytest.mark.parametrize(
    "construct, expected",
    [
        (
            f"""
        from orbivex.propagators.analytical.sgp4.tle import TLE
        class Hook:
            def __bool__(self):
                empty_dicts_holding(self)
                return True
        # Lines made in the call, so the dict holds the only reference to them.
        got = TLE(**{{"line1": "".join(list({L1!r})), "line2": "".join(list({L2!r})),
                     "strict_validation": Hook()}})
        print(got.line1 == {L1!r}, got.line2 == {L2!r})
    """,
            "True True",
        ),
        (
            """
        import datetime
        from orbivex.time.time import Time
        class Hook(datetime.datetime):
            def utcoffset(self):
                empty_dicts_holding(self)
                return None
        got = Time.__new__(Time, **{"value": Hook(2024, 1, 2, 3, 4, 5)})
        print(got.jd == Time(datetime.datetime(2024, 1, 2, 3, 4, 5)).jd)
    """,
            "True",
        ),
    ],
    ids=["TLE", "Time"],
)
def test_keyword_arguments_outlive_their_dict(construct, expected):
    code = (
        """
        import gc
        def empty_dicts_holding(obj):
            for r in gc.get_referrers(obj):
                if type(r) is dict:
                    r.clear()
    """
        + construct
    )
    assert run_checked(code) == expected


@pytest.mark.parametrize("hook", ["epoch", "satno"])
def test_elset_survives_element_hooks_that_empty_its_list(hook):
    # A subclass property run while ELSET reads its elements clears every list holding them.
    code = f"""
        import gc
        from orbivex.propagators.analytical.sgp4.tle import ELSET, TLE
        class T(TLE):
            @property
            def {hook}(self):
                for holder in gc.get_referrers(self):
                    if isinstance(holder, list):
                        holder.clear()
                return TLE.{hook}.__get__(self)
        e = ELSET(T({L1!r}, {L2!r}), T({L1!r}, {L2!r}), T({L1!r}, {L2!r}))
        print(len(e.inc), e.inc[0] == TLE({L1!r}, {L2!r}).inc)
    """
    assert run_checked(code) == "3 True"
