"""Helpers of the catalogue tests: the columns, comparing catalogues column by column to the
bit, what a text's sets are, worked out in Python from the text alone, and Ctrl-C."""

import _thread
import functools
import gc
import operator
import threading
import time

import numpy as np
import pytest

# Every column a Catalog holds, in its order.
COLUMNS = (
    "satno",
    "name",
    "classification",
    "intldes",
    "epoch_ns",
    "ndot",
    "nddot",
    "bstar",
    "ephemeris_type",
    "element_number",
    "revolution",
    "inc",
    "raa",
    "ecc",
    "arp",
    "mea",
    "mnm",
    "sma",
    "orp",
    "eca",
    "tra",
    "pge",
    "apg",
    "line1",
    "line2",
    "source_line",
)
ELEMENTS = ("inc", "raa", "ecc", "arp", "mea", "mnm")
DERIVED = ("sma", "orp", "eca", "tra", "pge", "apg")
FLOATS = ("ndot", "nddot", "bstar", *ELEMENTS, *DERIVED)


def column_bits(catalog, name):
    """A column in a form that compares exactly: floats as their bit patterns."""
    values = getattr(catalog, name)
    if values.dtype == np.float64:
        return values.view(np.uint64)
    if values.dtype == object:
        return list(values)
    return values


def assert_same_columns(a, b, skip=()):
    """Equal catalogues column by column, floats to the bit (the sign of a zero too)."""
    assert len(a) == len(b)
    for name in COLUMNS:
        if name in skip:
            continue
        x, y = column_bits(a, name), column_bits(b, name)
        if isinstance(x, list):
            assert x == y, name
        else:
            assert x.dtype == y.dtype, name
            assert np.array_equal(x, y), name


def text_sets(text: str):
    """(first line, name, line 1, line 2) of each set of text written as the generator writes
    it: optional name lines ("0 NAME" or padded), each set's two lines, blank lines between."""
    sets, name, name_line = [], None, 0
    lines = text.splitlines()
    i = 0
    while i < len(lines):
        line = lines[i].rstrip()
        number = i + 1
        i += 1
        if not line:
            continue
        if line.startswith("1 ") and len(line) == 69:
            line2 = lines[i].rstrip()
            i += 1
            sets.append((name_line or number, name, line, line2))
            name, name_line = None, 0
        else:
            name, name_line = line.removeprefix("0 "), number
    return sets


def in_catalogue_order(sets, satno, epoch):
    """The sets sorted by satellite, then epoch, stably: Python's own stable sort."""
    return sorted(sets, key=lambda s: (satno(s), epoch(s)))


# Since 3.12 the interpreter's signal check may run the cycle collector before the handlers; a
# finalizer it runs then takes the KeyboardInterrupt, which is printed and not raised. These
# tests collect first, so that no finalizer is left to run.


def assert_pending_interrupt_ends(call):
    """A Ctrl-C already pending when `call` starts is answered by it: the call after it in the
    same C-level loop never runs."""
    done = []
    steps = [_thread.interrupt_main, call, functools.partial(done.append, 1)]
    gc.collect()
    with pytest.raises(KeyboardInterrupt):
        list(map(operator.call, steps))
    assert done == []


def assert_interrupt_ends_early(call):
    """A Ctrl-C that arrives a tenth of the way into `call` ends it well before its time."""
    gc.collect()
    start = time.perf_counter()
    call()
    whole = time.perf_counter() - start
    timer = threading.Timer(whole / 10, _thread.interrupt_main)
    gc.collect()
    start = time.perf_counter()
    timer.start()
    try:
        with pytest.raises(KeyboardInterrupt):
            call()
        assert time.perf_counter() - start < whole * 0.8
    finally:
        timer.join()
