"""The shared test helpers: every bit-exact check in the suite is only as strict as bits()."""

import math
import struct

import numpy as np
import pytest

from tests.helpers import bits, error_line, last_line, run_python


def test_bits_tells_apart_what_differs_in_any_bit_but_a_nans():
    one_ulp_up = math.nextafter(1.0, 2.0)
    assert bits(1.0) != bits(one_ulp_up) and bits(0.0) != bits(-0.0)
    assert bits(5e-324) != bits(0.0) and bits(math.inf) != bits(-math.inf)
    assert bits(1) == bits(1.0) == bits(np.float64(1.0)) == bits(np.float32(1.0))
    quiet, payload = math.nan, struct.unpack("<d", bytes.fromhex("0100000000f8ffff"))[0]
    assert math.isnan(payload) and bits(quiet) == bits(-quiet) == bits(payload) == "nan"


def test_bits_of_an_array_lists_its_elements_in_c_order():
    a = np.asfortranarray([[1.0, -0.0], [math.nan, 2.5]])
    assert bits(a) == [bits(1.0), bits(-0.0), "nan", bits(2.5)]
    assert bits(a) == bits(a.tolist()) == bits(np.ascontiguousarray(a))
    assert bits(np.float64(2.5)) != bits([2.5])  # a scalar is not a one-element array
    assert bits((1.0, 2.0)) != bits((1.0, 2.0, 0.0))


def test_a_fresh_interpreter_finds_the_same_modules_and_gets_its_arguments():
    done = run_python(
        """
        import os, sys
        import tests.helpers, orbivex
        print(orbivex.__file__, sys.argv[1:], os.environ["ORBIVEX_HELPER_CHECK"])
        """,
        "-X",
        "dev",
        args=["a", "b c"],
        env={"ORBIVEX_HELPER_CHECK": "seen"},
    )
    import orbivex

    assert last_line(done) == f"{orbivex.__file__} ['a', 'b c'] seen"


def test_a_failure_reports_its_exception_and_a_success_is_no_failure():
    assert error_line(run_python("raise KeyError('gone')")) == "KeyError: 'gone'"
    with pytest.raises(AssertionError, match="should have failed"):
        error_line(run_python("print('fine')"))
    with pytest.raises(AssertionError, match="ZeroDivisionError"):
        last_line(run_python("1 / 0"))
