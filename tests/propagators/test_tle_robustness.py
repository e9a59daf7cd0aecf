"""Bad input never crashes, reads out of bounds or leaks: odd lines, failures at every step."""

import gc
import sys
import tracemalloc

import pytest

from orbivex.bodies.bodies import Earth
from orbivex.propagators.analytical.sgp4.tle import ELSET, TLE

from .tle_lines import L1, L2, line1

HUGE = L1 + "7" * 10**6

ODD_LINES = [
    "",
    " ",
    "\n",
    "1",
    "\x00",
    "\x00" * 100,
    "1 25544\x00U" + "9" * 80,
    L1[:19],
    L1[:32],
    HUGE,
    " " * 10**6,
    "\t" * 500 + L1 + "\r\n" * 500,
    "-" * 69,
    "." * 70,
    "e" * 69,
    "0x" + "f" * 67,
]


@pytest.mark.parametrize("text", ODD_LINES, ids=[f"odd{i}" for i in range(len(ODD_LINES))])
def test_odd_lines_construct(text):
    t = TLE(text, text)
    stored = text.strip().upper().split("\x00")[0][:69]
    assert t.line1 == stored and t.line2 == stored
    assert len(t._get_body()) > 0
    assert isinstance(t.satno, (int, str))


@pytest.mark.parametrize("text", ["9" * 69, "7" * 10**6], ids=["nines", "sevens"])
def test_epochs_out_of_the_time_range_fail_cleanly(text):
    with pytest.raises(ValueError, match="outside"):
        TLE(text, L2)


def test_nul_inside_the_epoch_field():
    # The stored line ends at the NUL: the day field is empty.
    t = TLE(L1[:22] + "\x00" + L1[23:], L2)
    assert t.line1 == L1[:22]
    assert t.epoch.int64 == TLE(L1[:22], L2).epoch.int64


def allocated_growth(action, rounds=2000):
    """Bytes and memory blocks still allocated after `rounds` calls of `action`: the least of
    three consecutive windows, so that a one-time cache filling up is not taken for a leak, which
    shows in all. A leaked object of any size adds a block per call."""
    for _ in range(min(rounds // 10, 200)):
        action()
    growth = []
    tracemalloc.start()
    try:
        for _window in range(3):
            gc.collect()
            before = tracemalloc.get_traced_memory()[0], sys.getallocatedblocks()
            for _ in range(rounds):
                action()
            gc.collect()
            after = tracemalloc.get_traced_memory()[0], sys.getallocatedblocks()
            growth.append((after[0] - before[0], after[1] - before[1]))
    finally:
        tracemalloc.stop()
    return min(growth)


def assert_no_leak(action, rounds=2000):
    """Less than 4 bytes and half a block kept per call of `action`."""
    kept, blocks = allocated_growth(action, rounds)
    assert kept < rounds * 4, f"{kept} bytes kept after {rounds} calls"
    assert blocks < rounds // 2, f"{blocks} blocks kept after {rounds} calls"


def swallow(error, *args, **kwargs):
    def action():
        try:
            (kwargs.pop("target", None) or TLE)(*args, **kwargs)
        except error:
            pass
        else:
            raise AssertionError("expected a failure")

    return action


class Truthless:
    def __bool__(self):
        raise ValueError


def tles():
    return [TLE(line1(day=f"{100 + k:012.8f}"), L2) for k in range(3)]


CASES = {
    "tle": lambda: TLE(L1, L2),
    "tle_huge": lambda: TLE(HUGE, HUGE),
    "tle_text": lambda: TLE(L1, L2)._get_body(),
    "tle_properties": lambda: [getattr(TLE(L1, L2), n) for n in ("line1", "satno", "epoch")],
    "bad_type": swallow(TypeError, L1, 5),
    "bad_keyword": swallow(TypeError, L1, L2, bogus=1),
    "non_ascii": swallow(UnicodeEncodeError, L1, L2 + "\u00e9"),
    "truth_fails": swallow(ValueError, L1, L2, Truthless()),
    "elset": lambda: ELSET(*tles(), satname="x").ecc,
    "elset_text": lambda: ELSET(*tles())._get_header(),
    "elset_str_satno": lambda: swallow(TypeError, TLE(line1(satno="A1"), L2), target=ELSET)(),
    "elset_two_satellites": lambda: swallow(
        AssertionError, TLE(L1, L2), TLE(line1(satno="00005"), L2), target=ELSET
    )(),
    "elset_bad_name": lambda: swallow(TypeError, *tles(), satname=b"x", target=ELSET)(),
    "elset_no_epoch": lambda: swallow(AttributeError, TLE(L1, L2), 5, target=ELSET)(),
}


# A huge call makes megabytes of temporaries and takes milliseconds: any object it leaks shows as
# a block per call (a temporary also by its size), so a few calls are enough.
ROUNDS = {"tle_huge": 40}


@pytest.mark.parametrize("case", sorted(CASES))
def test_no_leaks(case):
    assert_no_leak(CASES[case], ROUNDS.get(case, 2000))


def test_earth_failure_does_not_leak(monkeypatch):
    monkeypatch.setattr(Earth, "Re", "not a number")
    assert_no_leak(swallow(TypeError, L1, L2))


def test_arguments_keep_their_reference_counts():
    a, b = L1 + " ", L2 + " "
    before = sys.getrefcount(a), sys.getrefcount(b)
    for _ in range(100):
        TLE(a, b)
        try:
            TLE(a, b, Truthless())
        except ValueError:
            pass
    assert (sys.getrefcount(a), sys.getrefcount(b)) == before
